// The account form of the online library: e-mail and password boxes with a
// Login button for a guest, the signed-in e-mail with an Exit button for a
// user. It takes the place of the grid below the toolbar.
#include <nanogui/label.h>
#include <nanogui/layout.h>

#include <string>

#include "desktop/Settings.h"
#include "gallery/GalleryOnline.h"
#include "gallery/LutGallery.h"
#include "gallery/toolkit/Toolkit.h"
#include "online/OnlineAPI.h"

namespace {

constexpr int kStatusFontSize = 21;

// A box with its label above it, a third of the window wide.
nanogui::LutTextBox* labelledBox(nanogui::Widget* parent, int windowWidth, const char* label, bool password) {
    using namespace nanogui;
    auto* column = new Widget(parent);
    column->setFixedWidth(windowWidth / 3);
    column->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Fill, 10, 10));
    new Label(column, label, "sans");
    auto* box = new LutTextBox(column, "", password);
    box->setEditable(true);
    return box;
}

}  // namespace

void LutGallery::loginForm() {
    using namespace nanogui;
    if (!screen || !window || !api) return;

    // A stored account signs a guest in first, unless the service refused it before.
    const std::string caption = signInBeforeListing(*api);
    if (!caption.empty() && accountLabel) accountLabel->setCaption(caption);

    window->setFixedSize(screen->size());
    if (pathBox && !paths.empty()) pathBox->setValue(paths[0]);
    // The items of the last grid stay known: a LUT picked there is still delivered on close.
    clearPage();
    progressBar = nullptr;
    loadingLabel = nullptr;
    loadingColumn = nullptr;
    // The grid is gone: the folder in the path box must list again when asked.
    forgetShownFolder();

    auto* row = new Widget(window);
    row->setLayout(new BoxLayout(Orientation::Horizontal, Alignment::Fill, 10, 10));
    row->setFixedWidth(window->width());
    auto* column = new Widget(row);
    column->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Middle, 10, 10));
    column->setFixedWidth(window->width());

    if (api->isAuth()) {
        new Label(column, "E-Mail: " + api->getEmail(), "sans");
        auto* exit = new LutButton(column, "Exit");
        // Run after the click: the form is rebuilt.
        exit->setCallback([this] {
            afterEventOnPage([this] {
                try {
                    api->login("", "");
                    saveLoginPassword("", "");
                    loginForm();
                    if (accountLabel) accountLabel->setCaption(accountCaption(*api));
                    nanogui::drawall();
                } catch (...) {
                }
            });
        });
    } else {
        const int width = window->width();
        LutTextBox* emailBox = labelledBox(column, width, "E-Mail: ", false);
        LutTextBox* passwordBox = labelledBox(column, width, "Password: ", true);
        auto* login = new LutButton(column, "Login");
        login->setFixedWidth(width / 3);
        auto* status = new Label(passwordBox->parent(), "", "sans", kStatusFontSize);
        // Run after the click: a log-in rebuilds the form (the boxes and the
        // label live as long as the form, which the page check makes sure of).
        login->setCallback([this, emailBox, passwordBox, status] {
            afterEventOnPage([this, emailBox, passwordBox, status] {
                try {
                    // Ends an edit in progress: a text box commits its text when it loses the focus.
                    status->requestFocus();
                    status->setCaption("");
                    nanogui::drawall();
                    const std::string email = emailBox->value(), password = passwordBox->value();
                    LoginGate& gate = accountFormGate();
                    if (const std::optional<int> held = gate.heldBackCode(email, password)) {
                        status->setCaption(OnlineAPI::getLoginError(*held));
                        nanogui::drawall();
                        return;
                    }
                    const int code = api->login(email.c_str(), password.c_str());
                    gate.noteSent(email, password, code);
                    // A code of 0, or a bare code, signs nobody in: nothing is stored, and the
                    // status line must not read "Success!".
                    const bool signedIn = code >= 0 && LoginGate::shouldSaveCredentials(*api);
                    status->setCaption(
                        OnlineAPI::getLoginError(code < 0 || signedIn ? code : OnlineAPI::kLoginUnusable));
                    if (screen) screen->performLayout();
                    nanogui::drawall();
                    if (!signedIn) return;
                    noteFormLogin();
                    saveLoginPassword(email, password);
                    if (accountLabel) accountLabel->setCaption(accountCaption(*api));
                    loginForm();
                } catch (...) {
                }
            });
        });
    }
    screen->performLayout();
}
