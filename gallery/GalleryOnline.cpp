#include "gallery/GalleryOnline.h"

#include <lodepng.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "desktop/Settings.h"
#include "online/OnlineAPI.h"

// ---------------------------------------------------------------------------------------------
// Listing

namespace {

// A member that must be a string when present: false for any other type (null included).
bool optionalString(const nlohmann::json& entry, const char* name, std::string& out) {
    auto it = entry.find(name);
    if (it == entry.end()) return true;
    if (!it->is_string()) return false;
    out = it->get<std::string>();
    return true;
}

// The entry as an item, or false when it is malformed.
bool readEntry(const nlohmann::json& entry, GalleryItem& item) {
    if (!entry.is_object()) return false;
    auto id = entry.find("id");
    if (id == entry.end() || !id->is_string()) return false;
    if (!parseLeadingInt(id->get<std::string>(), item.id)) return false;
    if (!optionalString(entry, "lutname", item.lutName) || !optionalString(entry, "url", item.url) ||
        !optionalString(entry, "folder", item.folder))
        return false;
    auto favorite = entry.find("favorite");
    if (favorite != entry.end() && !favorite->is_null()) {
        if (!favorite->is_string()) return false;
        item.favorite = favorite->get<std::string>() != "0";
    }

    if (item.id > 0 && !item.url.empty()) {
        item.kind = Link;
        item.itemString = item.lutName + ":" + item.url;
    } else if (item.id == -1) {
        item.kind = Folder;
        item.itemString = item.lutName + ":" + item.folder;
    } else if (item.id == -2) {
        item.kind = IconLink;
        item.itemString = item.lutName + ":" + item.url;
    } else {
        item.kind = OtherLut;
        item.itemString = item.lutName + ":" + std::to_string(item.id);
    }
    return true;
}

}  // namespace

std::vector<GalleryItem> onlineItems(const nlohmann::json& listing, const std::string& folder) {
    std::vector<GalleryItem> items;
    const std::size_t used = usedListingEntries(listing, folder);
    items.reserve(used);
    for (std::size_t i = 0; i < used; ++i) {
        GalleryItem item;
        if (readEntry(listing[i], item) && !skipPathLikeEntry(item.id, item.lutName, item.folder))
            items.push_back(std::move(item));
    }
    return items;
}

std::string unreachableLibraryText(const std::string& what) {
    return "The online library could not be reached: " + what + " did not arrive.\nThe current LUT is kept.";
}

std::string slowLibraryText(const std::string& what) {
    return "The online library did not answer in time: " + what + ".\nThe current LUT is kept.";
}

std::string onlineCaption(const GalleryItem& item) {
    const std::size_t colon = item.itemString.find(':');
    if (colon == std::string::npos) return item.itemString;
    std::size_t length = colon;
    if (item.kind == Folder && length > 0) --length;
    return item.itemString.substr(0, length);
}

// ---------------------------------------------------------------------------------------------
// Icons

std::vector<unsigned char> onlineIconTile(const MemoryStruct& png, int previewWidth, int previewHeight,
                                          const std::vector<unsigned char>& folderTile) {
    if (previewWidth <= 0 || previewHeight <= 0 || png.size() == 0) return folderTile;
    const auto* bytes = reinterpret_cast<const unsigned char*>(png.memory());

    // The header alone tells the size: a small file may announce a huge picture.
    unsigned iw = 0, ih = 0;
    lodepng::State header;
    if (lodepng_inspect(&iw, &ih, &header, bytes, png.size()) != 0) return folderTile;
    if (iw == 0 || ih == 0 || iw > kMaxIconSide || ih > kMaxIconSide) return folderTile;

    // Nor may a small file inflate to gigabytes: the image data may not grow past what an
    // icon of this size can hold (a filter byte and 8 bytes a pixel in each row, with room
    // for the extra rows of interlacing), and text chunks are of no use to a tile.
    lodepng::State state;
    state.info_raw.colortype = LCT_RGBA;
    state.info_raw.bitdepth = 8;
    state.decoder.read_text_chunks = 0;
    state.decoder.zlibsettings.max_output_size = (std::size_t(ih) * 2 + 16) * (1 + std::size_t(iw) * 8);
    std::vector<unsigned char> icon;
    if (lodepng::decode(icon, iw, ih, state, bytes, png.size()) != 0) return folderTile;
    if (iw == 0 || ih == 0 || icon.size() != std::size_t(iw) * ih * 4) return folderTile;

    const std::size_t tileWidth = std::size_t(previewWidth), tileHeight = std::size_t(previewHeight);
    std::vector<unsigned char> tile(tileWidth * tileHeight * 4, 0);
    const std::size_t left = iw < tileWidth ? (tileWidth - iw) / 2 : 0;
    const std::size_t bottom = ih < tileHeight ? (tileHeight - ih) / 2 : 0;
    const std::size_t columns = std::min<std::size_t>(iw, tileWidth - left);
    for (std::size_t r = 0; r < ih; ++r) {
        // Upside down: the texture's first row is the picture's bottom.
        const std::size_t row = bottom + ih - 1 - r;
        if (row >= tileHeight) continue;
        const unsigned char* source = icon.data() + r * iw * 4;
        unsigned char* target = tile.data() + (row * tileWidth + left) * 4;
        for (std::size_t c = 0; c < columns; ++c)
            if (source[c * 4 + 3] >= 129) std::memcpy(target + c * 4, source + c * 4, 4);
    }
    return tile;
}

// ---------------------------------------------------------------------------------------------
// Folders and links

namespace {

// text before its last "/"; the empty string when it has none.
std::string beforeLastSeparator(const std::string& text) {
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

std::string afterLastSeparator(const std::string& text) {
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

}  // namespace

OnlineFolderTarget onlineFolderTarget(const GalleryItem& item) {
    std::string folder = item.folder;
    int up = 0;
    while (folder.size() >= 3 && folder.find("../") != std::string::npos) {
        folder = beforeLastSeparator(folder);
        ++up;
    }
    if (up == 0) return {folder, onlineCaption(item)};

    // folder now ends in the last ".." segment: drop it, then climb one level per "../",
    // remembering the folder left last, through which the user came up.
    std::string highlight;
    folder = beforeLastSeparator(folder);
    for (int i = 0; i < up; ++i) {
        if (i == up - 1) highlight = afterLastSeparator(folder);
        folder = beforeLastSeparator(folder);
    }
    return {folder, highlight};
}

namespace {

bool startsWithNoCase(const std::string& text, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

std::string onlineLinkAddress(const std::string& url, const std::string& serviceOrigin) {
    if (url.empty()) return "";
    // Blanks, control characters and bytes outside ASCII do not belong in an address;
    // such text is not opened at all rather than guessed at.
    for (unsigned char c : url)
        if (c <= 0x20 || c >= 0x7f) return "";
    for (const char* scheme : {"http://", "https://"}) {
        if (!startsWithNoCase(url, scheme)) continue;
        const std::size_t host = std::strlen(scheme);
        if (host == url.size() || url[host] == '/') return "";  // no host
        return url;
    }
    // A path on the service's own site.
    if (url[0] == '/' && !serviceOrigin.empty()) return serviceOrigin + url;
    return "";
}

// ---------------------------------------------------------------------------------------------
// Account

namespace {

const char* const kAccountPrefix = "E-mail: ";

// The stored pair the service refused before a listing: not sent again until the user
// logs in through the account form. One per process, as the stored pair is.
struct RefusedStoredPair {
    bool present = false;
    std::string email;
    std::string password;
};
RefusedStoredPair& refusedStoredPair() {
    static RefusedStoredPair pair;
    return pair;
}

}  // namespace

std::string accountCaption(const OnlineAPI& api) {
    return kAccountPrefix + (api.getEmail().empty() ? std::string("Guest") : api.getEmail());
}

std::string signInBeforeListing(OnlineAPI& api, bool* failed) {
    if (failed) *failed = false;
    if (!api.getEmail().empty()) return "";
    const std::vector<std::string> stored = getLoginPassword();
    if (stored.size() != 2 || stored[0].empty() || stored[1].empty()) return "";

    RefusedStoredPair& refused = refusedStoredPair();
    if (refused.present && refused.email == stored[0] && refused.password == stored[1]) {
        // List as a guest without asking the service again (a lock-out or a time-out each time).
        if (api.getSession().empty()) api.login("", "");
        return "";
    }
    const int code = api.login(stored[0].c_str(), stored[1].c_str(), failed);
    if (code < 0) {
        refused = {true, stored[0], stored[1]};
        api.login("", "");
    }
    return accountCaption(api);
}

void noteFormLogin() { refusedStoredPair() = {}; }

std::optional<int> LoginGate::heldBackCode(const std::string& email, const std::string& password) const {
    if (email.empty() && password.empty()) return OnlineAPI::kLoginUnusable;
    // Only the service's own verdict on this very pair is final; no answer (-5) or a
    // lock-out (-3) may change when the network or the lock comes back.
    const bool refused = lastCode_ == -1 || lastCode_ == -2 || lastCode_ == -4;
    if (refused && email == lastEmail_ && password == lastPassword_) return lastCode_;
    return std::nullopt;
}

void LoginGate::noteSent(const std::string& email, const std::string& password, int code) {
    lastEmail_ = email;
    lastPassword_ = password;
    lastCode_ = code;
}

bool LoginGate::shouldSaveCredentials(const OnlineAPI& api) { return api.isAuth(); }

LoginGate& accountFormGate() {
    static LoginGate gate;
    return gate;
}
