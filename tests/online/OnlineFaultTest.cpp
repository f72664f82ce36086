// The client against a misbehaving service: errors, cut and endless replies, garbage, a
// stall, and certificates it must refuse. Failures give the failure result and are not cached.
#include "OnlineServiceFixture.h"

#include <chrono>

namespace {

std::string fault(const std::string& path, const std::string& mode, const std::string& extra = "") {
    return R"({"path": ")" + path + R"(", "mode": ")" + mode + "\"" + extra + "}";
}

std::string faults(std::initializer_list<std::string> list, const std::string& more = "") {
    std::string text = R"({"faults": [)";
    bool first = true;
    for (auto& f : list) {
        text += (first ? "" : ", ") + f;
        first = false;
    }
    return text + "]" + more + "}";
}

}  // namespace

TEST_F(OnlineServiceTest, HttpErrorsAndCutRepliesFailAndAreNotCached) {
    for (std::string mode : {"status", "truncate"}) {
        SCOPED_TRACE(mode);
        OnlineAPI::clearCash();
        ASSERT_EQ(api.login("", ""), 1);
        // The body of an error page is never taken for an answer.
        service.setControl(faults({fault("/lutload.php", mode, R"(, "status": 500)"),
                                   fault("/luticon.php", mode, R"(, "status": 404)"),
                                   fault("/lutbrowse.php", mode, R"(, "status": 503)"),
                                   fault("/lutfavorite.php", mode, R"(, "status": 500)"),
                                   fault("/lutlogin.php", mode, R"(, "status": 500)")},
                                  R"(, "loginReply": "1 S", "listings": {"F": [{"id": "1", "lutname": "x"}]})"));
        EXPECT_FALSE(api.downloadLut(4).isLoaded());
        EXPECT_EQ(api.downloadLutPreset(4).size(), 0u);
        EXPECT_EQ(api.donwloadIconFolder("F").size(), 0u);
        EXPECT_EQ(api.lutBrowse("F"), nlohmann::json(0));
        EXPECT_TRUE(findFilters("F", &api).empty());
        EXPECT_EQ(api.login("x@example.com", "pw"), -5);
        EXPECT_EQ(api.getSession(), "");
        EXPECT_FALSE(api.isAuth());

        service.setControl(R"({"loginReply": "1 S", "listings": {"F": [{"id": "1", "lutname": "x"}]}})");
        ASSERT_EQ(api.login("x@example.com", "pw"), 1);
        std::size_t loads = countFor("/lutload.php");
        service.setControl(faults({fault("/lutfavorite.php", mode, R"(, "status": 500)")}));
        EXPECT_FALSE(api.setChangeFavorite(4, true));  // the fake's body is "ok" all the same
        service.setControl("{}");
        EXPECT_TRUE(api.setChangeFavorite(4, true));

        // Nothing of the failures stuck: each asks again and gets the real thing.
        EXPECT_TRUE(api.downloadLut(4).isLoaded());
        EXPECT_EQ(api.downloadLutPreset(4).size(), 12u);
        EXPECT_GT(api.donwloadIconFolder("F").size(), 0u);
        EXPECT_EQ(countFor("/lutload.php"), loads + 2);
    }
}

TEST_F(OnlineServiceTest, OversizedAndEndlessRepliesFail) {
    ASSERT_EQ(api.login("", ""), 1);
    service.setControl(faults({fault("/lutload.php", "endless"), fault("/luticon.php", "endless"),
                               fault("/lutbrowse.php", "endless"), fault("/lutlogin.php", "endless")}));
    EXPECT_FALSE(api.downloadLut(1).isLoaded());
    EXPECT_EQ(api.downloadLutPreset(1).size(), 0u);
    EXPECT_EQ(api.donwloadIconFolder("F").size(), 0u);
    EXPECT_EQ(api.lutBrowse("F"), nlohmann::json(0));
    EXPECT_EQ(api.login("x@example.com", "pw"), -5);

    // The cap itself: exactly the cap is taken, one byte more is refused.
    const std::size_t cap = OnlineAPI::kMaxIconBytes;
    service.setControl(faults({fault("/luticon.php", "size", R"(, "size": )" + std::to_string(cap + 1))}));
    EXPECT_EQ(api.donwloadIconFolder("Big").size(), 0u);
    service.setControl(faults({fault("/luticon.php", "size", R"(, "size": )" + std::to_string(cap))}));
    MemoryStruct icon = api.donwloadIconFolder("Big");
    EXPECT_EQ(icon.size(), cap);
    EXPECT_EQ(icon.memory()[0], 'x');
    EXPECT_EQ(icon.memory()[cap], '\0');
    EXPECT_EQ(countFor("/luticon.php"), 3u);
}

TEST_F(OnlineServiceTest, GarbageRepliesGiveEmptyResults) {
    service.setControl(faults({fault("/lutload.php", "garbage"), fault("/lutbrowse.php", "garbage"),
                               fault("/lutlogin.php", "garbage"), fault("/lutfavorite.php", "garbage")}));
    EXPECT_TRUE(api.lutBrowse("F").is_discarded());
    EXPECT_TRUE(findFilters("F", &api).empty());
    EXPECT_EQ(api.login("x@example.com", "pw"), -5);
    // A complete answer that holds no LUT is an answer: the empty LUT is kept for that id.
    Lut lut = api.downloadLut(2);
    EXPECT_FALSE(lut.isLoaded());
    EXPECT_EQ(lut.getDimSize(), 0);
    EXPECT_FALSE(api.downloadLut(2).isLoaded());
    EXPECT_EQ(countFor("/lutload.php"), 1u);
    EXPECT_GT(api.downloadLutPreset(2).size(), 0u);  // presets are opaque bytes
}

TEST_F(OnlineServiceTest, CertificatesAreChecked) {
    // Not signed by anyone the system trusts.
    OnlineAPI untrusting({service.url(), ""});
    EXPECT_EQ(untrusting.login("x@example.com", "pw"), -5);
    EXPECT_EQ(untrusting.lutBrowse("F"), nlohmann::json(0));
    EXPECT_FALSE(untrusting.downloadLut(1).isLoaded());
    EXPECT_EQ(untrusting.downloadLutPreset(1).size(), 0u);
    EXPECT_EQ(untrusting.donwloadIconFolder("F").size(), 0u);

    // Trusted, but made out to another host.
    quillane::test::FakeService impostor("DNS:luts.other.example");
    OnlineAPI fooled({impostor.url(), impostor.caFile()});
    EXPECT_EQ(fooled.login("x@example.com", "pw"), -5);
    EXPECT_EQ(fooled.lutBrowse("F"), nlohmann::json(0));
    EXPECT_FALSE(fooled.downloadLut(1).isLoaded());
    EXPECT_EQ(fooled.donwloadIconFolder("F").size(), 0u);

    // No request got through the handshake; the trusted client does get through.
    EXPECT_EQ(service.requestCount(), 0u);
    EXPECT_EQ(impostor.requestCount(), 0u);
    EXPECT_TRUE(api.downloadLut(1).isLoaded());

    // The environment route reaches the same service.
    service.exportEnvironment();
    OnlineAPI fromEnvironment;
    EXPECT_EQ(fromEnvironment.getBaseUrl(), service.url());
    EXPECT_TRUE(fromEnvironment.lutBrowse("F").is_array());
    ::unsetenv("QUILLANE_SERVICE_URL");
    ::unsetenv("QUILLANE_SERVICE_CA");
}

TEST_F(OnlineServiceTest, StalledServiceTimesOut) {
    service.setControl(faults({fault("/lutbrowse.php", "stall")}));
    auto start = std::chrono::steady_clock::now();
    nlohmann::json listing = api.lutBrowse("F");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(listing, nlohmann::json(0));
    EXPECT_GE(seconds, 4.5);
    EXPECT_LT(seconds, 10.0);
    // The stalled connection holds up nobody else.
    service.setControl("{}");
    EXPECT_TRUE(api.lutBrowse("F").is_array());
}
