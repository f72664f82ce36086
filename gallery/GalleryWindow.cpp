// The LUT Manager's window: one run from the effect's button to the delivery
// of the chosen LUT, the toolbar and its actions.
#include <nanogui/entypo.h>
#include <nanogui/label.h>
#include <nanogui/layout.h>

#include <algorithm>
#include <iostream>
#include <string>

#include "desktop/Settings.h"
#include "desktop/boxer_osx.h"
#include "gallery/GalleryOnline.h"
#include "gallery/LutGallery.h"
#include "gallery/toolkit/Toolkit.h"
#include "lut/LocalLutPath.h"
#include "online/OnlineAPI.h"
#include "platform/nfd/nfd.h"

namespace {

// The modal loop waits this long for events between two draws: about one
// frame, so a window that merely sits there costs no core.
constexpr double kTurnWaitSeconds = 1.0 / 60.0;

const char* const kFavoriteHint =
    "To set favorite folder, please navigate to the folder first, and then shift-click favorite button.";

const char* const kDeliveryTitle = "Error in Quillane Plug-in";

void box(const std::string& message, const char* title) {
    showBox(message.c_str(), title, BoxStyle::Error, BoxButtons::OK);
}

// Toolbar actions report nothing: the window stays as it is.
template <typename F>
std::function<void()> quietly(F action) {
    return [action]() {
        try {
            action();
        } catch (const std::exception& e) {
            std::cerr << "LUT Manager: " << e.what() << '\n';
        } catch (...) {
        }
    };
}

}  // namespace

bool LutGallery::start(std::string name) {
    lastPath = std::move(name);
    if (running) return true;
    running = true;

    // Every way out of here tears the screen down (its context current) and
    // ends the run, so that the next opening starts clean.
    struct Teardown {
        LutGallery& gallery;
        ~Teardown() {
            gallery.destroyScreen();
            gallery.running = false;
        }
    } teardown{*this};

    const char* failure = nullptr;
    try {
        ensureToolkit();
        try {
            screen = new nanogui::LutScreen(nanogui::Vector2i(1000, 700), "LUT Manager", true, false, 8, 8, 24, 8,
                                            0, 3, 3);
            screen->incRef();
        } catch (...) {
            failure = "QuillaneOFX: Exception in new Screen";
        }
        if (!failure) {
            try {
                window = new nanogui::LutWindow(screen, "");
                window->setLayout(
                    new nanogui::LutColumnLayout(nanogui::Alignment::Minimum, kWindowMargin, kWindowMargin));
                window->setPosition(nanogui::Vector2i(0, 0));
                window->setSize(screen->size());
            } catch (...) {
                failure = "QuillaneOFX: Failed to create Window";
            }
        }
        if (!failure) {
            paths = getCurrentFolderAndFilePaths(lastPath, false);
            isOnline = !isLocalLutName(lastPath);
            if (isOnline) paths[2] = "/";
            highlightName.clear();
            if (openingObserver()) openingObserver()(*this);
            buildToolbar();
            screen->setVisible(true);
            takingEvents = false;
            choseFolder();
            // Events are handed out from the wait at the end of a turn through
            // the modal session's own poll before the next; work of the loop
            // (deferred listings) runs between.
            takingEvents = true;
            enableWindowMAC(screen->glfwWindow(), false, [this] {
                takingEvents = false;
                runEventWork();
                if (!nanogui::drawall()) return false;
                if (onTurn) onTurn();
                takingEvents = true;
                glfwWaitEventsTimeout(kTurnWaitSeconds);
                return true;
            });
            takingEvents = false;
            enableWindowMAC(nullptr, true, {});
            destroyScreen();
            deliverSelection();
        }
    } catch (...) {
        failure = "QuillaneOFX: Failed to LUTManager.start";
    }
    if (failure) {
        destroyScreen();
        running = false;
        box(failure, "Exception");
    }
    return failure == nullptr;
}

std::function<void(LutGallery&)>& LutGallery::openingObserver() {
    static std::function<void(LutGallery&)> observer;
    return observer;
}

void LutGallery::stop() {
    // The buffers stay: events of the same batch may still list a folder.
    // They go with the gallery.
    if (!screen) return;
    try {
        glfwSetWindowShouldClose(screen->glfwWindow(), 1);
    } catch (...) {
        box("QuillaneOFX exception in stop", "Exception");
    }
}

void LutGallery::afterEvent(std::function<void()> work) {
    if (screen) screen->defer(std::move(work));
}

void LutGallery::afterEventOnPage(std::function<void()> work) {
    afterEvent([this, page = pageNumber, work = std::move(work)] {
        if (page == pageNumber) work();
    });
}

void LutGallery::runEventWork() {
    if (screen) screen->runDeferred();
}

void LutGallery::clearPage() {
    nanogui::removeTrailingChildren(window, 1);
    ++pageNumber;
}

void LutGallery::destroyScreen() {
    if (!screen) return;
    nanogui::LutScreen* gone = screen;
    screen = nullptr;
    window = nullptr;
    progressBar = nullptr;
    loadingLabel = nullptr;
    pathBox = nullptr;
    loadingColumn = nullptr;
    accountLabel = nullptr;
    for (auto*& button : toolbarButtons) button = nullptr;
    glfwMakeContextCurrent(gone->glfwWindow());
    gone->setVisible(false);
    gone->decRef();
}

void LutGallery::deliverSelection() {
    if (selection.empty()) return;
    if (!isOnline) {
        if (fileCallback) fileCallback(selection);
        return;
    }
    // The item itself says what it is: a link's item string ends in its URL,
    // whose port or path is no LUT id.
    const auto chosen = std::find_if(shownItems.begin(), shownItems.end(),
                                     [this](const GalleryItem& item) { return item.itemString == selection; });
    if (chosen == shownItems.end() || chosen->kind != OtherLut) return;
    deliverOnline(*chosen);
}

void LutGallery::deliverOnline(const GalleryItem& item) {
    if (!lutCallback) return;
    const std::string name = onlineDisplayName(paths[0], paths[2], item.lutName);
    FetchedLut fetched = fetchLutWithPreset(*api, item.id);
    if (fetched.outcome == FetchedLut::LutFailed || fetched.outcome == FetchedLut::PresetFailed) {
        deliveryFailure = unreachableLibraryText(
            (fetched.outcome == FetchedLut::LutFailed ? "the LUT " : "the preset of the LUT ") + name);
        box(deliveryFailure, kDeliveryTitle);
        return;
    }
    // A LUT-less reply goes on as it came: the receiver refuses it in its own words.
    lutCallback(std::move(fetched.lut), name, std::move(fetched.preset));
}

void LutGallery::buildToolbar() {
    using namespace nanogui;
    auto* toolbar = new Widget(window);
    toolbar->setLayout(new BoxLayout(Orientation::Horizontal, Alignment::Middle, 10, 10));

    // A toolbar action replaces the page below the toolbar: it runs after the
    // click, quietly.
    const auto afterClick = [this](std::function<void()> action) {
        return [this, action = quietly(std::move(action))] { afterEvent(action); };
    };

    auto* up = new LutButton(toolbar, "", ENTYPO_ICON_ARROW_BOLD_LEFT);
    up->setFixedWidth(50);
    up->setCallback(afterClick([this] { goUp(); }));
    toolbarButtons[0] = up;

    pathBox = new LutTextBox(toolbar, "", false);
    pathBox->setFixedWidth(500);
    pathBox->setEnabled(false);

    toolbarButtons[1] = new LutButton(toolbar, "", ENTYPO_ICON_FOLDER);
    toolbarButtons[1]->setCallback(afterClick([this] { pickFolder(); }));

    const std::string presets = getPresetsPath();
    if (!presets.empty()) {
        toolbarButtons[2] = new LutButton(toolbar, "", ENTYPO_ICON_HOME);
        toolbarButtons[2]->setCallback(afterClick([this, presets] { openPresetsFolder(presets); }));
    }

    toolbarButtons[3] = new LutButton(toolbar, "", ENTYPO_ICON_STAR);
    toolbarButtons[3]->setCallback(afterClick([this] { openFavoriteFolder(); }));
    toolbarButtons[3]->setShiftCallback(afterClick([this] { setFavoriteFolder(); }));

    toolbarButtons[4] = new LutButton(toolbar, "", ENTYPO_ICON_NETWORK);
    toolbarButtons[4]->setCallback(afterClick([this] { openOnlineRoot(); }));

    toolbarButtons[5] = new LutButton(toolbar, "", ENTYPO_ICON_LOGIN);
    toolbarButtons[5]->setCallback([this] { afterEvent([this] { loginForm(); }); });

    accountLabel = new Label(toolbar, "", "sans");
}

void LutGallery::setToolbarEnable(bool enabled) {
    for (nanogui::LutButton* button : toolbarButtons)
        if (button) button->setEnabled(enabled);
}

void LutGallery::goUp() {
    const std::optional<UpTarget> up = upOneLevel(paths[0], paths[2], isOnline);
    if (up) {
        highlightName = up->highlight;
        paths[0] = up->folder;
    }
    choseFolder();
}

void LutGallery::pickFolder() {
    std::string picked;
    if (NFD_PickFolder(nullptr, &picked) != NFD_OKAY) return;
    paths = getCurrentFolderAndFilePaths(picked, true);
    isOnline = false;
    choseFolder();
}

void LutGallery::openPresetsFolder(const std::string& presetsFolder) {
    paths = getCurrentFolderAndFilePaths(presetsFolder, true);
    isOnline = false;
    choseFolder();
}

void LutGallery::openFavoriteFolder() {
    if (favoriteFolder.empty()) favoriteFolder = getValueFromReg("FavoriteLUTFolder", true);
    if (favoriteFolder.empty()) {
        box(kFavoriteHint, "Notification");
        return;
    }
    paths = getCurrentFolderAndFilePaths(favoriteFolder, true);
    isOnline = false;
    choseFolder();
}

void LutGallery::setFavoriteFolder() {
    if (isOnline) {
        box(kFavoriteHint, "Changed");
        return;
    }
    favoriteFolder = paths[0] + paths[2];
    getValueFromReg("FavoriteLUTFolder", true);
    setValuesInReg({{"FavoriteLUTFolder", favoriteFolder}});
    box("Favorite path changed to: " + favoriteFolder, "Changed");
}

void LutGallery::openOnlineRoot() {
    paths[2] = "/";
    paths[0] = "";
    isOnline = true;
    choseFolder();
}
