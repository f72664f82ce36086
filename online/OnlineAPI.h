#pragma once
// Client of the online LUT library: log-in (or guest access), signed requests, folder
// listings, downloads of LUTs, presets and folder icons into process-wide caches, and the
// per-user favourite flag.
//
// Every request is synchronous, on the caller's thread, over HTTPS with the peer and host
// verified, and ends after at most kTimeoutMs, or sooner when the client has a deadline. A request counts only when the transfer
// completed with HTTP status 200; anything else gives the operation's failure result and
// nothing is cached. Replies are capped by kind (kMax*Bytes) and fail past the cap.
// Operations that take a `failed` flag set it when the request got no answer (no handle, a
// refused connection, a TLS failure, a time-out, an HTTP error, a cut reply or one past its
// cap), so that callers can tell a service that does not answer from one that answered
// without a LUT, and stop asking it.
//
// Not thread-safe: the client and the caches are meant for one (the user interface's) thread.
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "lut/Lut.h"
#include "online/DownloadCache.h"
#include "online/ServiceAddress.h"

// A block of received bytes, always followed by one NUL that size() does not count.
// Copies share the bytes (a copy stays valid after the caches are cleared); appending to a
// shared block first makes it private, so a copy never changes under its holder.
class MemoryStruct {
public:
    // An empty block that may grow to limit bytes.
    explicit MemoryStruct(std::size_t limit);

    const char* memory() const { return block_->data(); }
    std::size_t size() const { return block_->size() - 1; }

    // Appends n bytes unless that would pass the limit; false (and nothing added) then.
    bool append(const char* bytes, std::size_t n);
    // Drops the room that growing left behind the bytes (a block that is kept, say in a
    // cache, should hold what it counts); copies made before keep the old block.
    void compact();
    // Bytes the block takes, its room to grow and the NUL included.
    std::size_t capacityBytes() const { return block_->capacity(); }

private:
    std::shared_ptr<std::vector<char>> block_;
    std::size_t limit_;
};

// A text reply with its cap; the receive buffer of writeCallback.
struct TextReply {
    explicit TextReply(std::size_t limit_) : limit(limit_) {}
    std::string text;
    std::size_t limit;
};

class OnlineAPI {
public:
    static constexpr long kTimeoutMs = 5000;
    static constexpr const char* kUserAgent = "QuillaneOFX";
    static constexpr int kClientVersion = 1;
    static constexpr const char* kGuestSession = "OpenVisitor";
    static constexpr int kLoginUnusable = -5;

    // Caps on reply sizes, generous for what the service serves.
    static constexpr std::size_t kMaxTextReplyBytes = 64 * 1024;          // log-in, favourite
    static constexpr std::size_t kMaxListingBytes = 8 * 1024 * 1024;
    static constexpr std::size_t kMaxLutBytes = 32 * 1024 * 1024;         // N up to about 220
    static constexpr std::size_t kMaxPresetBytes = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxIconBytes = 8 * 1024 * 1024;

    // Byte budgets of the three download caches, 256 MiB in all. The LUT cache holds the
    // largest LUT a reply may carry (about 180 MB of nodes) and every preset and icon fits
    // its own cache.
    struct CacheBudgets {
        std::size_t lutBytes;
        std::size_t presetBytes;
        std::size_t iconBytes;
    };
    static constexpr CacheBudgets kCacheBudgets = {192u << 20, 32u << 20, 32u << 20};

    // The entries of a folder listing that are used: the first ones, up to this many.
    static constexpr std::size_t kMaxListingEntries = 2000;

    // The service of serviceAddress(): the built-in origin or the one the environment names.
    OnlineAPI();
    // A given origin and trust file (empty: the system's trust store).
    explicit OnlineAPI(quillane::online::ServiceAddress address);
    ~OnlineAPI();
    OnlineAPI(const OnlineAPI&) = delete;
    OnlineAPI& operator=(const OnlineAPI&) = delete;

    // Result codes: 1 guest (empty e-mail, no request), >= 1 signed in, < 1 refused
    // (-1 password, -2 e-mail, -3 too many attempts, -4 old client), -5 no usable answer.
    int login(char const* email, char const* password, bool* failed = nullptr);
    static char const* getLoginError(int code);
    bool isAuth() const { return !session.empty() && !email.empty(); }

    // HMAC-SHA512 of message under hmacKey: 128 upper-case hexadecimal digits.
    std::string sign(std::string message) const;

    static char const* getRequest(int index);
    static std::size_t writeCallback(char* data, std::size_t size, std::size_t nmemb, void* userdata);
    static std::size_t writeCallbackDownload(char* data, std::size_t size, std::size_t nmemb,
                                             void* userdata);
    static bool is_number(std::string const& s);
    static std::string binary_to_hex(unsigned char const* bytes, unsigned int length);

    // The parsed listing; a discarded value for text that is not JSON; the number 0 when
    // the request failed or the reply was empty.
    nlohmann::json lutBrowse(char const* folder, bool* failed = nullptr);
    // The empty Lut on failure, and for a reply that holds no LUT.
    Lut downloadLut(int id, bool* failed = nullptr);
    // Size 0 on failure; an empty reply is an empty preset.
    MemoryStruct downloadLutPreset(int id, bool* failed = nullptr);
    MemoryStruct donwloadIconFolder(char const* folder, bool* failed = nullptr);
    // True when the service answered exactly "ok"; false for a guest, without a request.
    bool setChangeFavorite(int id, bool favorite);
    // Empties the three download caches, shared by every client of the process.
    static void clearCash();
    // Bytes the three caches hold; their budgets (tests make them small).
    static std::size_t cachedBytes();
    static void setCacheBudgets(CacheBudgets budgets);

    // Work made of several requests (a step through a folder) ends by a deadline: from now
    // on each request's time-out is cut to what is left of it, and once it has passed no
    // request is sent (the operation fails as one that got no answer). None: every request
    // has kTimeoutMs.
    using Clock = std::chrono::steady_clock;
    void setDeadline(std::optional<Clock::time_point> deadline) { this->deadline = deadline; }
    bool pastDeadline() const { return deadline && Clock::now() >= *deadline; }

    const std::string& getBaseUrl() const { return baseUrl; }
    const std::string& getEmail() const { return email; }
    const std::string& getSession() const { return session; }

private:
    bool post(const std::string& path, const std::string& body, TextReply& reply) const;
    bool get(const std::string& pathAndQuery, void* sink, bool binary) const;
    // The bytes of key: from the cache, or by the GET that query() makes (signing costs,
    // so only on a miss), kept when it got an answer.
    template <class Key>
    MemoryStruct downloadBytes(DownloadCache<Key, MemoryStruct>& cache, const Key& key, std::size_t keyBytes,
                               const std::function<std::string()>& query, std::size_t limit, bool* failed);

    std::string baseUrl;
    std::string hmacKey;
    std::string email;
    std::string session;
    std::string caFile;
    std::optional<Clock::time_point> deadline;

    static DownloadCache<int, Lut> lutsCash;
    static DownloadCache<int, MemoryStruct> presetCash;
    static DownloadCache<std::string, MemoryStruct> iconCash;
};

// The service's replies read without a transfer: the client calls these on what it received,
// and they are what tests and fuzzers feed with hostile text.

// A log-in reply: the code, and the session token when the reply signs the user in (a
// number >= 1, one blank, the token). kLoginUnusable for anything that is no code.
struct LoginReply {
    int code = OnlineAPI::kLoginUnusable;
    bool signedIn = false;
    std::string session;
};
LoginReply parseLoginReply(std::string const& text);

// A listing reply as lutBrowse gives it: the number 0 for an empty reply, a discarded value
// for text that is not JSON, else the parsed value, whatever its shape.
nlohmann::json parseListingReply(std::string const& text);

// The (lutname, id) pairs of a parsed listing, as findFilters gives them.
std::vector<std::pair<std::string, int>> filtersFromListing(nlohmann::json const& listing,
                                                            std::string const& folder = "");

// How many entries of a listing are read: all of an array up to kMaxListingEntries, none of
// anything else. When entries are left out, one line on standard error names the folder and
// how many.
std::size_t usedListingEntries(nlohmann::json const& listing, std::string const& folder);

// Whether a listing entry (its id, name and folder values) must be skipped because a value
// would later be read as a path on this machine: an absolute path, a ".." component, or a
// LUT file's extension at its end (the rule that tells local LUT names from online ones
// looks at that). The folder value counts only for the entries that are opened or fetch
// their icon by it (ids -1 and -2); a LUT entry is judged by its name. The "../" segments
// that end a folder entry's folder value are the service's way up (its name is then ".."
// or "../") and stay. One line on standard error names each entry skipped.
bool skipPathLikeEntry(int id, std::string const& name, std::string const& folder);

// The time-out of a request sent at `now`: kTimeoutMs, cut to what is left before the
// deadline; 0 when nothing is left, and then no request is sent (libcurl would read 0 as
// no limit at all).
long requestTimeoutMs(std::optional<OnlineAPI::Clock::time_point> deadline, OnlineAPI::Clock::time_point now);

// True when a favourite reply accepts the change: exactly "ok".
bool favoriteAccepted(std::string const& text);

// The LUTs of an online folder as (lutname, id) pairs in the service's order; entries with a
// negative id (sub-folders, links), malformed and path-like entries are skipped. Empty for a
// LUT file path (.cube/.3dl), a missing client, or a listing that is not an array; *failed
// tells a listing request that got no answer, *leftOut a listing of more entries than are read.
std::vector<std::pair<std::string, int>> findFilters(std::string folder, OnlineAPI* api,
                                                     bool* failed = nullptr, bool* leftOut = nullptr);

// An online LUT with the preset the service holds for it, fetched as one delivery: the LUT
// first (an entry without one costs no preset request), then its preset. A LUT without its
// preset is not taken: a preset request that got no answer fails the fetch.
struct FetchedLut {
    enum Outcome { Taken, NoLut, LutFailed, PresetFailed };
    Outcome outcome = NoLut;
    Lut lut;                   // what the service sent (empty unless Taken or NoLut)
    std::vector<char> preset;  // Taken only
};
FetchedLut fetchLutWithPreset(OnlineAPI& api, int id);

// Decimal value of a listing's id text by std::stoi's rules (leading blanks and a sign
// allowed, text after the digits ignored), without its exceptions: false when there are no
// digits or the value does not fit an int. Every reader of listing ids uses this one.
bool parseLeadingInt(const std::string& text, int& value);

// s with every occurrence of from replaced by to; inserted text is not searched again.
std::string replaceString(std::string s, std::string const& from, std::string const& to);

// A request value made safe for a query or form body: unreserved characters, "/", "@" and
// ":" stay, everything else becomes %XX (a blank becomes "%20").
std::string encodeValue(std::string const& value);
