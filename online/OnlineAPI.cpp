#include "online/OnlineAPI.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <memory>
#include <string_view>

#include <curl/curl.h>

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/hmac.h>
#include <cryptopp/sha.h>

#include "lut/LutFile.h"
#include "lut/TextForPeople.h"

// ---------------------------------------------------------------------------------------------
// MemoryStruct

MemoryStruct::MemoryStruct(std::size_t limit)
    : block_(std::make_shared<std::vector<char>>(1, '\0')), limit_(limit) {}

bool MemoryStruct::append(const char* bytes, std::size_t n) {
    if (n > limit_ || size() > limit_ - n) return false;
    if (n == 0) return true;
    if (block_.use_count() > 1) block_ = std::make_shared<std::vector<char>>(*block_);
    block_->pop_back();  // the NUL
    block_->insert(block_->end(), bytes, bytes + n);
    block_->push_back('\0');
    return true;
}

void MemoryStruct::compact() {
    if (block_->capacity() == block_->size()) return;
    // A vector made from a range holds exactly that range.
    block_ = std::make_shared<std::vector<char>>(block_->begin(), block_->end());
}

// ---------------------------------------------------------------------------------------------
// Process-wide download caches

DownloadCache<int, Lut> OnlineAPI::lutsCash(OnlineAPI::kCacheBudgets.lutBytes);
DownloadCache<int, MemoryStruct> OnlineAPI::presetCash(OnlineAPI::kCacheBudgets.presetBytes);
DownloadCache<std::string, MemoryStruct> OnlineAPI::iconCash(OnlineAPI::kCacheBudgets.iconBytes);

void OnlineAPI::clearCash() {
    lutsCash.clear();
    presetCash.clear();
    iconCash.clear();
}

std::size_t OnlineAPI::cachedBytes() { return lutsCash.heldBytes() + presetCash.heldBytes() + iconCash.heldBytes(); }

void OnlineAPI::setCacheBudgets(CacheBudgets budgets) {
    lutsCash.setBudget(budgets.lutBytes);
    presetCash.setBudget(budgets.presetBytes);
    iconCash.setBudget(budgets.iconBytes);
}

namespace {

// What an entry holds: its bytes with the bookkeeping around them.
constexpr std::size_t kEntryOverheadBytes = 64;

std::size_t cachedSize(const Lut& lut) {
    return sizeof(Lut) + kEntryOverheadBytes + std::size_t(std::max(lut.totalSize(), 0)) * 4 * sizeof(float);
}

std::size_t cachedSize(const MemoryStruct& bytes, std::size_t keyBytes) {
    return sizeof(MemoryStruct) + kEntryOverheadBytes + bytes.capacityBytes() + keyBytes;
}

void setFlag(bool* flag, bool value) {
    if (flag) *flag = value;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Transport

namespace {

// The service's shared signing key. Its 86 characters are the key bytes as they stand.
const char* const kHmacKey =
    "Hq3vLw8ZtN5pRkx2YcBfJ7mQe+Ds4Wug9PaVn1TzK6oHbXy3Cr/Ei8Fj2Ml5Gq0Sd7Ut+NwA4hZk9Rv1Le/Yp6";

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

// Options every request shares: the time-out, our user agent, https only, and the peer's
// certificate and host name checked against the service's trust set.
void setCommonOptions(CURL* handle, const std::string& url, const std::string& caFile, long timeoutMs) {
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, OnlineAPI::kUserAgent);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.c_str());
}

// The transfer counts only when it ran to its end and the service said 200.
bool performed(CURL* handle) {
    if (curl_easy_perform(handle) != CURLE_OK) return false;
    long status = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return false;
    return status == 200;
}

// The whole of text as a decimal int: an optional '-', then digits, nothing else, and a
// value that fits.
bool wholeInt(std::string_view text, int& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

}  // namespace

long requestTimeoutMs(std::optional<OnlineAPI::Clock::time_point> deadline, OnlineAPI::Clock::time_point now) {
    if (!deadline) return OnlineAPI::kTimeoutMs;
    if (now >= *deadline) return 0;
    // Rounded up: a request with less than a millisecond left still gets one, never none.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
    return left < OnlineAPI::kTimeoutMs ? static_cast<long>(left) : OnlineAPI::kTimeoutMs;
}

bool parseLeadingInt(const std::string& text, int& value) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    // from_chars takes a '-' but not a '+', and a '+' must be followed by a digit.
    if (i < text.size() && text[i] == '+') {
        ++i;
        if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return std::from_chars(text.data() + i, text.data() + text.size(), value).ec == std::errc();
}

OnlineAPI::OnlineAPI() : OnlineAPI(quillane::online::serviceAddress()) {}

OnlineAPI::OnlineAPI(quillane::online::ServiceAddress address)
    : baseUrl(std::move(address.baseUrl)), hmacKey(kHmacKey), caFile(std::move(address.caFile)) {
    curl_global_init(CURL_GLOBAL_ALL);
}

OnlineAPI::~OnlineAPI() { curl_global_cleanup(); }

bool OnlineAPI::post(const std::string& path, const std::string& body, TextReply& reply) const {
    const long timeoutMs = requestTimeoutMs(deadline, Clock::now());
    if (timeoutMs <= 0) return false;
    CurlHandle handle(curl_easy_init());
    if (!handle) return false;
    std::string url = baseUrl + path;
    setCommonOptions(handle.get(), url, caFile, timeoutMs);
    curl_easy_setopt(handle.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &OnlineAPI::writeCallback);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &reply);
    return performed(handle.get());
}

bool OnlineAPI::get(const std::string& pathAndQuery, void* sink, bool binary) const {
    const long timeoutMs = requestTimeoutMs(deadline, Clock::now());
    if (timeoutMs <= 0) return false;
    CurlHandle handle(curl_easy_init());
    if (!handle) return false;
    std::string url = baseUrl + pathAndQuery;
    setCommonOptions(handle.get(), url, caFile, timeoutMs);
    curl_easy_setopt(handle.get(), CURLOPT_HTTPGET, 1L);
    if (binary)
        curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &OnlineAPI::writeCallbackDownload);
    else
        curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &OnlineAPI::writeCallback);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, sink);
    return performed(handle.get());
}

std::size_t OnlineAPI::writeCallback(char* data, std::size_t size, std::size_t nmemb, void* userdata) {
    auto* reply = static_cast<TextReply*>(userdata);
    std::size_t n = size * nmemb;
    // Anything short of n makes libcurl abort the transfer.
    if (n > reply->limit || reply->text.size() > reply->limit - n) return 0;
    try {
        reply->text.append(data, n);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return n;
}

std::size_t OnlineAPI::writeCallbackDownload(char* data, std::size_t size, std::size_t nmemb,
                                             void* userdata) {
    auto* buffer = static_cast<MemoryStruct*>(userdata);
    std::size_t n = size * nmemb;
    // No exception may cross libcurl; a short count ends the transfer instead.
    try {
        return buffer->append(data, n) ? n : 0;
    } catch (const std::bad_alloc&) {
        std::printf("not enough memory (realloc returned NULL)\n");
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Helpers

std::string OnlineAPI::sign(std::string message) const {
    CryptoPP::HMAC<CryptoPP::SHA512> hmac(reinterpret_cast<const CryptoPP::byte*>(hmacKey.data()),
                                          hmacKey.size());
    std::string digest;
    // The pipeline owns the filters attached to it; the default hex encoder is upper-case.
    CryptoPP::StringSource pipeline(
        message, true,
        new CryptoPP::HashFilter(hmac, new CryptoPP::HexEncoder(new CryptoPP::StringSink(digest))));
    return digest;
}

char const* OnlineAPI::getRequest(int index) {
    static const char* const paths[] = {"/lutlogin.php", "/lutbrowse.php", "/lutload.php",
                                        "/luticon.php",  "/mobileimage.php", "/lutuse.php",
                                        "/lutfavorite.php"};
    if (index < 0 || index >= static_cast<int>(sizeof(paths) / sizeof(paths[0]))) return "";
    return paths[index];
}

bool OnlineAPI::is_number(std::string const& s) {
    int value = 0;
    return wholeInt(s, value);
}

std::string OnlineAPI::binary_to_hex(unsigned char const* bytes, unsigned int length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(static_cast<std::size_t>(length) * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

char const* OnlineAPI::getLoginError(int code) {
    switch (code) {
        case -4: return "Client version is outdated, please update";
        case -3: return "Too many login attempts. Please try again in 30 minutes.";
        case -2: return "Error: Incorrect email!";
        case -1: return "Error: Incorrect Password!";
        case 0:
        case 1:
        case 2: return "Success!";
        default: return "Error message: Incorrect E-Mail or Password";
    }
}

std::string replaceString(std::string s, std::string const& from, std::string const& to) {
    if (from.empty()) return s;
    std::size_t position = 0;
    while ((position = s.find(from, position)) != std::string::npos) {
        s.replace(position, from.size(), to);
        position += to.size();
    }
    return s;
}

std::string encodeValue(std::string const& value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (unsigned char c : value) {
        if (std::isalnum(c) || std::strchr("-._~/@:", c) != nullptr) {
            encoded.push_back(static_cast<char>(c));
        } else {
            encoded.push_back('%');
            encoded.push_back(digits[c >> 4]);
            encoded.push_back(digits[c & 0x0F]);
        }
    }
    return encoded;
}

// ---------------------------------------------------------------------------------------------
// Log-in

int OnlineAPI::login(char const* emailArg, char const* passwordArg, bool* failed) {
    setFlag(failed, false);
    std::string givenEmail = emailArg != nullptr ? emailArg : "";
    std::string password = passwordArg != nullptr ? passwordArg : "";
    if (givenEmail.empty()) {  // guest, and the way to log out
        email.clear();
        session = kGuestSession;
        return 1;
    }

    std::string body = "email=" + encodeValue(givenEmail) + "&password=" + encodeValue(password) +
                       "&version=" + std::to_string(kClientVersion);
    TextReply reply(kMaxTextReplyBytes);
    if (!post("/lutlogin.php", body, reply)) {
        setFlag(failed, true);
        session.clear();
        return kLoginUnusable;
    }

    const LoginReply parsed = parseLoginReply(reply.text);
    if (parsed.signedIn) {
        email = givenEmail;
        session = parsed.session;
        clearCash();
    } else {
        session.clear();
    }
    return parsed.code;
}

LoginReply parseLoginReply(std::string const& text) {
    LoginReply parsed;
    // Tokens are separated by single blanks; two adjacent blanks make an empty token, a final
    // blank makes none.
    const std::vector<std::string> tokens = split(text, ' ');
    int code = 0;
    if (tokens.size() >= 2 && wholeInt(tokens[0], code)) {
        parsed.code = code;
        if (code >= 1) {
            parsed.signedIn = true;
            parsed.session = tokens[1];
        }
    } else if (wholeInt(text, code)) {
        parsed.code = code;
    }
    return parsed;
}

// ---------------------------------------------------------------------------------------------
// Listings, downloads, favourites

nlohmann::json OnlineAPI::lutBrowse(char const* folderArg, bool* failed) {
    std::string folder = folderArg != nullptr ? folderArg : "";
    std::string query = "/lutbrowse.php?email=" + encodeValue(email) + "&desktop=1" +
                        "&session=" + sign(session + folder) + "&folder=" + encodeValue(folder);
    TextReply reply(kMaxListingBytes);
    const bool answered = get(query, &reply, false);
    setFlag(failed, !answered);
    if (!answered) return nlohmann::json(0);
    return parseListingReply(reply.text);
}

nlohmann::json parseListingReply(std::string const& text) {
    if (text.empty()) return nlohmann::json(0);
    return nlohmann::json::parse(text, nullptr, false);
}

Lut OnlineAPI::downloadLut(int id, bool* failed) {
    setFlag(failed, false);
    if (const Lut* cached = lutsCash.find(id)) return *cached;

    std::string ids = std::to_string(id);
    std::string query = "/lutload.php?email=" + encodeValue(email) + "&session=" + sign(session + ids) +
                        "&id=" + ids;
    MemoryStruct buffer(kMaxLutBytes);
    if (!get(query, &buffer, true)) {
        setFlag(failed, true);
        return Lut();
    }
    Lut lut(reinterpret_cast<const unsigned char*>(buffer.memory()), static_cast<int>(buffer.size()));
    buffer = MemoryStruct(0);  // the reply's text goes before the nodes are copied
    // A LUT may be as large as the cache: it moves in, and the caller gets the one copy.
    const std::size_t byteSize = cachedSize(lut);
    if (byteSize > lutsCash.budgetBytes()) return lut;
    lutsCash.insert(id, std::move(lut), byteSize);
    return *lutsCash.find(id);
}

// A failed transfer leaves nothing in the cache: the next call asks again.
template <class Key>
MemoryStruct OnlineAPI::downloadBytes(DownloadCache<Key, MemoryStruct>& cache, const Key& key, std::size_t keyBytes,
                                      const std::function<std::string()>& query, std::size_t limit, bool* failed) {
    setFlag(failed, false);
    if (const MemoryStruct* cached = cache.find(key)) return *cached;
    MemoryStruct buffer(limit);
    if (!get(query(), &buffer, true)) {
        setFlag(failed, true);
        return MemoryStruct(0);
    }
    buffer.compact();
    cache.insert(key, buffer, cachedSize(buffer, keyBytes));
    return buffer;
}

MemoryStruct OnlineAPI::downloadLutPreset(int id, bool* failed) {
    const auto query = [&] {
        const std::string ids = std::to_string(id);
        return "/lutload.php?email=" + encodeValue(email) + "&session=" + sign(session + ids) + "&id=" + ids +
               "&preset=1" + "&version=" + std::to_string(kClientVersion) + "KESTRAN" + "&os=mac";
    };
    return downloadBytes(presetCash, id, sizeof(int), query, kMaxPresetBytes, failed);
}

MemoryStruct OnlineAPI::donwloadIconFolder(char const* folderArg, bool* failed) {
    const std::string folder = folderArg != nullptr ? folderArg : "";
    const auto query = [&] {
        return "/luticon.php?email=" + encodeValue(email) + "&session=" + sign(session + folder) +
               "&folder=" + encodeValue(folder);
    };
    return downloadBytes(iconCash, folder, folder.size(), query, kMaxIconBytes, failed);
}

bool OnlineAPI::setChangeFavorite(int id, bool favorite) {
    if (email.empty()) return false;
    std::string ids = std::to_string(id);
    std::string body = "email=" + encodeValue(email) + "&lutid=" + ids + "&favorite=" +
                       (favorite ? "1" : "0") + "&session=" + sign(session + ids);
    TextReply reply(kMaxTextReplyBytes);
    return post("/lutfavorite.php", body, reply) && favoriteAccepted(reply.text);
}

bool favoriteAccepted(std::string const& text) { return text == "ok"; }

std::vector<std::pair<std::string, int>> findFilters(std::string folder, OnlineAPI* api, bool* failed,
                                                     bool* leftOut) {
    setFlag(failed, false);
    setFlag(leftOut, false);
    std::vector<std::pair<std::string, int>> filters;
    if (api == nullptr || hasLutFileSuffix(folder))
        return filters;
    const nlohmann::json listing = api->lutBrowse(folder.c_str(), failed);
    setFlag(leftOut, listing.is_array() && listing.size() > OnlineAPI::kMaxListingEntries);
    return filtersFromListing(listing, folder);
}

FetchedLut fetchLutWithPreset(OnlineAPI& api, int id) {
    FetchedLut fetched;
    bool failed = false;
    fetched.lut = api.downloadLut(id, &failed);
    if (failed) {
        fetched.outcome = FetchedLut::LutFailed;
        return fetched;
    }
    const Lut& lut = fetched.lut;
    if (!lut.isLoaded() || lut.getDimSize() < 1 || !lut.getData()) {
        fetched.outcome = FetchedLut::NoLut;
        return fetched;
    }
    const MemoryStruct bytes = api.downloadLutPreset(id, &failed);
    if (failed) {
        fetched.outcome = FetchedLut::PresetFailed;
        return fetched;
    }
    fetched.preset.assign(bytes.memory(), bytes.memory() + bytes.size());
    fetched.outcome = FetchedLut::Taken;
    return fetched;
}

std::vector<std::pair<std::string, int>> filtersFromListing(nlohmann::json const& listing,
                                                            std::string const& folder) {
    std::vector<std::pair<std::string, int>> filters;
    const std::size_t used = usedListingEntries(listing, folder);
    for (std::size_t i = 0; i < used; ++i) {
        const nlohmann::json& entry = listing[i];
        if (!entry.is_object()) continue;
        auto id = entry.find("id");
        auto name = entry.find("lutname");
        if (id == entry.end() || !id->is_string()) continue;
        int value = 0;
        if (!parseLeadingInt(id->get<std::string>(), value) || value < 0) continue;
        if (name == entry.end() || !name->is_string()) continue;
        std::string entryFolder;
        auto folderValue = entry.find("folder");
        if (folderValue != entry.end() && folderValue->is_string()) entryFolder = folderValue->get<std::string>();
        if (skipPathLikeEntry(value, name->get<std::string>(), entryFolder)) continue;
        filters.emplace_back(name->get<std::string>(), value);
    }
    return filters;
}

std::size_t usedListingEntries(nlohmann::json const& listing, std::string const& folder) {
    if (!listing.is_array()) return 0;
    if (listing.size() <= OnlineAPI::kMaxListingEntries) return listing.size();
    std::fprintf(stderr,
                 "Quillane: the online folder %s lists %zu entries; only the first %zu are used (%zu left out).\n",
                 quotedForPeople(folder).c_str(), listing.size(), OnlineAPI::kMaxListingEntries,
                 listing.size() - OnlineAPI::kMaxListingEntries);
    return OnlineAPI::kMaxListingEntries;
}

namespace {

// Whether text, split at "/" and "\\", could name a path on this machine.
bool readsAsPath(std::string_view text) {
    if (text.empty()) return false;
    if (text[0] == '/' || text[0] == '\\') return true;
    if (hasLutFileSuffix(std::string(text))) return true;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = text.size();
        if (text.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

// The folder value without the whole "../" segments at its end ("Film/Night/../" gives
// "Film/Night/"): the way up that the LUT Manager resolves before it lists anything.
std::string_view withoutTrailingUps(std::string_view folder) {
    while (folder.size() >= 3 && folder.substr(folder.size() - 3) == "../" &&
           (folder.size() == 3 || folder[folder.size() - 4] == '/'))
        folder.remove_suffix(3);
    return folder;
}

}  // namespace

bool skipPathLikeEntry(int id, std::string const& name, std::string const& folder) {
    std::string_view checkedName = name;
    // A LUT entry is fetched by its id and shown by its name: its folder value is never read,
    // and a service that writes root-relative ones ("/Film") must not lose every LUT for it.
    const bool folderValueRead = id == -1 || id == -2;
    std::string_view checkedFolder = folderValueRead ? std::string_view(folder) : std::string_view();
    if (id == -1) {
        checkedFolder = withoutTrailingUps(folder);
        const bool upEntry = checkedFolder.size() != folder.size();
        if (upEntry && (name == ".." || name == "../")) checkedName = "";
    }
    if (!readsAsPath(checkedName) && !readsAsPath(checkedFolder)) return false;
    std::fprintf(stderr, "Quillane: the online entry %s (folder %s) is skipped: it reads as a path on this machine.\n",
                 quotedForPeople(name).c_str(), quotedForPeople(folder).c_str());
    return true;
}
