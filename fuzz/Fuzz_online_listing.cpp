// The online service's folder listing, as the client reads what it received:
// the reply parsed as lutBrowse gives it, then the (lutname, id) pairs that
// findFilters makes of it. Properties: an empty reply is the number 0; the
// pairs come from the listing's entries, in order, each with an id >= 0 and
// the entry's own name, never more pairs than entries.
//
// The LUT Manager's listing (onlineItems in gallery/GalleryOnline.h) reads the
// same parsed value: once it is built, call it below on `listing` and check
// that every item comes from an entry of the listing, in order. Folder icons
// (onlineIconTile with its size bound) get a target of their own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "online/OnlineAPI.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    const nlohmann::json listing = parseListingReply(reply);
    if (reply.empty()) fuzz::check(listing == nlohmann::json(0), "an empty reply is the number 0");

    const auto filters = filtersFromListing(listing);
    if (!listing.is_array()) {
        fuzz::check(filters.empty(), "only an array lists LUTs");
        return 0;
    }
    fuzz::check(filters.size() <= listing.size(), "no more LUTs than entries");
    // Each pair is a later entry's name, in the listing's order.
    std::size_t entry = 0;
    for (const auto& [name, id] : filters) {
        fuzz::check(id >= 0, "a LUT's id is not negative");
        bool found = false;
        while (!found && entry < listing.size()) {
            const nlohmann::json& e = listing[entry++];
            const auto lutname = e.find("lutname");  // end() for anything but an object
            found = lutname != e.end() && lutname->is_string() && lutname->get<std::string>() == name;
        }
        fuzz::check(found, "each LUT is an entry's name, in order");
    }
    return 0;
}
