// The client's pure pieces: signatures against an independent HMAC, reply tokens, encoding,
// and where the service's address comes from.
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ProcessTools.h"
#include "lut/TextForPeople.h"
#include "online/OnlineAPI.h"

namespace {

const char* const kKey =
    "Hq3vLw8ZtN5pRkx2YcBfJ7mQe+Ds4Wug9PaVn1TzK6oHbXy3Cr/Ei8Fj2Ml5Gq0Sd7Ut+NwA4hZk9Rv1Le/Yp6";

// HMAC-SHA512 by the openssl command, upper-cased.
std::string opensslHmac(const std::string& message) {
    std::string command = "printf '%s' '" + message + "' | openssl dgst -sha512 -hmac '" + kKey + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    char line[512] = {};
    std::string out = std::fgets(line, sizeof line, pipe) != nullptr ? line : "";
    ::pclose(pipe);
    auto equals = out.find("= ");
    if (equals == std::string::npos) return "";
    std::string hex = out.substr(equals + 2, 128);
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

OnlineAPI offlineClient() { return OnlineAPI({"https://127.0.0.1:9", ""}); }

}  // namespace

TEST(OnlineHelpers, SignMatchesAnIndependentHmac) {
    OnlineAPI api = offlineClient();
    for (std::string message : {"", "OpenVisitor", "OpenVisitorFilm Looks/Warm Tones", "tok00017",
                                "s\xc3\xa9ssion+&=%42"}) {
        std::string expected = opensslHmac(message);
        ASSERT_EQ(expected.size(), 128u) << message;
        EXPECT_EQ(api.sign(message), expected) << message;
    }
}

TEST(OnlineHelpers, ReplyTokensAndTables) {
    for (const char* yes : {"0", "-5", "2147483647", "-2147483648"}) EXPECT_TRUE(OnlineAPI::is_number(yes)) << yes;
    for (const char* no : {"", "-", "+1", " 1", "1 ", "1\n", "1x", "--1", "2147483648", "-2147483649",
                           "99999999999999999999"})
        EXPECT_FALSE(OnlineAPI::is_number(no)) << '"' << no << '"';

    const unsigned char bytes[] = {0x0A, 0xFF, 0x00};
    EXPECT_EQ(OnlineAPI::binary_to_hex(bytes, 3), "0aff00");
    EXPECT_EQ(OnlineAPI::binary_to_hex(bytes, 0), "");

    EXPECT_STREQ(OnlineAPI::getRequest(7), "");
    EXPECT_STREQ(OnlineAPI::getRequest(-1), "");
    EXPECT_STREQ(OnlineAPI::getLoginError(-1), "Error: Incorrect Password!");
    EXPECT_STREQ(OnlineAPI::getLoginError(2), "Success!");
    for (int code : {3, -5})
        EXPECT_STREQ(OnlineAPI::getLoginError(code), "Error message: Incorrect E-Mail or Password");
}

// An e-mail, a password and a folder as they go out: EveryEndpointSendsExactlyItsFields.
TEST(OnlineHelpers, ReplaceAndEncode) {
    EXPECT_EQ(replaceString("a b c", " ", "%20"), "a%20b%20c");
    EXPECT_EQ(replaceString("abc", " ", "%20"), "abc");
    EXPECT_EQ(replaceString("aaa", "a", "aa"), "aaaaaa");  // inserted text is not searched again
    EXPECT_EQ(replaceString("abc", "", "x"), "abc");

    EXPECT_EQ(encodeValue("Cinema/Teal-Orange_v2.1~x"), "Cinema/Teal-Orange_v2.1~x");
    EXPECT_EQ(encodeValue("p&ss w=rd+%?#"), "p%26ss%20w%3Drd%2B%25%3F%23");
    EXPECT_EQ(encodeValue("\xc3\xa9\n"), "%C3%A9%0A");
}

// A client made without an address takes this one: CertificatesAreChecked.
TEST(OnlineHelpers, ServiceAddressFromTheEnvironment) {
    using quillane::test::ScopedEnv;
    {
        ScopedEnv url("QUILLANE_SERVICE_URL", std::nullopt), ca("QUILLANE_SERVICE_CA", std::nullopt);
        auto address = quillane::online::serviceAddress();
        EXPECT_EQ(address.baseUrl, quillane::online::kDefaultServiceUrl);
        EXPECT_EQ(address.baseUrl.rfind("https://", 0), 0u);
        EXPECT_EQ(address.caFile, "");
    }
    {
        ScopedEnv url("QUILLANE_SERVICE_URL", "https://mirror.test:8443/");
        ScopedEnv ca("QUILLANE_SERVICE_CA", "/etc/mirror-ca.pem");
        auto address = quillane::online::serviceAddress();
        EXPECT_EQ(address.baseUrl, "https://mirror.test:8443");
        EXPECT_EQ(address.caFile, "/etc/mirror-ca.pem");
    }
    // Credentials never go out in clear text, nor to an origin that would bend the requests.
    for (const char* bad : {"http://mirror.test", "ftp://mirror.test", "https://a.test/?x=", "https://"}) {
        ScopedEnv url("QUILLANE_SERVICE_URL", bad);
        EXPECT_EQ(quillane::online::serviceAddress().baseUrl, quillane::online::kDefaultServiceUrl) << bad;
    }
}

TEST(DownloadCache, KeepsWithinItsBudgetTheMostRecentlyUsedEntries) {
    DownloadCache<int, std::string> cache(100);
    cache.insert(1, "a", 40);
    cache.insert(2, "b", 40);
    ASSERT_NE(cache.find(1), nullptr);  // 1 is now the most recent
    cache.insert(3, "c", 40);           // 2 leaves
    EXPECT_EQ(cache.find(2), nullptr);
    EXPECT_EQ(*cache.find(1), "a");
    EXPECT_EQ(*cache.find(3), "c");
    EXPECT_EQ(cache.heldBytes(), 80u);

    cache.insert(1, "A", 60);  // a new value for a key replaces the old one
    EXPECT_EQ(*cache.find(1), "A");
    EXPECT_EQ(cache.entryCount(), 2u);
    EXPECT_EQ(cache.heldBytes(), 100u);

    cache.insert(4, "too big", 101);  // larger than the whole budget: not kept, nothing else lost
    EXPECT_EQ(cache.find(4), nullptr);
    EXPECT_EQ(cache.heldBytes(), 100u);

    cache.setBudget(70);  // the least recently used leaves at once
    EXPECT_EQ(cache.find(3), nullptr);
    EXPECT_EQ(*cache.find(1), "A");
    EXPECT_EQ(cache.heldBytes(), 60u);
    cache.clear();
    EXPECT_EQ(cache.heldBytes(), 0u);
    EXPECT_EQ(cache.find(1), nullptr);
}

// A deadline cuts each request's time-out to what is left, and a spent one sends nothing
// (a time-out of 0 would mean no limit to libcurl).
TEST(OnlineRequests, TheTimeOutIsCutToWhatIsLeftOfTheDeadline) {
    using namespace std::chrono;
    const OnlineAPI::Clock::time_point now{seconds(100)};
    EXPECT_EQ(requestTimeoutMs(std::nullopt, now), OnlineAPI::kTimeoutMs);
    for (auto [left, timeoutMs] : {std::pair<microseconds, long>{seconds(20), OnlineAPI::kTimeoutMs},
                                   {milliseconds(1234), 1234}, {microseconds(300), 1}, {seconds(0), 0},
                                   {seconds(-1), 0}})
        EXPECT_EQ(requestTimeoutMs(now + left, now), timeoutMs) << left.count();
}

// Service text in a line for people: every control character escaped, other text as it came.
TEST(TextForPeople, ControlCharactersAreEscapedAndTheRestKept) {
    const std::string replacement = "\xef\xbf\xbd";
    for (auto [text, shown] : std::vector<std::pair<std::string, std::string>>{
             {"ctl\x01\x1b[31mred\x07", R"(ctl\u0001\u001b[31mred\u0007)"},
             {"a\nb\tc\r", R"(a\nb\tc\r)"},
             {"del\x7f c1\xc2\x9b", R"(del\u007f c1\u009b)"},
             {"bad\xff\xc0\xaf end\xe2\x82", "bad" + replacement + replacement + replacement + " end" + replacement + replacement},
             {"Caf\xc3\xa9 \xe2\x80\xa6 \xf0\x9f\x8e\xa8 C:\\a \"b\"", "Caf\xc3\xa9 \xe2\x80\xa6 \xf0\x9f\x8e\xa8 C:\\a \"b\""}})
        EXPECT_EQ(escapeControls(text), shown) << text;
    EXPECT_EQ(escapeControls("a\nb\tc", true), "a\nb\\tc");  // a box keeps its lines
    EXPECT_EQ(quotedForPeople("C:\\a \"b\"\x1b"), R"("C:\\a \"b\"\u001b")");
}

// Names and folders the rule for local LUT names would take for a path on this machine.
TEST(OnlineListing, EntriesThatReadAsLocalPathsAreSkippedWithALine) {
    struct Case {
        int id;
        const char* name;
        const char* folder;
        bool skipped;
    } cases[] = {
        {7, "Warm", "Film", false},
        {7, "Warm..", "Film/x..y", false},
        {7, "x.cubes", "", false},
        {-1, "Night/", "Film/Night", false},
        {7, "/x/evil.cube", "", true},
        {7, "evil.cube", "", true},
        {7, "Evil.3DL", "Film", true},
        {7, "/etc/passwd", "", true},
        {7, "a/../b", "", true},
        {7, "..\\b", "", true},
        {7, "..", "", true},
        // A LUT's folder value is never read: only its name counts.
        {7, "Warm", "/Film", false},
        {7, "Warm", "Film/../..", false},
        {7, "Warm", "Looks.cube", false},
        {-1, "Film", "/Film", true},
        {-1, "Film", "Looks.cube", true},
        {-2, "Shop", "/Shop", true},
        {-2, "Shop", "Shop/../", true},
        // The way up: a folder entry whose folder value ends in "../" segments.
        {-1, "../", "Film/Night/../", false},
        {-1, "..", "Film/Night/Blue/../../", false},
        {-1, "../", "../", false},
        {-1, "../", "Film/../Night/../", true},
        {-1, "../", "/Film/../", true},
        {-1, "../", "Film", true},
        {-1, "../", "Film/Night../", true},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(skipPathLikeEntry(c.id, c.name, c.folder), c.skipped) << c.name << " in " << c.folder;
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.find("is skipped") != std::string::npos, c.skipped) << said;
    }
    // The control characters of a hostile name do not reach the terminal.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(skipPathLikeEntry(1, "\x1b[2J/x.cube", ""));
    EXPECT_EQ(testing::internal::GetCapturedStderr().find('\x1b'), std::string::npos);

    testing::internal::CaptureStderr();
    const auto listing = nlohmann::json::parse(
        R"([{"id": "1", "lutname": "/x/evil.cube"}, {"id": "2", "lutname": "Warm", "folder": "../.."},
            {"id": "3", "lutname": "Cold", "folder": "/Film"}])");
    EXPECT_EQ(filtersFromListing(listing), (std::vector<std::pair<std::string, int>>{{"Warm", 2}, {"Cold", 3}}));
    testing::internal::GetCapturedStderr();
}

TEST(OnlineListing, OnlyTheFirstEntriesOfAHugeFolderAreUsed) {
    for (std::size_t count : {OnlineAPI::kMaxListingEntries, OnlineAPI::kMaxListingEntries + 500}) {
        nlohmann::json listing = nlohmann::json::array();
        for (std::size_t i = 0; i < count; ++i)
            listing.push_back({{"id", std::to_string(i)}, {"lutname", "L" + std::to_string(i)}});
        testing::internal::CaptureStderr();
        const auto filters = filtersFromListing(listing, "Big");
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_EQ(filters.size(), OnlineAPI::kMaxListingEntries);
        EXPECT_EQ(filters.back().second, int(OnlineAPI::kMaxListingEntries) - 1);
        if (count == OnlineAPI::kMaxListingEntries)
            EXPECT_EQ(said, "");
        else
            EXPECT_NE(said.find("\"Big\" lists 2500 entries; only the first 2000 are used (500 left out)"),
                      std::string::npos)
                << said;
    }
}
