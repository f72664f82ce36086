// What clicks on the grid's items do: select a LUT, toggle an online LUT's
// favourite mark, and activate an item (enter a folder, open a link, or take
// the LUT and close the window).
#include <string>

#include "desktop/boxer_osx.h"
#include "gallery/GalleryOnline.h"
#include "gallery/LutGallery.h"
#include "gallery/OpenUrl.h"
#include "gallery/toolkit/Toolkit.h"
#include "online/OnlineAPI.h"

void LutGallery::select(const std::string& item) { selection = item; }

void LutGallery::toggleFavorite(nanogui::LutImageView* view, const GalleryItem& item) {
    // Only online LUTs carry a favourite mark; a link's id names no LUT.
    if (!view || !isOnline || item.kind == Folder || item.kind == IconLink || item.kind == Link) return;
    if (api->getEmail().empty()) {
        showBox("Please log-in to add LUTs to favorites", "Favorite", BoxStyle::Error, BoxButtons::OK);
        loginForm();
        return;
    }
    if (api->setChangeFavorite(item.id, !view->mFavorite)) view->mFavorite = !view->mFavorite;
}

void LutGallery::activate(const GalleryItem& item) {
    switch (item.kind) {
    case Link:
    case IconLink: {
        const std::string address = onlineLinkAddress(item.url, api->getBaseUrl());
        if (address.empty())
            showBox(("This link cannot be opened: " + item.url).c_str(), "Open link", BoxStyle::Error,
                    BoxButtons::OK);
        else
            openURL(address);
        OnlineAPI::clearCash();
        return;
    }
    case Folder:
        if (isOnline) {
            const OnlineFolderTarget target = onlineFolderTarget(item);
            highlightName = target.highlight;
            paths[0] = target.folder;
        } else {
            paths[0] = item.itemString;
            highlightName = afterLastSeparator(item.itemString, paths[2].empty() ? '/' : paths[2][0]);
        }
        selection.clear();
        choseFolder();
        return;
    case Unreadable:
        return;
    default:
        break;
    }
    if (isOnline) {
        deliverOnline(item);
    } else if (fileCallback) {
        fileCallback(item.itemString);
    }
    // Delivered here: closing must not deliver the same LUT again.
    selection.clear();
    stop();
}
