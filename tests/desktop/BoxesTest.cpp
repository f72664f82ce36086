// Message boxes: the mapping tables, the texts that reach the presenter, the
// real GTK dialog and the standard-error fallback, and the modal session.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>
#include <gtk/gtk.h>

#include <chrono>
#include <thread>

#include "DesktopTestEnv.h"
#include "desktop/boxer_osx.h"

using namespace quillane::test;
using appkit::AlertStyle;

TEST(Boxes, StyleTable) {
    EXPECT_EQ(getAlertStyle(BoxStyle::Info), AlertStyle::Informational);
    EXPECT_EQ(getAlertStyle(BoxStyle::Warning), AlertStyle::Warning);
    EXPECT_EQ(getAlertStyle(BoxStyle::Error), AlertStyle::Critical);
    EXPECT_EQ(getAlertStyle(BoxStyle::Question), AlertStyle::Warning);
    EXPECT_EQ(getAlertStyle(static_cast<BoxStyle>(4)), AlertStyle::Informational);
    EXPECT_EQ(getAlertStyle(static_cast<BoxStyle>(-1)), AlertStyle::Informational);
}

TEST(Boxes, ButtonAndSelectionTables) {
    const auto buttonsOf = [](BoxButtons buttons) {
        appkit::Alert alert;
        setButtons(alert, buttons);
        return alert.buttons();
    };
    using Titles = std::vector<std::string>;
    EXPECT_EQ(buttonsOf(BoxButtons::OK), Titles{"OK"});
    EXPECT_EQ(buttonsOf(BoxButtons::OKCancel), (Titles{"OK", "Cancel"}));
    EXPECT_EQ(buttonsOf(BoxButtons::YesNo), (Titles{"Yes", "No"}));
    EXPECT_EQ(buttonsOf(static_cast<BoxButtons>(3)), Titles{"OK"});

    struct Row {
        BoxButtons buttons;
        int response;
        BoxSelection expected;
    };
    const Row rows[] = {
        {BoxButtons::OK, 1000, BoxSelection::OK},           {BoxButtons::OK, 1001, BoxSelection::None},
        {BoxButtons::OKCancel, 1000, BoxSelection::OK},     {BoxButtons::OKCancel, 1001, BoxSelection::Cancel},
        {BoxButtons::OKCancel, 0, BoxSelection::None},      {BoxButtons::YesNo, 1000, BoxSelection::Yes},
        {BoxButtons::YesNo, 1001, BoxSelection::No},        {BoxButtons::YesNo, 1002, BoxSelection::None},
        {static_cast<BoxButtons>(3), 1000, BoxSelection::None},
    };
    for (const Row& row : rows)
        EXPECT_EQ(getSelection(row.response, row.buttons), row.expected)
            << "buttons " << static_cast<int>(row.buttons) << " response " << row.response;
}

TEST(Boxes, ShowBoxHandsTheExactTextsToThePresenterAndMapsTheAnswer) {
    BoxRecorder boxes;
    const char* message = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x94 line one\nline two";
    EXPECT_EQ(showBox(message, "T\xC3\xADtulo", BoxStyle::Error, BoxButtons::OK), BoxSelection::OK);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].messageText, "T\xC3\xADtulo");  // the title is the headline
    EXPECT_EQ(boxes.boxes[0].informativeText, message);
    EXPECT_EQ(boxes.boxes[0].style, AlertStyle::Critical);

    boxes.answer = appkit::kAlertSecondButtonReturn;
    EXPECT_EQ(showBox("m", "t", BoxStyle::Question, BoxButtons::YesNo), BoxSelection::No);
    EXPECT_EQ(boxes.boxes.back().buttons, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_EQ(showBox("m", "t", BoxStyle::Info, BoxButtons::OKCancel), BoxSelection::Cancel);
    boxes.answer = -4;  // closed without a button
    EXPECT_EQ(showBox("m", "t", BoxStyle::Info, BoxButtons::OKCancel), BoxSelection::None);
    EXPECT_EQ(showBox(nullptr, nullptr, BoxStyle::Info, BoxButtons::OK), BoxSelection::None);
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

    calls = 0;
    enableWindowMAC(nullptr, false, [&] { return ++calls, false; });
    EXPECT_EQ(calls, 1);

    // The stop form and an empty step do nothing.
    enableWindowMAC(nullptr, true, [&] { return ++calls, false; });
    enableWindowMAC(nullptr, false, {});
    EXPECT_EQ(calls, 1);
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
