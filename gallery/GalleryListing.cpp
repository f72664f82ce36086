// Listing a folder into the grid: the entries (a local directory or an online
// folder), one thumbnail each (the preview graded by the entry's LUT, or a
// folder icon), the progress panel meanwhile, and the grid at the end.
#include <dirent.h>
#include <sys/stat.h>

#include <nanogui/label.h>
#include <nanogui/layout.h>
#include <nanogui/slider.h>

#include <chrono>
#include <memory>
#include <thread>

#include "gallery/GalleryOnline.h"
#include "gallery/LutGallery.h"
#include "gallery/toolkit/Toolkit.h"
#include "lut/LocalLutPath.h"
#include "lut/MathClass.h"
#include "lut/TextForPeople.h"
#include "online/OnlineAPI.h"

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The entries in the order the directory gives them; none when it cannot be
// read. Links are not followed: a link to a folder is no folder.
std::vector<DirectoryEntry> readDirectory(const std::string& folder) {
    std::vector<DirectoryEntry> entries;
    std::unique_ptr<DIR, DirCloser> dir(folder.empty() ? nullptr : ::opendir(folder.c_str()));
    if (!dir) return entries;
    while (const dirent* entry = ::readdir(dir.get())) {
        DirectoryEntry e;
        e.name = entry->d_name;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            const std::string path = folder + "/" + e.name;
            e.isDirectory = ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        } else {
            e.isDirectory = entry->d_type == DT_DIR;
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace

void LutGallery::forgetShownFolder() { folderOnShow = false; }

void LutGallery::choseFolder() {
    if (paths.size() != 3 || !screen || !window || !pathBox) return;
    if (folderOnShow && !paths[0].empty() && pathBox->value() == paths[0]) return;
    selection.clear();
    folderOnShow = false;
    setToolbarEnable(false);
    loading();

    // Until the grid stands, the path box names a folder that is not shown:
    // a listing that ends early must not make that folder impossible to list.
    struct Unfinished {
        LutGallery& gallery;
        bool done = false;
        ~Unfinished() {
            if (!done) gallery.forgetShownFolder();
        }
    } unfinished{*this};

    // Closing the window during the listing ends it at the next entry. A
    // listing asked for in the same batch of events as the close still runs
    // (a local one grades from the preview at hand), but an online one asks
    // the service nothing for a window that is going.
    const bool closingBefore = closeRequested();
    std::vector<GalleryItem> items;
    stopAsking = isOnline && closingBefore;
    listingNotice.clear();
    if (!stopAsking) listEntries(items);
    // Each thumbnail goes to the GPU as soon as it is graded, so the listing
    // holds one grading buffer whatever the number of entries.
    std::vector<Picture> pictures;
    SharedPictures shared;
    const int count = static_cast<int>(items.size());
    const auto gone = [&] { return !screen || !window || (!closingBefore && closeRequested()); };
    for (int i = 0; i < count; ++i) {
        if (gone()) return;
        pictures.push_back(thumbnail(items[i], shared));
        showProgress(i, count);
    }
    if (gone()) return;
    if (stopAsking && listingNotice.empty() && !closingBefore)
        listingNotice = "The online library stopped answering: the entries after the first that did not arrive "
                        "show no picture.";
    buildGrid(items, pictures);
    std::vector<float>().swap(gradeBuffer);  // frees it (assigning {} would keep the memory)
    setToolbarEnable(true);
    unfinished.done = true;
    folderOnShow = true;
}

void LutGallery::listEntries(std::vector<GalleryItem>& items) {
    if (isOnline) {
        bool failed = false;
        const std::string caption = signInBeforeListing(*api, &failed);
        if (!caption.empty() && accountLabel) accountLabel->setCaption(caption);
        if (!failed) items = onlineItems(api->lutBrowse(paths[0].c_str(), &failed), paths[0]);
        stopAsking = failed;
        if (failed) listingNotice = "The online library could not be reached: this folder could not be listed.";
    } else {
        items = localItems(readDirectory(paths[0]), paths[0], paths[2]);
    }
}

LutGallery::Picture LutGallery::thumbnail(GalleryItem& item, SharedPictures& shared) {
    using nanogui::GlTexture;
    const GLint format = channels == 4 ? GL_RGBA : GL_RGB;
    const auto picture = [](GlTexture texture) { return std::make_shared<const GlTexture>(std::move(texture)); };
    // After the first request of a listing that got no answer, the rest of
    // the listing asks nothing: icons show the folder tile, LUTs no picture.
    if (item.kind == Folder || item.kind == IconLink) {
        if (!isOnline || stopAsking) return folderPicture(shared);
        const MemoryStruct icon = api->donwloadIconFolder(item.folder.c_str(), &stopAsking);
        const std::vector<unsigned char> tile = onlineIconTile(icon, previewWidth, previewHeight, folderTile);
        if (tile == folderTile) return folderPicture(shared);
        return picture(GlTexture::create(previewWidth, previewHeight, format, format, GL_UNSIGNED_BYTE, tile.data()));
    }

    Lut lut;
    if (isOnline) {
        if (!stopAsking) lut = api->downloadLut(item.id, &stopAsking);
        if (stopAsking) return blankPicture(shared);
    } else if (isRegularFile(item.itemString)) {
        std::string presetText;
        lut = Lut().loadFromFile(item.itemString, presetText, false, item.kind == OtherLut ? 1 : 0);
    }
    const int n = lut.getDimSize();
    if (n < 1 || !lut.getData()) {
        item.kind = Unreadable;
        return nullptr;
    }
    const int pixelCount = previewWidth * previewHeight;
    gradeBuffer.resize(std::size_t(pixelCount) * channels);
    const float r0 = lut.getInputRange0(), r1 = lut.getInputRange1();
    const bool useRange = !(r0 == 0.0f && r1 == 1.0f);
    if (bytesPerPixel / channels == 4)
        applyLutCPUTrilinear(previewFloat.data(), gradeBuffer.data(), lut.getData(), r0, r1, useRange, n, pixelCount,
                             channels);
    else
        applyLutCPUTrilinear(preview.data(), gradeBuffer.data(), lut.getData(), r0, r1, useRange, n, pixelCount,
                             channels);
    return picture(GlTexture::create(previewWidth, previewHeight, format, format, GL_FLOAT, gradeBuffer.data()));
}

LutGallery::Picture LutGallery::folderPicture(SharedPictures& shared) const {
    if (!shared.folder)
        shared.folder = std::make_shared<const nanogui::GlTexture>(nanogui::GlTexture::create(
            previewWidth, previewHeight, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE, folderTile.data()));
    return shared.folder;
}

LutGallery::Picture LutGallery::blankPicture(SharedPictures& shared) const {
    // A small transparent picture of the preview's shape: the view scales it
    // to a thumbnail's size, and the window shows through.
    if (!shared.blank) {
        const int width = (previewWidth + 7) / 8, height = (previewHeight + 7) / 8;
        const std::vector<unsigned char> clear(std::size_t(width) * height * 4, 0);
        shared.blank = std::make_shared<const nanogui::GlTexture>(
            nanogui::GlTexture::create(width, height, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE, clear.data()));
    }
    return shared.blank;
}

bool LutGallery::closeRequested() const { return screen && glfwWindowShouldClose(screen->glfwWindow()); }

void LutGallery::showProgress(int entry, int count) {
    const float percent = progressPercent(entry, count);
    if (progressBar) progressBar->setValue(percent / 100.0f);
    if (loadingLabel) loadingLabel->setCaption(progressLabel(entry, count));
    if (loadingColumn) loadingColumn->setFixedWidth(window->width());
    if (onProgress) onProgress(entry, count);
    if (!progressPauseAndDraw) return;
    screen->performLayout();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    nanogui::drawall();
    // Take the window's events, so that its close button works during a long
    // listing. Listings run as deferred work outside event handling; the
    // guard keeps it so should one ever be started while the modal loop is
    // handing events out (the toolkit's handlers are not reentrant).
    if (!takingEvents) {
        takingEvents = true;
        glfwPollEvents();
        takingEvents = false;
    }
}

void LutGallery::loading() {
    using namespace nanogui;
    window->setFixedSize(screen->size());
    pathBox->setValue(paths[0]);
    clearPage();
    shownItems.clear();
    auto* panel = new Widget(window);
    panel->setLayout(new BoxLayout(Orientation::Horizontal, Alignment::Middle, 10, 10));
    panel->setFixedSize(Vector2i(window->width(), window->height() - window->height() / 5));
    loadingColumn = new Widget(panel);
    loadingColumn->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Middle, 10, 10));
    loadingLabel = new Label(loadingColumn, "Loading", "sans");
    loadingLabel->setFixedWidth(500);
    progressBar = new Slider(loadingColumn);
    progressBar->setFixedWidth(500);
    progressBar->setEnabled(false);
    progressBar->setValue(0.0f);
    screen->performLayout();
    screen->setVisible(true);
}

void LutGallery::buildGrid(std::vector<GalleryItem>& items, std::vector<Picture>& pictures) {
    using namespace nanogui;
    clearPage();
    progressBar = nullptr;
    loadingLabel = nullptr;
    loadingColumn = nullptr;
    auto* panel = new LutScrollPanel(window);
    auto* grid = new Widget(panel);
    grid->setLayout(new GridLayout(Orientation::Horizontal, 3, Alignment::Middle, 3, 3));

    const char separator = paths[2].empty() ? '/' : paths[2][0];
    const std::string lastName = afterLastSeparator(lastPath, separator);
    std::vector<GalleryItem> readable;
    std::vector<Picture> readablePictures;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind == Unreadable) continue;
        readable.push_back(std::move(items[i]));
        readablePictures.push_back(std::move(pictures[i]));
    }
    const std::vector<bool> picked = pickedItems(readable, isOnline, paths[2], lastName, highlightName);
    // The mark is the same picture for every cell: one texture for the grid.
    const auto overlay = std::make_shared<const GlTexture>(
        GlTexture::create(kFavoriteSide, kFavoriteSide, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE, favoriteImage.data()));
    for (std::size_t i = 0; i < readable.size(); ++i) {
        const GalleryItem& item = readable[i];
        auto* cell = new Widget(grid);
        cell->setLayout(new BoxLayout(Orientation::Vertical, Alignment::Fill, 0, 0));
        auto* view =
            new LutImageView(cell, readablePictures[i], overlay, item.itemString, item.kind, picked[i]);
        // Names come from outside: shown with their control characters made visible.
        auto* caption = new Label(cell, "", "sans");
        setFittedCaption(caption, screen->nvgContext(), escapeControls(itemCaption(item, isOnline, paths[2])),
                         screen->width() / 4);
        view->mSelectCallback = [this](std::string chosen) { select(chosen); };
        if (isOnline && item.kind != Folder && item.kind != IconLink && item.kind != Link) {
            view->mFavorite = item.favorite;
            view->mRightClickCallback = [this, view, item] {
                afterEventOnPage([this, view, item] { toggleFavorite(view, item); });
            };
        }
        view->mDoubleClickCallback = [this, item] { afterEventOnPage([this, item] { activate(item); }); };
        view->followWindow();
    }
    // The note goes under the grid, not into it: a cell of its width would
    // push the columns out of their places.
    if (!listingNotice.empty()) {
        auto* note = new Label(window, listingNotice, "sans");
        note->setFixedWidth(window->width() - 2 * kWindowMargin);
    }
    shownItems = std::move(readable);

    screen->performLayout();
    nanogui::drawall();
    if (!screen) return;
    screen->performLayout();
    if (panel->scrollToCurrent()) nanogui::drawall();
}
