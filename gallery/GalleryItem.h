#pragma once
// One entry of a LUT Manager listing, local or online, as the grid and the item
// actions see it. The kind and the online id travel with the item, so that no
// action has to parse them back out of the item string (a link's item string
// holds a URL, whose colons are no ids).
#include <string>

// Stored in widgets (LutImageView::mKind) and compared with the toolkit's own
// constants: never renumber.
enum LutItemKind : int {
    CubeLut = 0,      // local .cube file
    OtherLut = 1,     // local .3dl file, or an online LUT
    Folder = 2,       // local sub-folder, or an online entry with id -1
    Link = 3,         // online LUT with a web page (id > 0, non-empty "url")
    IconLink = -2,    // online entry with id -2: an icon that opens a web page
    Unreadable = -1,  // a LUT that could not be read or downloaded: no grid cell
};

struct GalleryItem {
    LutItemKind kind = Unreadable;
    // Local: the full path. Online: lutname + ":" + id, folder or url (by kind).
    std::string itemString;
    // Online only.
    int id = 0;
    std::string lutName;
    std::string folder;  // the entry's "folder" value (folders, icon look-up)
    std::string url;     // the entry's "url" value (links)
    bool favorite = false;
};
