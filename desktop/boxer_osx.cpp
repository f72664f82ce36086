#include "desktop/boxer_osx.h"

#include <unistd.h>

#include "lut/TextForPeople.h"
#include "platform/appkit/ModalSession.h"

appkit::AlertStyle getAlertStyle(BoxStyle style) {
    static const appkit::AlertStyle styles[] = {
        appkit::AlertStyle::Warning,   // Warning
        appkit::AlertStyle::Critical,  // Error
        appkit::AlertStyle::Warning,   // Question
    };
    const int index = static_cast<int>(style) - 1;
    if (index < 0 || index > 2) return appkit::AlertStyle::Informational;
    return styles[index];
}

void setButtons(appkit::Alert& alert, BoxButtons buttons) {
    switch (buttons) {
    case BoxButtons::OKCancel:
        alert.addButtonWithTitle("OK");
        alert.addButtonWithTitle("Cancel");
        break;
    case BoxButtons::YesNo:
        alert.addButtonWithTitle("Yes");
        alert.addButtonWithTitle("No");
        break;
    case BoxButtons::OK:
    default:
        alert.addButtonWithTitle("OK");
        break;
    }
}

BoxSelection getSelection(int response, BoxButtons buttons) {
    const bool first = response == appkit::kAlertFirstButtonReturn;
    const bool second = response == appkit::kAlertSecondButtonReturn;
    switch (buttons) {
    case BoxButtons::OK:
        if (first) return BoxSelection::OK;
        break;
    case BoxButtons::OKCancel:
        if (first) return BoxSelection::OK;
        if (second) return BoxSelection::Cancel;
        break;
    case BoxButtons::YesNo:
        if (first) return BoxSelection::Yes;
        if (second) return BoxSelection::No;
        break;
    }
    return BoxSelection::None;
}

BoxSelection showBox(const char* message, const char* title, BoxStyle style, BoxButtons buttons) {
    appkit::Alert alert;
    // Box texts carry names from outside (files, the online library).
    alert.setMessageText(escapeControls(title ? title : ""));
    alert.setInformativeText(escapeControls(message ? message : "", true));
    alert.setAlertStyle(getAlertStyle(style));
    setButtons(alert, buttons);
    return getSelection(alert.runModal(), buttons);
}

void enableWindowMAC(GLFWwindow* /*window: every window's events are handled*/, bool stop,
                     std::function<bool()> step) {
    if (stop) {
        appkit::abortModal();
        return;
    }
    // An empty step would throw on the first turn with the session still open.
    if (!step) return;
    do {
        appkit::runModalSessionTurn();
    } while (step());
}

bool isPathAccessibleFunc(const char* path, AccessKind kind) {
    return path != nullptr && access(path, static_cast<int>(kind)) == 0;
}
