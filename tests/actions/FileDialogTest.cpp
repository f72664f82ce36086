// The file dialog stand-in: filter lists, scripted answers (in the process
// and through the environment), no display, and the real GTK chooser under
// Xvfb driven from inside its own loop.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../desktop/DesktopTestEnv.h"
#include "platform/nfd/nfd.h"

namespace {

using quillane::test::ScopedEnv;
using quillane::test::TempDir;
using Groups = std::vector<std::vector<std::string>>;

// Runs first: once GTK is up in a process it stays up.
TEST(ActionsFileDialog, WithoutADisplayTheDialogAnswersError) {
    ScopedEnv display("DISPLAY", std::nullopt);
    ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
    ScopedEnv scripted(nfd::kAnswerVariable, std::nullopt);
    if (gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "GTK found a display all the same";
    std::string path = "untouched";
    EXPECT_EQ(NFD_OpenDialog("3dl;cube;", nullptr, &path), NFD_ERROR);
    EXPECT_STRNE(NFD_GetError(), "");
    EXPECT_EQ(NFD_PickFolder(nullptr, &path), NFD_ERROR);
    EXPECT_EQ(path, "untouched");
}

TEST(ActionsFileDialog, ScriptedAnswersInTheProcessAndThroughTheEnvironment) {
    EXPECT_EQ(nfd::parseFilterList("3dl;cube;"), (Groups{{"3dl"}, {"cube"}}));
    EXPECT_EQ(nfd::parseFilterList("png,jpg;;pdf,"), (Groups{{"png", "jpg"}, {"pdf"}}));
    EXPECT_TRUE(nfd::parseFilterList(nullptr).empty());

    std::vector<nfd::DialogRequest> seen;
    nfd::DialogAnswer answer{NFD_OKAY, "/some/where/look.cube", ""};
    std::optional<nfd::ScopedAnswerer> scope(std::in_place, [&](const nfd::DialogRequest& r) {
        seen.push_back(r);
        return answer;
    });
    ScopedEnv scripted(nfd::kAnswerVariable, std::string("cancel"));  // the answerer wins
    std::string path;
    EXPECT_EQ(NFD_OpenDialog("3dl;cube;", "/start", &path), NFD_OKAY);
    EXPECT_EQ(path, "/some/where/look.cube");
    answer = {NFD_OKAY, "/luts", ""};
    EXPECT_EQ(NFD_PickFolder(nullptr, &path), NFD_OKAY);
    EXPECT_EQ(path, "/luts");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, nfd::DialogKind::OpenFile);
    EXPECT_EQ(seen[0].filterList, "3dl;cube;");
    EXPECT_EQ(seen[0].defaultPath, "/start");
    EXPECT_EQ(seen[1].kind, nfd::DialogKind::PickFolder);

    // Cancel, error, an empty "choice" and no place for the path leave the
    // path alone; errors say why.
    path = "kept";
    for (const auto& [given, result] : {std::pair{nfd::DialogAnswer{NFD_CANCEL, "/ignored", ""}, NFD_CANCEL},
                                        std::pair{nfd::DialogAnswer{NFD_ERROR, "", "no luck"}, NFD_ERROR},
                                        std::pair{nfd::DialogAnswer{NFD_OKAY, "", ""}, NFD_ERROR}}) {
        answer = given;
        EXPECT_EQ(NFD_OpenDialog(nullptr, nullptr, &path), result);
    }
    answer = {NFD_ERROR, "", "no luck"};
    NFD_OpenDialog(nullptr, nullptr, &path);
    EXPECT_STREQ(NFD_GetError(), "no luck");
    EXPECT_EQ(NFD_OpenDialog(nullptr, nullptr, nullptr), NFD_ERROR);
    EXPECT_EQ(path, "kept");

    // Without an answerer the environment speaks.
    scope.reset();
    const std::pair<std::string, nfdresult_t> texts[] = {
        {nfd::scriptedOkay("/a b/c:d.cube"), NFD_OKAY}, {"cancel", NFD_CANCEL}, {"error:disk on fire", NFD_ERROR},
        {"okay:", NFD_ERROR}, {"Cancel", NFD_ERROR}, {"", NFD_ERROR}};
    for (const auto& [text, result] : texts) {
        ScopedEnv env(nfd::kAnswerVariable, text);
        EXPECT_EQ(NFD_OpenDialog("3dl;cube;", nullptr, &path), result) << text;
    }
    EXPECT_EQ(path, "/a b/c:d.cube");
    {
        ScopedEnv env(nfd::kAnswerVariable, std::string("error:disk on fire"));
        EXPECT_EQ(NFD_PickFolder(nullptr, &path), NFD_ERROR);
        EXPECT_STREQ(NFD_GetError(), "disk on fire");
    }
}

// Drives the GTK chooser that NFD opens: polls for it, then lets `act` decide
// (true when done). Gives up after a few seconds by cancelling.
struct DialogDriver {
    explicit DialogDriver(std::function<bool(GtkFileChooser*)> a) : act(std::move(a)) {}
    std::function<bool(GtkFileChooser*)> act;
    std::vector<std::string> filterNames;
    bool found = false;
    int ticks = 0;

    static gboolean tick(gpointer self) {
        auto* d = static_cast<DialogDriver*>(self);
        GList* windows = gtk_window_list_toplevels();
        GtkWidget* dialog = nullptr;
        for (GList* w = windows; w; w = w->next)
            if (GTK_IS_FILE_CHOOSER_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)))
                dialog = GTK_WIDGET(w->data);
        g_list_free(windows);
        if (!dialog) return ++d->ticks < 200 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
        if (!d->found) {
            d->found = true;
            GSList* filters = gtk_file_chooser_list_filters(chooser);
            for (GSList* f = filters; f; f = f->next)
                d->filterNames.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(f->data)));
            g_slist_free(filters);
        }
        if (d->act(chooser) || ++d->ticks > 200) {
            if (d->ticks > 200) gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
            return G_SOURCE_REMOVE;
        }
        return G_SOURCE_CONTINUE;
    }
};

bool haveDisplay() {
    ScopedEnv noAccessibility("NO_AT_BRIDGE", std::string("1"));
    return std::getenv("DISPLAY") && gtk_init_check(nullptr, nullptr);
}

TEST(ActionsFileDialog, TheGtkChooserCancelsAndChooses) {
    if (!haveDisplay()) GTEST_SKIP() << "no display (run under xvfb-run)";
    ScopedEnv scripted(nfd::kAnswerVariable, std::nullopt);
    TempDir dir;
    const std::string lut = dir.file("Look.CUBE");
    quillane::test::writeFile(lut, "LUT_3D_SIZE 2\n");

    DialogDriver cancel{[](GtkFileChooser* c) {
        gtk_dialog_response(GTK_DIALOG(c), GTK_RESPONSE_CANCEL);
        return true;
    }};
    g_timeout_add(25, &DialogDriver::tick, &cancel);
    std::string path = "kept";
    EXPECT_EQ(NFD_OpenDialog("3dl;cube;", dir.path().c_str(), &path), NFD_CANCEL);
    EXPECT_TRUE(cancel.found);
    EXPECT_EQ(path, "kept");
    EXPECT_EQ(cancel.filterNames, (std::vector<std::string>{"3dl, cube", "3dl", "cube", "All files"}));

    // Select the file (the chooser loads folders in the background: wait
    // until it has taken the selection), then press Open.
    bool asked = false;
    DialogDriver choose{[&](GtkFileChooser* c) {
        if (!asked) {
            gtk_file_chooser_select_filename(c, lut.c_str());
            asked = true;
        }
        gchar* now = gtk_file_chooser_get_filename(c);
        const bool ready = now && lut == now;
        g_free(now);
        if (ready) gtk_dialog_response(GTK_DIALOG(c), GTK_RESPONSE_ACCEPT);
        return ready;
    }};
    g_timeout_add(25, &DialogDriver::tick, &choose);
    EXPECT_EQ(NFD_OpenDialog("3dl;cube;", dir.path().c_str(), &path), NFD_OKAY);
    EXPECT_EQ(path, lut);
}

}  // namespace
