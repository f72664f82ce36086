// The LUT Manager on the online library, in a real window against the fake
// service: listings with their kinds, favourites, icons and progress; what
// clicks on online items do; and the account form.
#include <nanogui/label.h>

#include <algorithm>
#include <chrono>

#include "FakeService.h"
#include "GalleryTestEnv.h"
#include "ProcessTools.h"
#include "desktop/Settings.h"
#include "gallery/GalleryOnline.h"
#include "online/OnlineAPI.h"
#include "platform/launchservices/LaunchServices.h"

using namespace nanogui;
using quillane::test::FakeService;

namespace gallery_test {
namespace {

const char* const kUnusable = "Error message: Incorrect E-Mail or Password";

struct Delivery {
    Lut lut;
    std::string name;
    std::vector<char> preset;
};

// The account form's widgets, found where the form puts them.
struct Form {
    LutTextBox* email = nullptr;
    LutTextBox* password = nullptr;
    LutButton* login = nullptr;
    Label* status = nullptr;
    Label* signedIn = nullptr;
    LutButton* exit = nullptr;
};

Form formOf(const LutGallery& gallery) {
    Form form;
    if (!gallery.window || gallery.window->childCount() != 2) return form;
    Widget* row = gallery.window->childAt(1);
    if (row->childCount() != 1) return form;
    Widget* column = row->childAt(0);
    if (column->childCount() == 2) {
        form.signedIn = dynamic_cast<Label*>(column->childAt(0));
        form.exit = dynamic_cast<LutButton*>(column->childAt(1));
    } else if (column->childCount() == 3 && column->childAt(1)->childCount() == 3) {
        form.email = dynamic_cast<LutTextBox*>(column->childAt(0)->childAt(1));
        form.password = dynamic_cast<LutTextBox*>(column->childAt(1)->childAt(1));
        form.status = dynamic_cast<Label*>(column->childAt(1)->childAt(2));
        form.login = dynamic_cast<LutButton*>(column->childAt(2));
    }
    return form;
}

class GalleryOnline : public GalleryTest {
protected:
    GalleryOnline() {
        resetProcessState();
        onlineDelivery = [this](Lut lut, std::string name, std::vector<char> preset) {
            delivered.push_back({std::move(lut), std::move(name), std::move(preset)});
        };
        makeGallery();
        launchservices::setURLOpener([this](const std::string& url) {
            opened.push_back(url);
            return launchservices::kNoErr;
        });
    }
    ~GalleryOnline() override {
        gallery.reset();
        launchservices::setURLOpener({});
        resetProcessState();
    }
    // The caches, the refused stored pair and the form's memory live as long as the process.
    static void resetProcessState() {
        OnlineAPI::clearCash();
        noteFormLogin();
        accountFormGate() = LoginGate();
    }

    std::size_t requestsTo(const std::string& path) const { return service.requestsTo(path).size(); }
    bool closing() const { return gallery->screen && glfwWindowShouldClose(gallery->screen->glfwWindow()); }
    // The captions the window shows under the grid: what it says about the listing.
    std::vector<std::string> notices() {
        std::vector<std::string> captions;
        for (int i = 2; gallery->window && panel() && i < gallery->window->childCount(); ++i)
            if (auto* label = dynamic_cast<Label*>(gallery->window->childAt(i))) captions.push_back(label->caption());
        return captions;
    }

    FakeService service;
    ScopedEnv url_{"QUILLANE_SERVICE_URL", service.url()};
    ScopedEnv ca_{"QUILLANE_SERVICE_CA", service.caFile()};
    std::vector<Delivery> delivered;
    std::vector<std::string> opened;
};

// A folder of every kind of entry (which malformed entries are skipped: the
// rules' own test), and one LUT the service will not serve.
const char* const kNight = R"json({
    "accounts": {"ann@example.com": "pw"},
    "noLut": [46],
    "icons": {"Shop": {"width": 100, "height": 100, "rgba": [10, 20, 30, 255], "top": [250, 0, 0, 255]},
              "Huge": {"width": 1100, "height": 2, "rgba": [10, 20, 30, 255]}},
    "listings": {
      "Film/Night": [
        {"id": "-1", "lutname": "../", "folder": "Film/Night/../", "favorite": "0"},
        {"id": "-2", "lutname": "Shop", "url": "/buy/7", "folder": "Shop"},
        {"id": "42", "lutname": "Blue", "url": "", "favorite": "0"},
        {"id": "43", "lutname": "Red", "favorite": "1"},
        {"id": "44", "lutname": "Green", "favorite": "yes"},
        {"id": "45", "lutname": "Gray"},
        {"id": "46", "lutname": "Broken"},
        {"id": "7", "lutname": "Warm", "url": "https://shop.example:8443"},
        {"id": "-2", "lutname": "Evil", "url": "javascript:alert(1)", "folder": "Evil"},
        {"id": "-1", "lutname": "Blue/", "folder": "Film/Night/Blue"},
        {"id": "-1", "lutname": "Huge/", "folder": "Huge"}
      ],
      "": [{"id": "-1", "lutname": "Film/", "folder": "Film"}],
      "Film/Night/Blue": [{"id": "-1", "lutname": "../", "folder": "Film/Night/Blue/../../"}],
      "Film": [{"id": "-1", "lutname": "Day/", "folder": "Film/Day"},
               {"id": "-1", "lutname": "Night/", "folder": "Film/Night"},
               {"id": "-1", "lutname": "Noon/", "folder": "Film/Noon"}],
      "Four": [{"id": "1", "lutname": "A"}, {"id": "2", "lutname": "B"},
               {"id": "3", "lutname": "C"}, {"id": "4", "lutname": "D"}]
    }})json";

TEST_F(GalleryOnline, ListsKindsItemStringsFavouritesAndIconsSkippingALutNotServed) {
    service.setControl(kNight);
    run("Film/Night/Blue", [&] {
        EXPECT_TRUE(gallery->isOnline);
        EXPECT_EQ(gallery->pathBox->value(), "Film/Night");
        struct Row {
            std::string item;
            int kind;
            bool favorite;
            bool rightClick;
        };
        const std::vector<Row> expected = {
            {"../:Film/Night/../", Folder, false, false},
            {"Shop:/buy/7", IconLink, false, false},
            {"Blue:42", OtherLut, false, true},
            {"Red:43", OtherLut, true, true},
            {"Green:44", OtherLut, true, true},
            {"Gray:45", OtherLut, false, true},
            {"Warm:https://shop.example:8443", Link, false, false},  // a link's port is no LUT
            {"Evil:javascript:alert(1)", IconLink, false, false},
            {"Blue/:Film/Night/Blue", Folder, false, false},
            {"Huge/:Huge", Folder, false, false},
        };
        const std::vector<LutImageView*> shown = views();
        ASSERT_EQ(shown.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(shown[i]->mCaption, expected[i].item) << i;
            EXPECT_EQ(shown[i]->mKind, expected[i].kind) << expected[i].item;
            EXPECT_EQ(shown[i]->mFavorite, expected[i].favorite) << expected[i].item;
            EXPECT_EQ(bool(shown[i]->mRightClickCallback), expected[i].rightClick) << expected[i].item;
        }
        // The guest's listing, as a guest, with no stored account: no log-in.
        EXPECT_EQ(requestsTo("/lutlogin.php"), 0u);
        EXPECT_TRUE(gallery->toolbarButtons[0]->enabled());

        // The 100 x 100 icon reaches its texture upside down (its first row on top); where it sits
        // in the tile and which alpha it keeps: the rules' own test.
        const int w = gallery->previewWidth, h = gallery->previewHeight;
        ASSERT_EQ(w, 512);
        ASSERT_EQ(h, 288);
        const std::vector<float> tile = readTexture(viewOf("Shop:/buy/7")->imageTexture(), w, h);
        const auto at = [&](int row, int column, int channel) {
            return std::lround(tile[(std::size_t(row) * w + column) * 4 + channel] * 255);
        };
        struct Probe {
            int row, column;
            long red, blue, alpha;
        };
        for (const Probe& p : {Probe{94, 206, 10, 30, 255}, Probe{94 + 99, 206, 250, 0, 255}, Probe{93, 206, 0, 0, 0}})
            EXPECT_TRUE(at(p.row, p.column, 0) == p.red && at(p.row, p.column, 2) == p.blue &&
                        at(p.row, p.column, 3) == p.alpha)
                << p.row << ", " << p.column;
    });
}

// Names as the service writes them: control characters shown, not obeyed, and
// a name of any length on one line of its cell, the item itself unchanged.
TEST_F(GalleryOnline, CaptionsShowControlCharactersAndTakeOneLineWhateverTheirLength) {
    const std::string hostile = "ctl\x01\x1b[31mred\x07";
    const std::string longName(100000, 'W');
    nlohmann::json listing = nlohmann::json::array(
        {{{"id", "1"}, {"lutname", "Blue"}}, {{"id", "2"}, {"lutname", hostile}}, {{"id", "3"}, {"lutname", longName}}});
    service.setControl(nlohmann::json{{"listings", {{"Odd", listing}}}, {"lutSize", 3}}.dump());
    run("Odd/x", [&] {
        const std::vector<LutImageView*> shown = views();
        ASSERT_EQ(shown.size(), 3u);
        EXPECT_EQ(shown[2]->mCaption, longName + ":3");
        std::vector<Label*> captions;
        for (LutImageView* view : shown) captions.push_back(dynamic_cast<Label*>(view->parent()->childAt(1)));
        ASSERT_TRUE(captions[0] && captions[1] && captions[2]);
        EXPECT_EQ(captions[0]->caption(), "Blue");
        EXPECT_EQ(captions[1]->caption(), R"(ctl\u0001\u001b[31mred\u0007)");
        const std::string cut = captions[2]->caption();
        EXPECT_TRUE(cut.size() > 3 && cut == std::string(cut.size() - 3, 'W') + "\u2026") << cut;
        for (Label* caption : captions) {
            EXPECT_EQ(caption->height(), captions[0]->height()) << caption->caption();
            EXPECT_LE(caption->preferredSize(gallery->screen->nvgContext()).x(), gallery->screen->width() / 4);
        }
    });
}

TEST_F(GalleryOnline, ProgressCountsFourEntriesInQuartersAndADoubleClickDeliversAndCloses) {
    service.setControl(kNight);
    std::vector<std::string> captions;
    gallery->onProgress = [&](int, int) { captions.push_back(gallery->loadingLabel->caption()); };
    run("Four/A", [&] {
        EXPECT_EQ(views().size(), 4u);
        doubleClick(viewOf("B:2"));  // what the LUT brings: the effect's online tests
        EXPECT_TRUE(closing());
    });
    EXPECT_EQ(captions,
              (std::vector<std::string>{"Loading (0%)", "Loading (25%)", "Loading (50%)", "Loading (75%)"}));
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].name, "Four/B");
}

// Where each kind of up entry leads: OnlineFolderTarget.
TEST_F(GalleryOnline, UpEntriesListTheFolderAboveWithTheOneLeftHighlighted) {
    service.setControl(kNight);
    run("Film/Night/Blue/x", [&] {
        click(viewOf("../:Film/Night/Blue/../../"));  // a single click enters a folder
        EXPECT_EQ(gallery->pathBox->value(), "Film");
        std::vector<std::string> picked;
        for (LutImageView* view : views())
            if (view->isPicked()) picked.push_back(view->mCaption);
        EXPECT_EQ(picked, std::vector<std::string>{"Night/:Film/Night"});
    });
}

TEST_F(GalleryOnline, LinksReachTheOpenerAndClearTheCachesButNeverFavouriteNorDeliver) {
    service.setControl(kNight);
    run("Film/Night/x", [&] {
        const std::size_t loads = requestsTo("/lutload.php");
        gallery->api->downloadLut(42);  // cached by the listing: no request
        EXPECT_EQ(requestsTo("/lutload.php"), loads);

        click(viewOf("Shop:/buy/7"));  // an icon link opens at a single click
        doubleClick(viewOf("Warm:https://shop.example:8443"));
        EXPECT_EQ(opened, (std::vector<std::string>{service.url() + "/buy/7", "https://shop.example:8443"}));
        EXPECT_FALSE(closing());
        EXPECT_TRUE(delivered.empty());
        gallery->api->downloadLut(42);  // the caches were emptied
        EXPECT_EQ(requestsTo("/lutload.php"), loads + 1);

        // An address of another scheme is not handed on: a box says so.
        click(viewOf("Evil:javascript:alert(1)"));
        EXPECT_EQ(opened.size(), 2u);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].messageText, "Open link");
        EXPECT_EQ(boxes.boxes[0].informativeText, "This link cannot be opened: javascript:alert(1)");

        // Picked when the window closes: still no LUT 8443.
        click(viewOf("Warm:https://shop.example:8443"));
        EXPECT_EQ(gallery->selection, "Warm:https://shop.example:8443");
        click(viewOf("Warm:https://shop.example:8443"), GLFW_MOUSE_BUTTON_RIGHT);
    });
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(requestsTo("/lutfavorite.php"), 0u);
    for (const auto& r : service.requestsTo("/lutload.php"))
        EXPECT_EQ(r["query"].get<std::string>().find("id=8443"), std::string::npos) << r["query"];
}

TEST_F(GalleryOnline, FavouritesAsGuestSignedInAndRefused) {
    service.setControl(kNight);
    run("Film/Night/x", [&] {
        click(viewOf("Blue:42"), GLFW_MOUSE_BUTTON_RIGHT);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].messageText, "Favorite");
        EXPECT_EQ(boxes.boxes[0].informativeText, "Please log-in to add LUTs to favorites");
        EXPECT_NE(formOf(*gallery).login, nullptr);  // the form took the grid's place
    });
    EXPECT_EQ(requestsTo("/lutfavorite.php"), 0u);

    saveLoginPassword("ann@example.com", "pw");
    makeGallery();
    run("Film/Night/x", [&] {
        EXPECT_EQ(gallery->accountLabel->caption(), "E-mail: ann@example.com");
        LutImageView* blue = viewOf("Blue:42");
        click(blue, GLFW_MOUSE_BUTTON_RIGHT);
        EXPECT_TRUE(blue->mFavorite);
        EXPECT_EQ(service.favorites()["ann@example.com"]["42"], "1");
        LutImageView* red = viewOf("Red:43");
        click(red, GLFW_MOUSE_BUTTON_RIGHT);
        EXPECT_FALSE(red->mFavorite);
        EXPECT_EQ(service.favorites()["ann@example.com"]["43"], "0");

        service.setControl(std::string(kNight).replace(1, 0, R"("favoriteReply": "no",)"));
        click(blue, GLFW_MOUSE_BUTTON_RIGHT);
        EXPECT_TRUE(blue->mFavorite);
        EXPECT_EQ(service.favorites()["ann@example.com"]["42"], "1");
    });
    EXPECT_EQ(requestsTo("/lutfavorite.php"), 3u);
}

// A link's item string ends in a web address, whose port or path is no LUT id:
// a right click on it is no favourite, for a guest (no box, no form) or a user.
TEST_F(GalleryOnline, ARightClickOnALinkNeitherTogglesNorAsksForAFavourite) {
    service.setControl(kNight);
    const std::string link = "Warm:https://shop.example:8443";
    for (const bool signedIn : {false, true}) {
        SCOPED_TRACE(signedIn ? "signed in" : "guest");
        if (signedIn) saveLoginPassword("ann@example.com", "pw");
        makeGallery();
        run("Film/Night/x", [&] {
            EXPECT_EQ(gallery->api->getEmail().empty(), !signedIn);
            ASSERT_NE(viewOf(link), nullptr);
            click(viewOf(link), GLFW_MOUSE_BUTTON_RIGHT);
            ASSERT_NE(viewOf(link), nullptr) << "the grid was replaced";
            EXPECT_FALSE(viewOf(link)->mFavorite);
        });
        EXPECT_TRUE(boxes.boxes.empty());
    }
    EXPECT_EQ(requestsTo("/lutfavorite.php"), 0u);
}

TEST_F(GalleryOnline, ARefusedStoredLogInIsNotSentBeforeEveryListing) {
    service.setControl(kNight);
    saveLoginPassword("ann@example.com", "old");
    run("Film/Night/x", [&] {
        EXPECT_EQ(gallery->accountLabel->caption(), "E-mail: Guest");
        EXPECT_EQ(views().size(), 10u);
        // Later listings by either way in (that clients of later windows hold back too: the service test).
        gallery->openOnlineRoot();
        ASSERT_NE(viewOf("Film/:Film"), nullptr);
        gallery->paths[0] = "Film/Night";
        gallery->choseFolder();
        gallery->loginForm();  // nor before the form
    });
    EXPECT_EQ(requestsTo("/lutlogin.php"), 1u);
    EXPECT_GE(requestsTo("/lutbrowse.php"), 3u);
}

// Sixty LUTs or twenty folder icons whose downloads stall: the first time-out
// ends the requests of the listing. The LUTs keep their cells without a
// picture, the folders show the folder tile, and the window closes on request.
// A stored account's log-in that stalls ends the listing before it asks.
TEST_F(GalleryOnline, AStalledRequestCostsAListingOneRequestLimit) {
    using nlohmann::json;
    struct Case {
        const char* path;
        int count;
        int kind;
        bool signIn;
    } cases[] = {{"/lutload.php", 60, OtherLut, false}, {"/luticon.php", 20, Folder, false},
                 {"/lutlogin.php", 60, OtherLut, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        json listing = json::array();
        for (int i = 1; i <= c.count; ++i)
            listing.push_back(c.kind == OtherLut ? json{{"id", std::to_string(i)}, {"lutname", "L" + std::to_string(i)}}
                                                 : json{{"id", "-1"}, {"lutname", "F" + std::to_string(i) + "/"},
                                                        {"folder", "Big/F" + std::to_string(i)}});
        service.setControl(
            json{{"listings", {{"Big", listing}}}, {"faults", {{{"path", c.path}, {"mode", "stall"}}}}}.dump());
        service.clearLog();
        if (c.signIn) saveLoginPassword("ann@example.com", "pw");
        makeGallery();
        const auto start = std::chrono::steady_clock::now();
        const auto secondsSince = [&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        double listed = -1;
        run("Big/x", [&] {
            listed = secondsSince();
            const std::vector<LutImageView*> shown = views();
            if (c.signIn) {
                EXPECT_TRUE(shown.empty());
                EXPECT_EQ(requestsTo("/lutbrowse.php"), 0u);
                return;
            }
            ASSERT_EQ(shown.size(), std::size_t(c.count));
            // The tiles after the stall are blank for a reason the grid gives.
            EXPECT_EQ(notices(), std::vector<std::string>{"The online library stopped answering: the entries after "
                                                          "the first that did not arrive show no picture."});
            const int w = gallery->previewWidth, h = gallery->previewHeight;
            const std::vector<float> tile = readTexture(shown.back()->imageTexture(), w, h);
            if (c.kind == Folder) {
                std::vector<float> folder(gallery->folderTile.begin(), gallery->folderTile.end());
                for (float& v : folder) v /= 255;
                EXPECT_LT(largestDifference(tile, folder), 0.6f / 255);
            }
            for (LutImageView* view : shown) EXPECT_EQ(view->mKind, c.kind);
            if (c.kind == OtherLut) {
                // No picture: a small clear one, which the view stretches to a thumbnail's size.
                const std::vector<float> blank = readTexture(shown.back()->imageTexture(), w / 8, h / 8);
                EXPECT_EQ(*std::max_element(blank.begin(), blank.end()), 0.0f);
                EXPECT_EQ(shown.back()->size(), shown.front()->size());
            }
        });
        // Bounds on a hang with a wide margin, not timing targets.
        EXPECT_LT(listed, 3.0 * OnlineAPI::kTimeoutMs / 1000);
        EXPECT_LT(secondsSince(), 3.0 * OnlineAPI::kTimeoutMs / 1000);
        EXPECT_FALSE(gallery->screen);
        EXPECT_EQ(requestsTo(c.path), 1u);
    }
}

// A listing cut short by stalled downloads shows its cells where a healthy
// listing of the folder shows them; its note lies under the grid, inside the
// window.
TEST_F(GalleryOnline, ANoteUnderACutListingMovesNoCell) {
    using nlohmann::json;
    json listing = json::array();
    for (int i = 1; i <= 7; ++i) listing.push_back({{"id", std::to_string(i)}, {"lutname", "Look " + std::to_string(i)}});
    std::vector<std::vector<int>> healthy, cut;  // x, y, width, height of each drawn cell
    for (const bool stalled : {false, true}) {
        SCOPED_TRACE(stalled ? "cut" : "healthy");
        OnlineAPI::clearCash();
        json control{{"listings", {{"Seven", listing}}}};
        if (stalled) control["faults"] = {{{"path", "/lutload.php"}, {"mode", "stall"}}};
        service.setControl(control.dump());
        makeGallery();
        run("Seven/x", [&] {
            nanogui::drawall();
            ASSERT_EQ(views().size(), 7u);
            for (LutImageView* view : views()) {
                const Vector2i p = view->absolutePosition();
                (stalled ? cut : healthy).push_back({p.x(), p.y(), view->width(), view->height()});
            }
            ASSERT_EQ(notices().size(), stalled ? 1u : 0u);
            if (!stalled) return;
            const Widget* note = gallery->window->childAt(2);
            // Under the grid and in the window, also once the window is lower.
            for (const int height : {700, 560}) {
                GLFWwindow* native = gallery->screen->glfwWindow();
                glfwSetWindowSize(native, 1000, height);
                ASSERT_TRUE(quillane::test::waitUntil([&] {
                    glfwPollEvents();
                    int w = 0, h = 0;
                    glfwGetWindowSize(native, &w, &h);
                    return h == height;
                }));
                nanogui::drawall();
                EXPECT_GE(note->absolutePosition().y(), panel()->absolutePosition().y() + panel()->height());
                EXPECT_LE(note->absolutePosition().y() + note->height(), height);
                EXPECT_LE(note->absolutePosition().x() + note->width(), gallery->screen->width());
            }
        });
    }
    EXPECT_EQ(cut, healthy);
}

TEST_F(GalleryOnline, ClosingTheWindowDuringAListingEndsItAtTheNextEntry) {
    service.setControl(kNight);
    run("Film/Night/x", [&] {
        std::vector<int> entries;
        gallery->onProgress = [&](int entry, int) {
            entries.push_back(entry);
            if (entry == 1) gallery->stop();
        };
        service.clearLog();
        gallery->paths[0] = "Four";
        gallery->choseFolder();
        EXPECT_EQ(entries, (std::vector<int>{0, 1}));
        EXPECT_EQ(requestsTo("/lutload.php"), 2u);
        EXPECT_TRUE(views().empty());
    });
}

// Clicks are handled after the events of their batch: a folder click in the
// batch that also closes the window lists nothing online for a window on its way out.
TEST_F(GalleryOnline, AFolderClickInTheBatchThatClosesTheWindowAsksTheServiceNothing) {
    service.setControl(kNight);
    run("Film/Night/x", [&] {
        ASSERT_NE(viewOf("Blue/:Film/Night/Blue"), nullptr);
        service.clearLog();
        gallery->stop();
        click(viewOf("Blue/:Film/Night/Blue"));
        EXPECT_EQ(service.requestCount(), 0u);
        EXPECT_TRUE(views().empty());
    });
    EXPECT_EQ(service.requestCount(), 0u);
}

// No answer to the listing itself (a service that is gone, a certificate we
// refuse): the grid says so instead of standing empty.
TEST_F(GalleryOnline, AListingThatGetsNoAnswerSaysSo) {
    FakeService impostor("DNS:luts.other.example");
    ScopedEnv url{"QUILLANE_SERVICE_URL", impostor.url()};
    ScopedEnv ca{"QUILLANE_SERVICE_CA", impostor.caFile()};
    for (bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "no service" : "refused certificate");
        if (stopped) impostor.stop();
        makeGallery();
        run("Film/Night/x", [&] {
            EXPECT_TRUE(views().empty());
            EXPECT_EQ(notices(), std::vector<std::string>{
                                    "The online library could not be reached: this folder could not be listed."});
            EXPECT_TRUE(gallery->toolbarButtons[0]->enabled());
        });
    }
    // An answer without entries is an empty folder, and says nothing.
    service.setControl(kNight);
    ScopedEnv back{"QUILLANE_SERVICE_URL", service.url()};
    ScopedEnv backCa{"QUILLANE_SERVICE_CA", service.caFile()};
    makeGallery();
    run("Empty/x", [&] { EXPECT_TRUE(notices().empty()); });
}

// ---- the account form ----

using GalleryAccountForm = GalleryOnline;

// One window, one pair after another: what is sent, what the status line says, and what is kept.
TEST_F(GalleryAccountForm, SendsAPairUnlessTheServiceRefusedItAndKeepsOnlyASignIn) {
    const std::string accounts =
        R"({"accounts": {"ann@example.com": "pw"}, "listings": {"Film/Night": [{"id": "1"}]}})";
    const auto reply = [](const char* text) { return std::string(R"({"loginReply": ")") + text + "\"}"; };
    struct Step {
        std::string control;  // empty: as before
        const char* email;
        const char* password;
        std::size_t logins;  // sent so far
        const char* status;
    };
    const std::vector<Step> steps = {
        {accounts, "", "", 0, kUnusable},  // nothing typed: nothing sent
        {"", "ann@example.com", "bad", 1, "Error: Incorrect Password!"},
        {"", "ann@example.com", "bad", 1, "Error: Incorrect Password!"},  // refused: not sent again
        {"", "bob@example.com", "bad", 2, "Error: Incorrect email!"},     // a box changed
        {"", "ann@example.com", "bad", 3, "Error: Incorrect Password!"},
        // Which codes hold a pair back is the gate's own test; these only show each code's status line.
        {reply("-3"), "ann@example.com", "pw", 4, "Too many login attempts. Please try again in 30 minutes."},
        {reply(""), "ann@example.com", "pw", 5, kUnusable},  // no answer
        {reply("0 tok"), "ann@example.com", "pw", 6, kUnusable},  // answers that sign nobody in
        {reply("1"), "ann@example.com", "pw", 7, kUnusable},
    };
    service.setControl(accounts);
    run("Film/Night/x", [&] {
        gallery->toolbarButtons[5]->callback()();
        gallery->runEventWork();
        EXPECT_EQ(gallery->pathBox->value(), "Film/Night");
        for (const Step& step : steps) {
            if (!step.control.empty()) service.setControl(step.control);
            Form form = formOf(*gallery);
            ASSERT_NE(form.login, nullptr) << step.logins;
            form.email->setValue(step.email);
            form.password->setValue(step.password);
            click(form.login);
            EXPECT_EQ(requestsTo("/lutlogin.php"), step.logins);
            EXPECT_EQ(form.status->caption(), step.status) << step.logins;
            EXPECT_EQ(gallery->accountLabel->caption(), "") << step.logins;
            EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{"", ""})) << step.logins;
        }
        // The form took the grid's place: the folder lists again.
        service.setControl(accounts);
        gallery->choseFolder();
        EXPECT_EQ(views().size(), 1u);

        gallery->loginForm();
        Form form = formOf(*gallery);
        ASSERT_NE(form.login, nullptr);
        // Typed, and the password still being edited when Login is pressed.
        for (auto [box, text] : {std::pair{form.email, "ann@example.com"}, {form.password, "pw"}}) {
            click(box);
            for (const char* c = text; *c; ++c) gallery->screen->charCallbackEvent(static_cast<unsigned char>(*c));
        }
        EXPECT_TRUE(form.password->focused());
        click(form.login);
        EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{"ann@example.com", "pw"}));
        EXPECT_EQ(gallery->accountLabel->caption(), "E-mail: ann@example.com");
        form = formOf(*gallery);
        ASSERT_NE(form.exit, nullptr);
        EXPECT_EQ(form.signedIn->caption(), "E-Mail: ann@example.com");
        EXPECT_EQ(form.exit->caption(), "Exit");
        gallery->loginForm();  // signed in: no request
        EXPECT_EQ(requestsTo("/lutlogin.php"), 8u);

        click(formOf(*gallery).exit);
        EXPECT_EQ(gallery->api->getEmail(), "");
        EXPECT_EQ(gallery->api->getSession(), "OpenVisitor");
        EXPECT_EQ(getLoginPassword(), (std::vector<std::string>{"", ""}));
        EXPECT_EQ(gallery->accountLabel->caption(), "E-mail: Guest");
        EXPECT_NE(formOf(*gallery).login, nullptr);
        EXPECT_EQ(requestsTo("/lutlogin.php"), 8u);

        // A guest's form signs in with a stored account before it is built.
        saveLoginPassword("ann@example.com", "pw");
        gallery->loginForm();
        EXPECT_NE(formOf(*gallery).exit, nullptr);
        EXPECT_EQ(requestsTo("/lutlogin.php"), 9u);
    });
}

}  // namespace
}  // namespace gallery_test
