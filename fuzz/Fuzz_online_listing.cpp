// The online service's folder listing, as the client reads what it received:
// the reply parsed as lutBrowse gives it, then the (lutname, id) pairs that
// findFilters makes of it, and the items the LUT Manager lists (onlineItems).
// Properties:
//   - an empty reply is the number 0;
//   - the pairs come from the listing's entries, in order, each with an id >= 0
//     and the entry's own name, never more pairs than entries;
//   - the items are the entries onlineItems reads one at a time, in order, and
//     each is well formed: its kind one of the online kinds, its id the
//     entry's, its item string the name, ":" and the id, folder or url as its
//     kind says, its caption the start of the item string;
//   - only the first OnlineAPI::kMaxListingEntries entries are read, by both;
//   - entry by entry, the two readers agree on which entries are LUTs (id >= 0
//     and a web page or none; both skip the entries skipPathLikeEntry finds
//     read as local paths), except where their documented rules differ:
//     findFilters needs a "lutname" and reads no other member, the LUT Manager
//     takes a missing "lutname" as empty and skips an entry whose "url",
//     "folder" or "favorite" has the wrong type.
// Folder icons (onlineIconTile with its size bound) have a target of their own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "gallery/GalleryOnline.h"
#include "online/OnlineAPI.h"

namespace {

using nlohmann::json;

// A member the LUT Manager reads as text: "" when absent; false when present
// with any other type.
bool memberText(const json& entry, const char* name, std::string& text) {
    text.clear();
    const auto it = entry.find(name);
    if (it == entry.end()) return true;
    if (!it->is_string()) return false;
    text = it->get<std::string>();
    return true;
}

bool sameItem(const GalleryItem& a, const GalleryItem& b) {
    return a.kind == b.kind && a.itemString == b.itemString && a.id == b.id && a.lutName == b.lutName &&
           a.folder == b.folder && a.url == b.url && a.favorite == b.favorite;
}

// The item the LUT Manager made of entry, checked against the entry itself.
void checkItem(const GalleryItem& item, const json& entry) {
    fuzz::check(entry.is_object(), "an item comes from an object");
    const auto idText = entry.find("id");
    int id = 0;
    fuzz::check(idText != entry.end() && idText->is_string() && parseLeadingInt(idText->get<std::string>(), id) &&
                    id == item.id,
                "an item's id is its entry's decimal id");
    std::string name, url, folder;
    fuzz::check(memberText(entry, "lutname", name) && memberText(entry, "url", url) &&
                    memberText(entry, "folder", folder),
                "an item's entry has text members");
    fuzz::check(item.lutName == name && item.url == url && item.folder == folder, "an item keeps its entry's text");
    const auto favorite = entry.find("favorite");
    const bool favourite = favorite != entry.end() && favorite->is_string() && favorite->get<std::string>() != "0";
    fuzz::check(item.favorite == favourite, "an item is a favourite when its entry says anything but \"0\"");

    const bool link = id > 0 && !url.empty();
    switch (item.kind) {
        case Link:
            fuzz::check(link && item.itemString == name + ":" + url, "a link: id > 0, a url, name:url");
            break;
        case Folder:
            fuzz::check(id == -1 && item.itemString == name + ":" + folder, "a folder: id -1, name:folder");
            break;
        case IconLink:
            fuzz::check(id == -2 && item.itemString == name + ":" + url, "an icon link: id -2, name:url");
            break;
        case OtherLut:
            fuzz::check(id != -1 && id != -2 && !link && item.itemString == name + ":" + std::to_string(id),
                        "a LUT: any other id, name:id");
            break;
        default:
            fuzz::fail("an online item has an online kind");
    }
    // What the grid and the item actions make of it.
    const std::string caption = onlineCaption(item);
    fuzz::check(name.compare(0, caption.size(), caption) == 0 && caption.size() <= name.size(),
                "the caption is the start of the name");
    if (item.kind == Folder) {
        const OnlineFolderTarget target = onlineFolderTarget(item);
        fuzz::check(folder.compare(0, target.folder.size(), target.folder) == 0 &&
                        target.folder.size() <= folder.size(),
                    "a folder leads to its own folder or one above it");
    }
    if (item.kind == Link) {
        const std::string origin = "https://example.com";
        const std::string address = onlineLinkAddress(url, origin);
        fuzz::check(address.empty() || address == url || address == origin + url,
                    "a link opens its url, on the service's site or as it stands");
    }
}

// Entry by entry: the two readers agree on which entries are LUTs, apart from
// the members only one of them reads.
void checkAgreement(const json& entry) {
    const json one = json::array({entry});
    const auto filters = filtersFromListing(one);
    const auto items = onlineItems(one);
    fuzz::check(filters.size() <= 1 && items.size() <= 1, "one entry makes at most one LUT and one item");
    if (!items.empty()) checkItem(items[0], entry);

    std::string text;
    const auto name = entry.is_object() ? entry.find("lutname") : entry.end();
    const bool named = entry.is_object() && name != entry.end() && name->is_string();
    const auto favorite = entry.is_object() ? entry.find("favorite") : entry.end();
    const bool badForManager =
        entry.is_object() && (!memberText(entry, "url", text) || !memberText(entry, "folder", text) ||
                              (favorite != entry.end() && !favorite->is_null() && !favorite->is_string()));
    if (!filters.empty() && !items.empty()) {
        const GalleryItem& item = items[0];
        fuzz::check(item.kind == OtherLut || item.kind == Link, "a LUT to findFilters is a LUT in the LUT Manager");
        fuzz::check(item.id == filters[0].second && item.lutName == filters[0].first,
                    "both readers see the same name and id");
    } else if (!filters.empty()) {
        fuzz::check(badForManager, "the LUT Manager skips a LUT only for a member of the wrong type");
    } else if (!items.empty()) {
        fuzz::check(items[0].id < 0 || !named, "findFilters skips a LUT only when it has no name");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    const json listing = parseListingReply(reply);
    if (reply.empty()) fuzz::check(listing == json(0), "an empty reply is the number 0");

    const auto filters = filtersFromListing(listing);
    const auto items = onlineItems(listing);
    if (!listing.is_array()) {
        fuzz::check(filters.empty(), "only an array lists LUTs");
        fuzz::check(items.empty(), "only an array lists items");
        return 0;
    }
    fuzz::check(filters.size() <= listing.size(), "no more LUTs than entries");
    // Each pair is a later entry's name, in the listing's order.
    std::size_t entry = 0;
    for (const auto& [name, id] : filters) {
        fuzz::check(id >= 0, "a LUT's id is not negative");
        bool found = false;
        while (!found && entry < listing.size()) {
            const json& e = listing[entry++];
            const auto lutname = e.find("lutname");  // end() for anything but an object
            found = lutname != e.end() && lutname->is_string() && lutname->get<std::string>() == name;
        }
        fuzz::check(found, "each LUT is an entry's name, in order");
    }

    // The items are the entries read one at a time, in order.
    std::size_t next = 0;
    for (std::size_t i = 0; i < listing.size() && i < OnlineAPI::kMaxListingEntries; ++i) {
        const json& e = listing[i];
        checkAgreement(e);
        const auto one = onlineItems(json::array({e}));
        if (one.empty()) continue;
        fuzz::check(next < items.size() && sameItem(items[next], one[0]), "the items are the entries', in order");
        ++next;
    }
    fuzz::check(next == items.size(), "no item without an entry");
    return 0;
}
