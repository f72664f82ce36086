// The client against the fake library service over real HTTPS: log-in, the bytes of every
// request, what comes back, and the caches.
#include "OnlineServiceFixture.h"

#include <cstring>

namespace {

const char* const kEmail = "ann+lut@example.com";
const char* const kPassword = "p&ss w=rd+%";
const char* const kFolder = "Film Looks/Warm Tones";

}  // namespace

TEST_F(OnlineServiceTest, LoginRepliesAsTheServiceWordsThem) {
    // Guest access and log-out send nothing.
    EXPECT_EQ(api.login("", ""), 1);
    EXPECT_EQ(api.getEmail(), "");
    EXPECT_EQ(api.getSession(), "OpenVisitor");
    EXPECT_FALSE(api.isAuth());
    EXPECT_EQ(service.requestCount(), 0u);

    service.setControl(R"({"loginReply": "1 first-token"})");
    ASSERT_EQ(api.login("first@example.com", "pw"), 1);
    EXPECT_TRUE(api.isAuth());

    struct Row {
        const char* reply;
        int code;
        const char* session;
        const char* email;  // after the call, which passes "next@example.com" over "prev@example.com"
    };
    const Row rows[] = {
        {"1 tok A", 1, "tok", "next@example.com"},       // tokens after the second are ignored
        {"-1 whatever", -1, "", "prev@example.com"},     // a refusal keeps the last e-mail
        {"2 other", 2, "other", "next@example.com"},
        {"-3", -3, "", "prev@example.com"},
        {"1", 1, "", "prev@example.com"},                // a bare success gives no session
        {"", -5, "", "prev@example.com"},
        {"ok", -5, "", "prev@example.com"},
        {"1x tok", -5, "", "prev@example.com"},
        {" 1 tok", -5, "", "prev@example.com"},          // first token empty
        {"-2\n", -5, "", "prev@example.com"},
        {"99999999999 tok", -5, "", "prev@example.com"}, // no 32-bit code
        {"1  tok", 1, "", "next@example.com"},           // the second token is the empty one
    };
    for (const Row& row : rows) {
        // Re-establish a session so that each row's clearing is visible.
        service.setControl(R"({"loginReply": "1 again"})");
        ASSERT_EQ(api.login("prev@example.com", "pw"), 1);
        service.setControl(nlohmann::json{{"loginReply", row.reply}}.dump());
        EXPECT_EQ(api.login("next@example.com", "pw"), row.code) << '"' << row.reply << '"';
        EXPECT_EQ(api.getSession(), row.session) << '"' << row.reply << '"';
        EXPECT_EQ(api.getEmail(), row.email) << '"' << row.reply << '"';
    }

    // The fake's own account check: wrong password, unknown e-mail.
    service.setControl(nlohmann::json{{"accounts", {{kEmail, kPassword}}}}.dump());
    EXPECT_EQ(api.login(kEmail, "wrong"), -1);
    EXPECT_EQ(api.login("nobody@example.com", kPassword), -2);
    EXPECT_EQ(api.login(kEmail, kPassword), 1);
    EXPECT_TRUE(api.isAuth());
}

TEST_F(OnlineServiceTest, EveryEndpointSendsExactlyItsFields) {
    nlohmann::json listing = nlohmann::json::array(
        {{{"id", "7"}, {"url", ""}, {"lutname", "Warm"}, {"folder", kFolder}, {"favorite", "0"}}});
    service.setControl(nlohmann::json{{"accounts", {{kEmail, kPassword}}},
                                      {"token", "T0K"},
                                      {"listings", {{kFolder, listing}}}}
                           .dump());
    ASSERT_EQ(api.login(kEmail, kPassword), 1);
    EXPECT_EQ(api.getSession(), "T0K");
    EXPECT_EQ(api.getEmail(), kEmail);

    EXPECT_EQ(api.lutBrowse(kFolder), listing);
    Lut lut = api.downloadLut(7);
    MemoryStruct preset = api.downloadLutPreset(7);
    MemoryStruct icon = api.donwloadIconFolder(kFolder);
    EXPECT_TRUE(api.setChangeFavorite(7, true));
    EXPECT_TRUE(api.setChangeFavorite(8, false));

    auto requests = service.requests();
    ASSERT_EQ(requests.size(), 7u);
    // Signed subjects are the raw values, joined directly to the session.
    const std::string email = "ann%2Blut@example.com", escaped = "Film%20Looks/Warm%20Tones";
    const std::string folderSig = api.sign(std::string("T0K") + kFolder), idSig = api.sign("T0K7");
    const char* const sent[][2] = {{"POST", "/lutlogin.php"}, {"GET", "/lutbrowse.php"},  {"GET", "/lutload.php"},
                                   {"GET", "/lutload.php"},   {"GET", "/luticon.php"},     {"POST", "/lutfavorite.php"},
                                   {"POST", "/lutfavorite.php"}};
    const std::string bytes[] = {  // the query of a GET, the body of a POST
        "email=" + email + "&password=p%26ss%20w%3Drd%2B%25&version=1",
        "email=" + email + "&desktop=1&session=" + folderSig + "&folder=" + escaped,
        "email=" + email + "&session=" + idSig + "&id=7",
        "email=" + email + "&session=" + idSig + "&id=7&preset=1&version=1KESTRAN&os=mac",
        "email=" + email + "&session=" + folderSig + "&folder=" + escaped,
        "email=" + email + "&lutid=7&favorite=1&session=" + idSig,
        "email=" + email + "&lutid=8&favorite=0&session=" + api.sign("T0K8")};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i]["method"], sent[i][0]) << i;
        EXPECT_EQ(requests[i]["path"], sent[i][1]) << i;
        EXPECT_EQ(requests[i][sent[i][0] == std::string("GET") ? "query" : "body"], bytes[i]) << i;
        EXPECT_EQ(requests[i]["fields"][0][1], kEmail);  // arrives unaltered
        if (i > 0) {
            EXPECT_EQ(requests[i]["session"], "T0K") << i;  // the signature matched that session
        }
    }
    EXPECT_EQ(requests[0]["fields"][1][1], kPassword);
    expectAllAccepted();

    // What came back: the fake's LUT for id 7 is N = 5 with node k channel c = (7 + 3k + c) / 255.
    ASSERT_TRUE(lut.isLoaded());
    ASSERT_EQ(lut.getDimSize(), 5);
    EXPECT_FLOAT_EQ(lut.getData()[0], 7.0f / 255.0f);
    EXPECT_FLOAT_EQ(lut.getData()[4 * 1 + 2], 12.0f / 255.0f);
    EXPECT_FLOAT_EQ(lut.getData()[3], 1.0f);
    const char expectedPreset[] = "PRESET:7\0\x01\xfe\xff";
    ASSERT_EQ(preset.size(), sizeof expectedPreset - 1);
    EXPECT_EQ(std::memcmp(preset.memory(), expectedPreset, preset.size()), 0);
    EXPECT_EQ(preset.memory()[preset.size()], '\0');
    ASSERT_GT(icon.size(), 8u);
    EXPECT_EQ(std::memcmp(icon.memory(), "\x89PNG\r\n\x1a\n", 8), 0);
}

TEST_F(OnlineServiceTest, GuestRequestsAndFavourites) {
    service.setControl(R"({"listings": {"": [{"id": "1", "lutname": "Root"}]}})");
    // Before any log-in: empty e-mail, the empty session's signature.
    EXPECT_TRUE(api.lutBrowse("").is_array());
    EXPECT_EQ(api.login("", ""), 1);
    EXPECT_TRUE(api.lutBrowse("").is_array());
    EXPECT_TRUE(api.downloadLut(1).isLoaded());
    auto requests = service.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0]["session"], "");
    EXPECT_EQ(requests[1]["session"], "OpenVisitor");
    EXPECT_EQ(requests[2]["session"], "OpenVisitor");
    expectAllAccepted();

    // A guest has no favourites: no request at all.
    EXPECT_FALSE(api.setChangeFavorite(1, true));
    EXPECT_EQ(countFor("/lutfavorite.php"), 0u);

    service.setControl(R"({"loginReply": "1 S", "favoriteReply": "ok\n"})");
    ASSERT_EQ(api.login("x@example.com", "pw"), 1);
    EXPECT_FALSE(api.setChangeFavorite(1, true));  // "ok" and a line end is not "ok"
    service.setControl(R"({"loginReply": "1 S", "favoriteReply": "no"})");
    EXPECT_FALSE(api.setChangeFavorite(1, true));
    service.setControl(R"({"loginReply": "1 S"})");
    EXPECT_TRUE(api.setChangeFavorite(1, false));
    EXPECT_EQ(countFor("/lutfavorite.php"), 3u);
}

TEST_F(OnlineServiceTest, DownloadsAreFetchedOncePerIdOrFolder) {
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(api.downloadLut(3).isLoaded());
        EXPECT_EQ(api.downloadLutPreset(3).size(), 12u);
        EXPECT_GT(api.donwloadIconFolder("A B").size(), 0u);
        EXPECT_GT(api.donwloadIconFolder("A%20B").size(), 0u);  // another key
    }
    EXPECT_EQ(countFor("/lutload.php"), 2u);
    EXPECT_EQ(countFor("/luticon.php"), 2u);

    // A held copy outlives the cache entry it came from.
    MemoryStruct held = api.downloadLutPreset(3);
    Lut heldLut = api.downloadLut(3);
    OnlineAPI::clearCash();
    EXPECT_EQ(std::string(held.memory(), 6), "PRESET");
    EXPECT_TRUE(heldLut.isLoaded());

    EXPECT_TRUE(api.downloadLut(3).isLoaded());
    EXPECT_EQ(countFor("/lutload.php"), 3u);

    // The caches are shared by every client of the process.
    OnlineAPI other({service.url(), service.caFile()});
    EXPECT_TRUE(other.downloadLut(3).isLoaded());
    EXPECT_EQ(countFor("/lutload.php"), 3u);

    // Switching to guest keeps them; a log-in empties them.
    api.login("", "");
    api.downloadLut(3);
    EXPECT_EQ(countFor("/lutload.php"), 3u);
    service.setControl(R"({"loginReply": "1 S2"})");
    ASSERT_EQ(api.login("x@example.com", "pw"), 1);
    EXPECT_TRUE(api.downloadLut(3).isLoaded());
    EXPECT_EQ(api.downloadLutPreset(3).size(), 12u);
    EXPECT_GT(api.donwloadIconFolder("A B").size(), 0u);
    EXPECT_EQ(countFor("/lutload.php"), 5u);
    EXPECT_EQ(countFor("/luticon.php"), 3u);

    // Listings are never cached.
    api.lutBrowse("A B");
    api.lutBrowse("A B");
    EXPECT_EQ(countFor("/lutbrowse.php"), 2u);
    expectAllAccepted();
}

TEST_F(OnlineServiceTest, FindFiltersToleratesOddListings) {
    nlohmann::json listing = nlohmann::json::parse(R"([
        {"id": "3", "lutname": "A"},
        {"id": "-1", "lutname": "Sub", "folder": "x"},
        {"id": "7", "lutname": "B"},
        {"id": 8, "lutname": "number id"},
        {"id": "x9", "lutname": "no digits"},
        {"lutname": "no id"},
        {"id": "9"},
        {"id": "10", "lutname": 5},
        5, null, "text", [1, 2],
        {"id": " 12abc", "lutname": "D"},
        {"id": "99999999999", "lutname": "too big"},
        {"id": "-2", "lutname": "icon link"},
        {"id": "+5", "lutname": "E"},
        {"id": "+-6", "lutname": "two signs"},
        {"id": "3", "lutname": "A"}
    ])");
    service.setControl(nlohmann::json{{"listings",
                                       {{"Odd", listing},
                                        {"Object", {{"id", "1"}, {"lutname", "x"}}},
                                        {"Text", "not json ["},
                                        {"Empty", ""}}}}
                           .dump());
    std::vector<std::pair<std::string, int>> expected = {{"A", 3}, {"B", 7}, {"D", 12}, {"E", 5}, {"A", 3}};
    EXPECT_EQ(findFilters("Odd", &api), expected);
    EXPECT_TRUE(findFilters("Object", &api).empty());
    EXPECT_TRUE(findFilters("Text", &api).empty());
    EXPECT_TRUE(api.lutBrowse("Text").is_discarded());
    EXPECT_EQ(api.lutBrowse("Empty"), nlohmann::json(0));
    EXPECT_TRUE(findFilters("Missing", &api).empty());
    EXPECT_TRUE(findFilters("Odd", nullptr).empty());

    std::size_t before = service.requestCount();
    EXPECT_TRUE(findFilters("Odd/Look.CUBE", &api).empty());
    EXPECT_TRUE(findFilters("Odd/Look.3dl", &api).empty());
    EXPECT_EQ(service.requestCount(), before);

    service.stop();
    EXPECT_TRUE(findFilters("Odd", &api).empty());
}
