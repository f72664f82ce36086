// Message boxes: what reaches the presenter and what comes back, the real GTK
// dialog and the standard-error fallback, and the modal session.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>
#include <gtk/gtk.h>

#include <chrono>
#include <thread>

#include "DesktopTestEnv.h"
#include "desktop/boxer_osx.h"

using namespace quillane::test;
using appkit::AlertStyle;
using Titles = std::vector<std::string>;

TEST(Boxes, StylesButtonsAndAnswersThroughThePresenter) {
    struct Row {
        int style, buttons, answer;
        AlertStyle shownStyle;
        Titles shownButtons;
        BoxSelection result;
    };
    const Row rows[] = {
        {0, 0, 1000, AlertStyle::Informational, {"OK"}, BoxSelection::OK},
        {1, 0, 1001, AlertStyle::Warning, {"OK"}, BoxSelection::None},
        {2, 1, 1000, AlertStyle::Critical, {"OK", "Cancel"}, BoxSelection::OK},
        {3, 1, 1001, AlertStyle::Warning, {"OK", "Cancel"}, BoxSelection::Cancel},
        {4, 1, -4, AlertStyle::Informational, {"OK", "Cancel"}, BoxSelection::None},  // closed without a button
        {-1, 2, 1000, AlertStyle::Informational, {"Yes", "No"}, BoxSelection::Yes},
        {2, 2, 1001, AlertStyle::Critical, {"Yes", "No"}, BoxSelection::No},
        {2, 2, 1002, AlertStyle::Critical, {"Yes", "No"}, BoxSelection::None},
        {2, 3, 1000, AlertStyle::Critical, {"OK"}, BoxSelection::None},  // unknown button set
    };
    BoxRecorder boxes;
    for (const Row& row : rows) {
        boxes.answer = row.answer;
        EXPECT_EQ(showBox("m", "t", static_cast<BoxStyle>(row.style), static_cast<BoxButtons>(row.buttons)),
                  row.result);
        EXPECT_EQ(boxes.boxes.back().style, row.shownStyle) << "style " << row.style;
        EXPECT_EQ(boxes.boxes.back().buttons, row.shownButtons) << "buttons " << row.buttons;
    }

    // The title is the headline, the message the body; UTF-8 arrives intact.
    const char* message = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x94 line one\nline two";
    showBox(message, "T\xC3\xADtulo", BoxStyle::Error, BoxButtons::OK);
    EXPECT_EQ(boxes.boxes.back().messageText, "T\xC3\xADtulo");
    EXPECT_EQ(boxes.boxes.back().informativeText, message);
    showBox(nullptr, nullptr, BoxStyle::Info, BoxButtons::OK);
    EXPECT_EQ(boxes.boxes.back().messageText, "");
}

TEST(Boxes, WithoutADisplayTheBoxGoesToStandardError) {
    ScopedEnv noDisplay("DISPLAY", std::nullopt);
    ScopedEnv noWayland("WAYLAND_DISPLAY", std::nullopt);
    testing::internal::CaptureStderr();
    const BoxSelection answer = showBox("Something failed", "Error in Quillane Plug-in", BoxStyle::Error,
                                        BoxButtons::OKCancel);
    const std::string err = testing::internal::GetCapturedStderr();
    if (gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "GTK was initialised with a display earlier";
    EXPECT_EQ(answer, BoxSelection::OK);
    EXPECT_EQ(err, "[critical] Error in Quillane Plug-in\nSomething failed\n[OK] [Cancel] -> OK\n");
}

namespace {
// Presses the second button of the first message dialog that shows up.
gboolean answerDialog(gpointer seen) {
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w != nullptr; w = w->next) {
        if (!GTK_IS_MESSAGE_DIALOG(w->data) || !gtk_widget_get_visible(GTK_WIDGET(w->data))) continue;
        gchar* text = nullptr;
        gchar* secondary = nullptr;
        g_object_get(w->data, "text", &text, "secondary-text", &secondary, nullptr);
        *static_cast<std::string*>(seen) = std::string(text ? text : "") + "|" + (secondary ? secondary : "");
        g_free(text);
        g_free(secondary);
        gtk_dialog_response(GTK_DIALOG(w->data), appkit::kAlertSecondButtonReturn);
        g_list_free(windows);
        return G_SOURCE_REMOVE;
    }
    g_list_free(windows);
    return G_SOURCE_CONTINUE;
}
}  // namespace

TEST(Boxes, RealDialogUnderADisplay) {
    if (std::getenv("DISPLAY") == nullptr || !gtk_init_check(nullptr, nullptr))
        GTEST_SKIP() << "no display";
    std::string seen;
    g_timeout_add(50, &answerDialog, &seen);
    EXPECT_EQ(showBox("Body \xE2\x9C\x93", "Headline", BoxStyle::Question, BoxButtons::YesNo), BoxSelection::No);
    EXPECT_EQ(seen, "Headline|Body \xE2\x9C\x93");
}

TEST(ModalSession, RunsTurnsUntilTheStepSaysStop) {
    int calls = 0;
    enableWindowMAC(nullptr, false, [&] { return ++calls < 3; });
    EXPECT_EQ(calls, 3);
    enableWindowMAC(nullptr, false, [&] { return ++calls, false; });  // one turn even so
    EXPECT_EQ(calls, 4);

    // The stop form never calls the step; an empty step runs no session.
    enableWindowMAC(nullptr, true, [&] { return ++calls, false; });
    enableWindowMAC(nullptr, false, {});
    EXPECT_EQ(calls, 4);
}

TEST(ModalSession, TurnsDeliverTheWindowsEvents) {
    if (std::getenv("DISPLAY") == nullptr || !glfwInit()) GTEST_SKIP() << "no display";
    GLFWwindow* window = glfwCreateWindow(64, 64, "session", nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    static bool resized;
    resized = false;
    glfwSetWindowSizeCallback(window, [](GLFWwindow*, int w, int h) { resized = resized || (w == 200 && h == 150); });
    glfwSetWindowSize(window, 200, 150);
    // The size event only reaches the callback through the session's turns.
    int calls = 0;
    enableWindowMAC(window, false, [&] {
        if (resized || ++calls > 500) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return true;
    });
    EXPECT_TRUE(resized);
    glfwDestroyWindow(window);
    // No glfwTerminate: it unloads the GL driver, whose process-lifetime allocations
    // would then show up as leaks of an unknown module under the leak checker.
}
