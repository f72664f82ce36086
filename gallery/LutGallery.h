#pragma once
// The LUT Manager: a modal window that shows the current frame graded by
// every LUT of a folder (local, or of the online library) and hands the LUT
// the user double-clicks back to the effect.
//
// One file per concern: GalleryEntry.cpp (openGallery, the object, the
// preview), GalleryWindow.cpp (start, stop, toolbar), GalleryListing.cpp
// (listing and thumbnails), GalleryActions.cpp (what clicks on items do),
// LutGalleryLogin.cpp (the account form). The rules without a window live in
// GalleryRules.h.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gallery/GalleryItem.h"
#include "gallery/GalleryRules.h"
#include "lut/Lut.h"

class OnlineAPI;

namespace nanogui {
class Button;
class GlTexture;
class Label;
class LutButton;
class LutImageView;
class LutScreen;
class LutScrollPanel;
class LutTextBox;
class LutWindow;
class Slider;
class Widget;
}  // namespace nanogui

// Runs the LUT Manager on a frame of 8-bit pixels A, R, G, B (rows as the host
// gives them) and, when the user chooses a LUT, replaces *lut, *name and
// *preset by it (*isLocal tells where it came from). Returns when the window
// has closed: the empty string, or why nothing was taken: no window opened,
// or the LUT the user chose could not be taken (a box said why, nothing
// changed). A frame that is not 4 channels of one byte, that has no pixels,
// or that the preview cannot hold, opens no window: a box says so and
// nothing changes.
std::string openGallery(void* pixels, int width, int height, int channels, int bytesPerPixel, bool* isLocal, Lut* lut,
                 std::string* name, std::vector<char>* preset);

// The two result callbacks of openGallery, bound to the caller's state. A LUT
// that does not load (an empty or unreadable path, an empty online LUT) leaves
// the caller's LUT, name and preset as they were and says so in a box.
struct GalleryResultCallbacks {
    std::function<void(std::string)> file;
    std::function<void(Lut, std::string, std::vector<char>)> online;
    // Why either callback refused what it was given; empty when it took it.
    std::shared_ptr<std::string> refused = std::make_shared<std::string>();
};
GalleryResultCallbacks galleryResultCallbacks(bool* isLocal, Lut* lut, std::string* name,
                                              std::vector<char>* preset);

class LutGallery {
public:
    LutGallery(std::function<void(std::string)> fileCallback,
               std::function<void(Lut, std::string, std::vector<char>)> lutCallback);
    ~LutGallery();
    LutGallery(const LutGallery&) = delete;
    LutGallery& operator=(const LutGallery&) = delete;

    // The preview every thumbnail is graded from (512 pixels wide) and the
    // folder tile, from a frame of R, G, B, A pixels (bytes, or floats with
    // bytesPerPixel 16). False, with nothing changed, for a frame without
    // pixels or of another layout.
    bool updateImage(const void* pixels, int width, int height, int channels, int bytesPerPixel);

    // Runs the window until it closes, then delivers the selection. False
    // when no window could be made (a box titled "Exception" says so).
    bool start(std::string name);
    // Asks the window to close; the modal loop ends at its next turn.
    void stop();

    void choseFolder();
    void loading();
    void setToolbarEnable(bool enabled);
    void loginForm();

    // Toolbar actions.
    void goUp();
    void pickFolder();
    void openPresetsFolder(const std::string& presetsFolder);
    void openFavoriteFolder();
    void setFavoriteFolder();
    void openOnlineRoot();

    // Item actions; the view is the one clicked.
    void select(const std::string& item);
    void toggleFavorite(nanogui::LutImageView* view, const GalleryItem& item);
    void activate(const GalleryItem& item);

    // The grid no longer shows the folder in the path box (an account form, a
    // listing that ended early): the next listing of that folder must run.
    void forgetShownFolder();

    // What a click or key asks for runs after the toolkit has finished with
    // that event, at the next turn of the modal loop: a listing or the
    // account form replaces the widgets the toolkit is still reading. Work
    // of the page below the toolbar (the grid's items, the form's buttons)
    // is dropped when that page has been replaced before its turn came: it
    // was asked for on widgets the user no longer sees.
    void afterEvent(std::function<void()> work);
    void afterEventOnPage(std::function<void()> work);
    // Runs what the events of the last turn asked for.
    void runEventWork();

    // ---- state (names as the rest of the product knows them) ----
    std::unique_ptr<OnlineAPI> api;
    bool isOnline = true;
    std::string lastPath;
    std::string selection;
    std::string highlightName;
    std::vector<std::string> paths;
    std::string favoriteFolder;
    std::function<void(std::string)> fileCallback;
    std::function<void(Lut, std::string, std::vector<char>)> lutCallback;

    nanogui::LutScreen* screen = nullptr;  // owned while a run is under way
    nanogui::LutWindow* window = nullptr;
    nanogui::Slider* progressBar = nullptr;
    nanogui::Label* loadingLabel = nullptr;
    nanogui::LutTextBox* pathBox = nullptr;
    nanogui::Widget* loadingColumn = nullptr;
    nanogui::LutButton* toolbarButtons[6] = {};
    nanogui::Label* accountLabel = nullptr;

    int channels = 4;
    int bytesPerPixel = 4;
    int previewWidth = 0;
    int previewHeight = 0;
    std::vector<unsigned char> preview;  // 8-bit preview (bytesPerPixel 4)
    std::vector<float> previewFloat;     // float preview (bytesPerPixel 16)
    bool running = false;
    std::vector<unsigned char> folderTile;
    std::vector<unsigned char> favoriteImage;

    // The items of the grid on show, in grid order (unreadable ones left out).
    std::vector<GalleryItem> shownItems;
    // Counts the pages below the toolbar (listings, progress panels, forms).
    unsigned pageNumber = 0;
    // Whether the grid below the toolbar lists the folder in the path box (not
    // a progress panel left by a listing that ended early, nor the account form).
    bool folderOnShow = false;
    // Why a chosen online LUT or its preset did not arrive (a box said so);
    // empty while nothing failed.
    std::string deliveryFailure;
    // Set while the window's events are being handed out (by the modal loop
    // or a listing's progress), when no listing may take them itself.
    bool takingEvents = false;

    // ---- seams for tests and benchmarks ----
    // Called after every entry of a listing, before the progress draw.
    std::function<void(int entry, int count)> onProgress;
    // Called after every turn of the modal loop.
    std::function<void()> onTurn;
    // Sees every gallery as its run starts (tests reach the gallery that the
    // effect makes this way).
    static std::function<void(LutGallery&)>& openingObserver();
    // The pause and draw after each entry (on by default; benchmarks turn it
    // off to time the listing alone).
    bool progressPauseAndDraw = true;

private:
    void buildToolbar();
    void listEntries(std::vector<GalleryItem>& items);
    using Picture = std::shared_ptr<const nanogui::GlTexture>;
    // Pictures that many cells of one grid show alike, each made once per
    // listing on first use: a texture per cell would cost every sub-folder
    // as much as a graded thumbnail.
    struct SharedPictures {
        Picture folder;  // the folder tile
        Picture blank;   // a LUT that did not arrive
    };
    void buildGrid(std::vector<GalleryItem>& items, std::vector<Picture>& pictures);
    Picture thumbnail(GalleryItem& item, SharedPictures& shared);
    void showProgress(int entry, int count);
    Picture folderPicture(SharedPictures& shared) const;
    Picture blankPicture(SharedPictures& shared) const;
    // The user asked the window to close (a listing ends at its next entry).
    bool closeRequested() const;
    void deliverSelection();
    // Hands an online LUT item (with its preset) to the LUT callback.
    void deliverOnline(const GalleryItem& item);
    void destroyScreen();
    // Removes the page below the toolbar (the toolbar stays).
    void clearPage();

    // One grading buffer for every thumbnail of a listing.
    std::vector<float> gradeBuffer;
    // The rest of the listing under way asks the service nothing: a request
    // got no answer, or the window was closing when the listing began.
    bool stopAsking = false;
    // Shown under the grid when the listing failed, as a whole or part way.
    std::string listingNotice;
    // Margin and spacing of the window's column (toolbar, page, note).
    static constexpr int kWindowMargin = 5;
};

// Sets the toolkit up the first time a window is needed and leaves it set up
// for the life of the process: shutting it down would destroy every other
// window of the host's process. Throws when no display can be opened.
void ensureToolkit();
