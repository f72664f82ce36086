// The client against a misbehaving service: errors, cut and endless replies, garbage, a
// stall, and certificates it must refuse. Failures give the failure result and are not cached.
#include "OnlineServiceFixture.h"
#include "ProcessTools.h"

#include <chrono>
#include <memory>

namespace {

using nlohmann::json;

// A control that gives every listed path the same fault.
json faults(std::initializer_list<const char*> paths, const json& fault) {
    json control{{"faults", json::array()}};
    for (const char* path : paths) {
        json entry = fault;
        entry["path"] = path;
        control["faults"].push_back(entry);
    }
    return control;
}

}  // namespace

TEST_F(OnlineServiceTest, HttpErrorsCutAndEndlessRepliesFailAndAreNotCached) {
    for (std::string mode : {"status", "truncate", "endless"}) {
        SCOPED_TRACE(mode);
        OnlineAPI::clearCash();
        ASSERT_EQ(api.login("", ""), 1);
        // Neither an error page's body, half a reply nor one without end is taken for an answer.
        json control = faults({"/lutload.php", "/luticon.php", "/lutbrowse.php", "/lutfavorite.php", "/lutlogin.php"},
                              {{"mode", mode}, {"status", 503}});
        control["loginReply"] = "1 S";
        control["listings"] = {{"F", {{{"id", "1"}, {"lutname", "x"}}}}};
        service.setControl(control.dump());
        EXPECT_FALSE(api.downloadLut(4).isLoaded());
        EXPECT_EQ(api.downloadLutPreset(4).size(), 0u);
        EXPECT_EQ(api.donwloadIconFolder("F").size(), 0u);
        EXPECT_EQ(api.lutBrowse("F"), json(0));
        EXPECT_TRUE(findFilters("F", &api).empty());
        EXPECT_EQ(api.login("x@example.com", "pw"), -5);
        EXPECT_EQ(api.getSession(), "");

        service.setControl(R"({"loginReply": "1 S"})");
        ASSERT_EQ(api.login("x@example.com", "pw"), 1);
        const std::size_t loads = countFor("/lutload.php");
        service.setControl(faults({"/lutfavorite.php"}, {{"mode", mode}, {"status", 500}}).dump());
        EXPECT_FALSE(api.setChangeFavorite(4, true));  // an error page's body is "ok" all the same
        service.setControl("{}");
        EXPECT_TRUE(api.setChangeFavorite(4, true));

        // Nothing of the failures stuck: each asks again and gets the real thing.
        EXPECT_TRUE(api.downloadLut(4).isLoaded());
        EXPECT_EQ(api.downloadLutPreset(4).size(), 12u);
        EXPECT_GT(api.donwloadIconFolder("F").size(), 0u);
        EXPECT_EQ(countFor("/lutload.php"), loads + 2);
    }
}

// One byte past a reply's cap is refused, exactly the cap is taken.
TEST_F(OnlineServiceTest, RepliesPastTheirCapFail) {
    const std::size_t cap = OnlineAPI::kMaxIconBytes;
    service.setControl(faults({"/luticon.php"}, {{"mode", "size"}, {"size", cap + 1}}).dump());
    EXPECT_EQ(api.donwloadIconFolder("Big").size(), 0u);
    service.setControl(faults({"/luticon.php"}, {{"mode", "size"}, {"size", cap}}).dump());
    MemoryStruct icon = api.donwloadIconFolder("Big");
    ASSERT_EQ(icon.size(), cap);
    EXPECT_TRUE(icon.memory()[0] == 'x' && icon.memory()[cap] == '\0');
    EXPECT_EQ(countFor("/luticon.php"), 2u);
}

TEST_F(OnlineServiceTest, GarbageRepliesGiveEmptyResults) {
    service.setControl(
        faults({"/lutload.php", "/lutbrowse.php", "/lutlogin.php", "/lutfavorite.php"}, {{"mode", "garbage"}}).dump());
    EXPECT_TRUE(api.lutBrowse("F").is_discarded());
    EXPECT_TRUE(findFilters("F", &api).empty());
    EXPECT_EQ(api.login("x@example.com", "pw"), -5);
    // A complete answer that holds no LUT is an answer: the empty LUT is kept for that id.
    EXPECT_EQ(api.downloadLut(2).getDimSize(), 0);
    EXPECT_FALSE(api.downloadLut(2).isLoaded());
    EXPECT_EQ(countFor("/lutload.php"), 1u);
    EXPECT_GT(api.downloadLutPreset(2).size(), 0u);  // presets are opaque bytes
}

TEST_F(OnlineServiceTest, CertificatesAreChecked) {
    // Not signed by anyone the system trusts; trusted, but made out to another host.
    quillane::test::FakeService impostor("DNS:luts.other.example");
    using quillane::online::ServiceAddress;
    const std::unique_ptr<OnlineAPI> refusing[] = {
        std::make_unique<OnlineAPI>(ServiceAddress{service.url(), ""}),
        std::make_unique<OnlineAPI>(ServiceAddress{impostor.url(), impostor.caFile()})};
    for (const auto& client : refusing) {
        EXPECT_EQ(client->login("x@example.com", "pw"), -5);  // POST
        EXPECT_EQ(client->lutBrowse("F"), json(0));           // text GET
        EXPECT_FALSE(client->downloadLut(1).isLoaded());      // binary GET
    }
    // No request got through the handshake; the trusted client does get through.
    EXPECT_EQ(service.requestCount(), 0u);
    EXPECT_EQ(impostor.requestCount(), 0u);
    EXPECT_TRUE(api.downloadLut(1).isLoaded());

    // The environment route reaches the same service.
    quillane::test::ScopedEnv url("QUILLANE_SERVICE_URL", service.url());
    quillane::test::ScopedEnv ca("QUILLANE_SERVICE_CA", service.caFile());
    EXPECT_TRUE(OnlineAPI().lutBrowse("F").is_array());
}

TEST_F(OnlineServiceTest, StalledServiceTimesOut) {
    service.setControl(faults({"/lutbrowse.php"}, {{"mode", "stall"}}).dump());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(api.lutBrowse("F"), json(0));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 4.5);
    EXPECT_LT(seconds, 10.0);
    // The stalled connection holds up nobody else.
    service.setControl("{}");
    EXPECT_TRUE(api.lutBrowse("F").is_array());
}
