#pragma once
// A small stand-in for the desktop toolkit's alert panel: a headline (message
// text), a body (informative text), a style and buttons in the order they were
// added. runModal() blocks until the user picks a button and answers 1000 for
// the first button, 1001 for the second, and so on.
//
// On Linux the alert is shown by a presenter: by default a GTK message dialog
// when a display can be opened, otherwise the alert is written to standard
// error and the first (default) button is taken. Tests install their own
// presenter to see the alert and to script the answer.
#include <functional>
#include <string>
#include <vector>

namespace appkit {

enum class AlertStyle : int {
    Warning = 0,
    Informational = 1,
    Critical = 2,
};

constexpr int kAlertFirstButtonReturn = 1000;
constexpr int kAlertSecondButtonReturn = 1001;

class Alert {
public:
    void setMessageText(std::string text) { messageText_ = std::move(text); }
    void setInformativeText(std::string text) { informativeText_ = std::move(text); }
    void setAlertStyle(AlertStyle style) { style_ = style; }
    // Buttons are numbered in the order they are added; the first is the default.
    void addButtonWithTitle(std::string title) { buttons_.push_back(std::move(title)); }

    const std::string& messageText() const { return messageText_; }
    const std::string& informativeText() const { return informativeText_; }
    AlertStyle alertStyle() const { return style_; }
    const std::vector<std::string>& buttons() const { return buttons_; }

    // An alert without buttons gets a single "OK" first, as the real panel does.
    int runModal();

private:
    std::string messageText_;
    std::string informativeText_;
    AlertStyle style_ = AlertStyle::Warning;
    std::vector<std::string> buttons_;
};

// Shows the alert and returns the response (1000 + index of the button pressed,
// or any other value when the alert was closed without a button).
using AlertPresenter = std::function<int(const Alert&)>;

// Replaces the presenter for the whole process; an empty function restores the
// default one. Returns the presenter that was in place.
AlertPresenter setAlertPresenter(AlertPresenter presenter);

// The default presenters, usable directly.
int presentAlertWithGtk(const Alert& alert);   // falls back to standard error without a display
int presentAlertOnStderr(const Alert& alert);

// Installs a presenter for the lifetime of the object and puts the previous one back.
class ScopedAlertPresenter {
public:
    explicit ScopedAlertPresenter(AlertPresenter presenter)
        : previous_(setAlertPresenter(std::move(presenter))) {}
    ~ScopedAlertPresenter() { setAlertPresenter(std::move(previous_)); }
    ScopedAlertPresenter(const ScopedAlertPresenter&) = delete;
    ScopedAlertPresenter& operator=(const ScopedAlertPresenter&) = delete;

private:
    AlertPresenter previous_;
};

}  // namespace appkit
