#pragma once
// The online library's side of the LUT Manager that needs no window: turning a
// listing into items, icons into tiles, folder values into a place to go, link
// values into an address to open, and the stored-account sign-in before a
// listing. Pure functions apart from the sign-in, so tests call them directly.
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "gallery/GalleryItem.h"

class MemoryStruct;
class OnlineAPI;

// The items of a folder listing in the service's order. A reply that is not an
// array gives none; an entry that is malformed (not an object, a missing or
// non-decimal "id", a member of the wrong type) or that reads as a local path
// (skipPathLikeEntry) is skipped, the rest listed. Only the first
// OnlineAPI::kMaxListingEntries entries are read; folder names the listing in
// the line that says how many were left out.
std::vector<GalleryItem> onlineItems(const nlohmann::json& listing, const std::string& folder = "");

// The box text for a LUT that was not taken because a request to the online
// library got no answer; `what` names what did not arrive.
std::string unreachableLibraryText(const std::string& what);

// The box text for a search that gave up on a library that answers, but too
// slowly: `what` says what did not arrive, and in what time.
std::string slowLibraryText(const std::string& what);

// The largest icon the gallery decodes, per side; larger ones show the folder tile.
constexpr unsigned kMaxIconSide = 1024;

// A previewWidth x previewHeight RGBA tile with the PNG icon centred and turned
// upside down (rows as the GL texture wants them), only pixels of alpha 129 or
// more copied; folderTile itself when the bytes give no icon or one too large.
std::vector<unsigned char> onlineIconTile(const MemoryStruct& png, int previewWidth, int previewHeight,
                                          const std::vector<unsigned char>& folderTile);

// Where activating an online folder item leads: the folder to list and the
// sub-folder to highlight there (empty: none). Up entries ("../" segments)
// lead up and highlight the folder the user came from.
struct OnlineFolderTarget {
    std::string folder;
    std::string highlight;
};
OnlineFolderTarget onlineFolderTarget(const GalleryItem& item);

// The address to open for a link's "url" value: an absolute http(s) URL as it
// stands, a path (starting with "/") against the service's origin; empty for
// any other scheme, an address without a host, or text with blanks, control
// characters or bytes outside ASCII.
std::string onlineLinkAddress(const std::string& url, const std::string& serviceOrigin);

// The caption under an online item's thumbnail: the item string up to its
// first ":" (one character shorter for a folder, whose names end in "/"),
// or all of it when it has none.
std::string onlineCaption(const GalleryItem& item);

// The toolbar's account label for a client: "E-mail: " and the signed-in
// address, or "E-mail: Guest".
std::string accountCaption(const OnlineAPI& api);

// Signs a guest client in with the stored account before an online listing.
// A stored pair the service refused is not sent again until the account form
// logs in afresh (noteFormLogin). Returns the account label's new caption, or
// "" when the label stays as it is (nothing was sent). *failed tells a log-in
// request that got no answer.
std::string signInBeforeListing(OnlineAPI& api, bool* failed = nullptr);
void noteFormLogin();

// What the account form's Login button does with the pair typed into it.
// Remembers the last pair sent and its result for the life of the process
// (every LUT Manager window shares accountFormGate()). A pair is held back
// only when the service itself refused it (wrong password or e-mail) or
// refused the client (outdated version): a pair that met no answer or a
// lock-out may be tried again. Two empty boxes are never sent.
class LoginGate {
public:
    // The code whose message the status line shows instead of sending the
    // pair; none when the pair is to be sent.
    std::optional<int> heldBackCode(const std::string& email, const std::string& password) const;
    // Records the pair that was sent and the code it got.
    void noteSent(const std::string& email, const std::string& password, int code);
    // Whether a log-in is worth keeping in the settings file: only one that
    // signed the client in.
    static bool shouldSaveCredentials(const OnlineAPI& api);

private:
    std::string lastEmail_;
    std::string lastPassword_;
    int lastCode_ = 0;
};
LoginGate& accountFormGate();
