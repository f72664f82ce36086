#pragma once
// Native message boxes and the modal session in which the LUT Manager's window
// runs inside the host application.
#include <functional>

#include "platform/appkit/Alert.h"

struct GLFWwindow;

enum class BoxStyle : int { Info = 0, Warning = 1, Error = 2, Question = 3 };

// Buttons in the order they are shown; the first is the default button.
enum class BoxButtons : int { OK = 0, OKCancel = 1, YesNo = 2 };

enum class BoxSelection : int { OK = 0, Cancel = 1, Yes = 2, No = 3, None = 4 };

// Passed unchanged as the mode of access().
enum class AccessKind : int { Exists = 0, Execute = 1, Write = 2, Read = 4 };

// Shows one application-modal box and returns when a button is pressed.
// The title is the bold headline, the message the body below it: note the
// order, message first. Both texts are UTF-8.
BoxSelection showBox(const char* message, const char* title, BoxStyle style, BoxButtons buttons);

appkit::AlertStyle getAlertStyle(BoxStyle style);
void setButtons(appkit::Alert& alert, BoxButtons buttons);
BoxSelection getSelection(int response, BoxButtons buttons);

// stop false: runs a modal session for window (null: the application's main
// window): each turn handles the pending events and then calls step, until
// step returns false. An empty step runs no session.
// stop true: asks the application to leave its modal run and returns at once;
// step is not called.
void enableWindowMAC(GLFWwindow* window, bool stop, std::function<bool()> step);

bool isPathAccessibleFunc(const char* path, AccessKind kind);
