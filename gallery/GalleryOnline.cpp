// Placeholder bodies: the online side of the LUT Manager is not built yet.
// Every online listing is empty and nothing online is opened or signed in.
#include "gallery/GalleryOnline.h"

#include "online/OnlineAPI.h"

std::vector<GalleryItem> onlineItems(const nlohmann::json&) { return {}; }

std::vector<unsigned char> onlineIconTile(const MemoryStruct&, int, int,
                                          const std::vector<unsigned char>& folderTile) {
    return folderTile;
}

OnlineFolderTarget onlineFolderTarget(const GalleryItem& item) { return {item.folder, ""}; }

std::string onlineLinkAddress(const std::string&, const std::string&) { return ""; }

std::string signInBeforeListing(OnlineAPI&) { return ""; }

void noteFormLogin() {}
