#include "platform/appkit/Alert.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <memory>
#include <utility>

namespace appkit {
namespace {

AlertPresenter& currentPresenter() {
    static AlertPresenter presenter;
    return presenter;
}

const char* styleWord(AlertStyle style) {
    switch (style) {
    case AlertStyle::Critical: return "critical";
    case AlertStyle::Warning: return "warning";
    case AlertStyle::Informational: return "information";
    }
    return "information";
}

// GTK wants valid UTF-8; a stray byte would make it drop the whole text.
std::string validUtf8(const std::string& text) {
    std::unique_ptr<gchar, decltype(&g_free)> valid(
        g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())), &g_free);
    return valid ? std::string(valid.get()) : std::string();
}

bool haveDisplay() {
    // Once GTK is up it stays up; without a display it is asked again next time,
    // since a display may have come since.
    static bool ok = false;
    if (!ok) ok = gtk_init_check(nullptr, nullptr);
    return ok;
}

}  // namespace

int Alert::runModal() {
    if (buttons_.empty()) addButtonWithTitle("OK");
    const AlertPresenter& presenter = currentPresenter();
    return presenter ? presenter(*this) : presentAlertWithGtk(*this);
}

AlertPresenter setAlertPresenter(AlertPresenter presenter) {
    return std::exchange(currentPresenter(), std::move(presenter));
}

int presentAlertOnStderr(const Alert& alert) {
    // Nobody can press a button: the default (first) button answers.
    std::fprintf(stderr, "[%s] %s\n%s\n", styleWord(alert.alertStyle()), alert.messageText().c_str(),
                 alert.informativeText().c_str());
    for (std::size_t i = 0; i < alert.buttons().size(); ++i)
        std::fprintf(stderr, "%s[%s]", i ? " " : "", alert.buttons()[i].c_str());
    std::fprintf(stderr, " -> %s\n", alert.buttons().empty() ? "" : alert.buttons().front().c_str());
    std::fflush(stderr);
    return kAlertFirstButtonReturn;
}

int presentAlertWithGtk(const Alert& alert) {
    if (!haveDisplay()) return presentAlertOnStderr(alert);

    GtkMessageType type = GTK_MESSAGE_INFO;
    if (alert.alertStyle() == AlertStyle::Warning) type = GTK_MESSAGE_WARNING;
    if (alert.alertStyle() == AlertStyle::Critical) type = GTK_MESSAGE_ERROR;

    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s",
                                               validUtf8(alert.messageText()).c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                             validUtf8(alert.informativeText()).c_str());
    for (std::size_t i = 0; i < alert.buttons().size(); ++i)
        gtk_dialog_add_button(GTK_DIALOG(dialog), validUtf8(alert.buttons()[i]).c_str(),
                              kAlertFirstButtonReturn + static_cast<int>(i));
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kAlertFirstButtonReturn);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);

    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    // Let the dialog disappear before the caller goes on.
    while (gtk_events_pending()) gtk_main_iteration();
    // Closing the window (Escape, window manager) is no button: the caller maps it to "none".
    return response >= kAlertFirstButtonReturn ? response : 0;
}

}  // namespace appkit
