// The client against a misbehaving service: errors, cut and endless replies, garbage, a
// stall, and certificates it must refuse. Failures give the failure result and are not cached.
#include "OnlineServiceFixture.h"
#include "ProcessTools.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

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

// What the callers stop on: a request that got no answer, not an answer that holds nothing.
TEST_F(OnlineServiceTest, AFailedRequestIsToldFromAnAnswerWithoutContent) {
    struct Case {
        json fault;  // on every path; null: none
        bool failed;
    };
    const Case cases[] = {
        {nullptr, false},
        {{{"mode", "garbage"}}, false},            // an answer, though no LUT and no listing
        {{{"mode", "size"}, {"size", 0}}, false},  // an empty answer
        {{{"mode", "status"}, {"status", 503}}, true},
        {{{"mode", "truncate"}}, true},
    };
    const auto paths = {"/lutload.php", "/luticon.php", "/lutbrowse.php", "/lutlogin.php"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault.dump());
        OnlineAPI::clearCash();
        service.setControl(c.fault.is_null() ? "{}" : faults(paths, c.fault).dump());
        const std::function<void(bool*)> requests[] = {
            [&](bool* failed) { EXPECT_LT(api.login("x@example.com", "pw", failed), 1); },  // no such account
            [&](bool* failed) { api.lutBrowse("F", failed); },
            [&](bool* failed) { api.downloadLut(4, failed); },
            [&](bool* failed) { api.downloadLutPreset(4, failed); },
            [&](bool* failed) { api.donwloadIconFolder("F", failed); },
            [&](bool* failed) { findFilters("F", &api, failed); },
        };
        for (const auto& request : requests) {
            bool failed = !c.failed;
            request(&failed);
            EXPECT_EQ(failed, c.failed);
        }
        if (c.failed) continue;
        // An answer is kept, and what the cache gives did not fail.
        const std::size_t before = service.requestCount();
        bool failed = true;
        api.downloadLut(4, &failed);
        EXPECT_FALSE(failed);
        EXPECT_EQ(service.requestCount(), before);
    }
    // No connection at all.
    OnlineAPI refused({"https://127.0.0.1:1", service.caFile()});
    bool failed = false;
    EXPECT_EQ(refused.lutBrowse("F", &failed), json(0));
    EXPECT_TRUE(failed);
    EXPECT_FALSE(refused.downloadLut(1, &failed).isLoaded());
    EXPECT_TRUE(failed);
}

TEST_F(OnlineServiceTest, AFailedPresetIsNotKeptAndIsAskedForAgain) {
    const auto presetRequests = [&] {
        std::size_t n = 0;
        for (const auto& r : service.requestsTo("/lutload.php"))
            n += r["query"].get<std::string>().find("&preset=1") != std::string::npos;
        return n;
    };
    for (const char* mode : {"status", "truncate", "stall"}) {
        SCOPED_TRACE(mode);
        OnlineAPI::clearCash();
        service.setControl(faults({"/lutload.php"}, {{"mode", mode}, {"status", 500}}).dump());
        bool failed = false;
        EXPECT_EQ(api.downloadLutPreset(4, &failed).size(), 0u);
        EXPECT_TRUE(failed);
        service.setControl("{}");
        const std::size_t before = presetRequests();
        const MemoryStruct preset = api.downloadLutPreset(4, &failed);
        EXPECT_FALSE(failed);
        EXPECT_EQ(std::string(preset.memory(), preset.size()), std::string("PRESET:4\0\x01\xfe\xff", 12));
        EXPECT_EQ(presetRequests(), before + 1);
        api.downloadLutPreset(4);  // now kept
        EXPECT_EQ(presetRequests(), before + 1);
    }
    // An empty answer is an empty preset, and it is kept like any other.
    OnlineAPI::clearCash();
    service.setControl(faults({"/lutload.php"}, {{"mode", "size"}, {"size", 0}}).dump());
    bool failed = true;
    EXPECT_EQ(api.downloadLutPreset(5, &failed).size(), 0u);
    EXPECT_FALSE(failed);
    service.setControl("{}");
    const std::size_t before = presetRequests();
    EXPECT_EQ(api.downloadLutPreset(5).size(), 0u);
    EXPECT_EQ(presetRequests(), before);
}

// A reply grows its buffer in steps: what a cache keeps is trimmed to the reply, so that the
// budget counts what is held.
TEST_F(OnlineServiceTest, CachedPresetsAndIconsHoldNoMoreThanTheirBytes) {
    const std::size_t byteSize = 300001;  // arrives in many pieces
    for (const char* path : {"/lutload.php", "/luticon.php"}) {
        SCOPED_TRACE(path);
        OnlineAPI::clearCash();
        service.setControl(faults({path}, {{"mode", "size"}, {"size", byteSize}}).dump());
        const MemoryStruct bytes =
            std::string(path) == "/lutload.php" ? api.downloadLutPreset(3) : api.donwloadIconFolder("F");
        ASSERT_EQ(bytes.size(), byteSize);
        EXPECT_EQ(bytes.capacityBytes(), byteSize + 1);
        EXPECT_LT(OnlineAPI::cachedBytes(), byteSize + 1024);
    }
}

// A cached LUT counts the bytes of its nodes (four floats each), so that the LUT cache's
// budget bounds the memory it takes.
TEST_F(OnlineServiceTest, ACachedLutCountsTheBytesOfItsNodes) {
    for (const int n : {5, 17}) {
        SCOPED_TRACE(n);
        OnlineAPI::clearCash();
        service.setControl(nlohmann::json{{"lutSize", n}}.dump());
        ASSERT_EQ(api.downloadLut(3).getDimSize(), n);
        const std::size_t nodeBytes = std::size_t(n) * n * n * 4 * sizeof(float);
        EXPECT_GE(OnlineAPI::cachedBytes(), nodeBytes);
        EXPECT_LT(OnlineAPI::cachedBytes(), nodeBytes + 1024);
    }
}

// Each cache keeps within its byte budget, the least recently used entry leaving first.
TEST_F(OnlineServiceTest, CachesStayWithinTheirByteBudgets) {
    // The largest LUT a reply may carry fits its cache; the three take 256 MiB in all.
    const OnlineAPI::CacheBudgets defaults = OnlineAPI::kCacheBudgets;
    EXPECT_GE(defaults.lutBytes, OnlineAPI::kMaxLutBytes / 3 * 4 * sizeof(float));
    EXPECT_GE(defaults.presetBytes, OnlineAPI::kMaxPresetBytes);
    EXPECT_GE(defaults.iconBytes, OnlineAPI::kMaxIconBytes);
    EXPECT_EQ(defaults.lutBytes + defaults.presetBytes + defaults.iconBytes, std::size_t(256) << 20);
    struct Restore {
        ~Restore() { OnlineAPI::setCacheBudgets(OnlineAPI::kCacheBudgets); }
    } restore;

    struct Kind {
        const char* path;
        std::function<void(int)> fetch;
        std::function<void(std::size_t)> budget;  // for this kind alone
    };
    const std::size_t roomy = std::size_t(1) << 30;
    const Kind kinds[] = {
        {"/lutload.php", [&](int id) { EXPECT_TRUE(api.downloadLut(id).isLoaded()); },
         [&](std::size_t b) { OnlineAPI::setCacheBudgets({b, roomy, roomy}); }},
        {"/lutload.php", [&](int id) { EXPECT_GT(api.downloadLutPreset(id).size(), 0u); },
         [&](std::size_t b) { OnlineAPI::setCacheBudgets({roomy, b, roomy}); }},
        {"/luticon.php",
         [&](int id) { EXPECT_GT(api.donwloadIconFolder(("F" + std::to_string(id)).c_str()).size(), 0u); },
         [&](std::size_t b) { OnlineAPI::setCacheBudgets({roomy, roomy, b}); }},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.path);
        OnlineAPI::clearCash();
        kind.budget(roomy);
        kind.fetch(10);  // entries of one kind are all of one size here
        const std::size_t entryBytes = OnlineAPI::cachedBytes();
        ASSERT_GT(entryBytes, 0u);
        kind.budget(entryBytes * 5 / 2);  // room for two
        kind.fetch(11);
        kind.fetch(10);  // 10 is now the most recent
        kind.fetch(12);  // 11 leaves
        EXPECT_LE(OnlineAPI::cachedBytes(), entryBytes * 5 / 2);
        const std::size_t before = countFor(kind.path);
        kind.fetch(10);
        kind.fetch(12);
        EXPECT_EQ(countFor(kind.path), before);
        kind.fetch(11);
        EXPECT_EQ(countFor(kind.path), before + 1);
        // A budget below one entry keeps nothing: every call asks.
        kind.budget(entryBytes - 1);
        EXPECT_EQ(OnlineAPI::cachedBytes(), 0u);
        kind.fetch(10);
        kind.fetch(10);
        EXPECT_EQ(countFor(kind.path), before + 3);
    }
}

// A LUT with its preset as one delivery: the LUT first, no preset for a LUT-less reply, and no
// delivery without the preset.
TEST_F(OnlineServiceTest, ALutAndItsPresetArriveTogetherOrNotAtAll) {
    const json status500 = {{"mode", "status"}, {"status", 500}};
    const struct {
        json control;
        bool lutCachedFirst;
        FetchedLut::Outcome outcome;
        std::vector<bool> presetAsked;  // each request to /lutload.php in turn
    } cases[] = {
        {json::object(), false, FetchedLut::Taken, {false, true}},
        {{{"noLut", {4}}}, false, FetchedLut::NoLut, {false}},
        {faults({"/lutload.php"}, status500), false, FetchedLut::LutFailed, {false}},
        {faults({"/lutload.php"}, status500), true, FetchedLut::PresetFailed, {false, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control.dump());
        OnlineAPI::clearCash();
        service.setControl("{}");
        if (c.lutCachedFirst) api.downloadLut(4);
        service.setControl(c.control.dump());
        const FetchedLut fetched = fetchLutWithPreset(api, 4);
        EXPECT_EQ(fetched.outcome, c.outcome);
        EXPECT_EQ(fetched.lut.isLoaded(), c.outcome == FetchedLut::Taken || c.outcome == FetchedLut::PresetFailed);
        EXPECT_EQ(std::string(fetched.preset.begin(), fetched.preset.end()),
                  c.outcome == FetchedLut::Taken ? std::string("PRESET:4\0\x01\xfe\xff", 12) : "");
        std::vector<bool> presetAsked;
        for (const auto& r : service.requestsTo("/lutload.php"))
            presetAsked.push_back(r["query"].get<std::string>().find("&preset=1") != std::string::npos);
        EXPECT_EQ(presetAsked, c.presetAsked);
        service.clearLog();
    }
}

// A test that crashes while its fake service runs: the pipe it wrote its output to (as a
// test runner gives one) reaches its end at once, and the service ends soon after.
TEST(FakeServiceHarness, ACrashedTestLeavesNeitherItsPipeHeldNorItsServiceRunning) {
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    const pid_t test = ::fork();
    if (test == 0) {
        ::close(output[0]);
        ::dup2(output[1], 1);
        ::dup2(output[1], 2);
        quillane::test::FakeService service;
        // Whether the service has the pipe open, by its descriptors' names.
        struct stat pipeInfo {};
        ::fstat(output[1], &pipeInfo);
        const std::string pipeName = "pipe:[" + std::to_string(pipeInfo.st_ino) + "]";
        int held = 0;
        std::error_code error;
        for (const auto& fd :
             std::filesystem::directory_iterator("/proc/" + std::to_string(service.pid()) + "/fd", error))
            held += std::filesystem::read_symlink(fd.path(), error).string() == pipeName;
        const std::string said = std::to_string(service.pid()) + " " + std::to_string(held) + "\n";
        if (::write(output[1], said.data(), said.size()) < 0) ::_exit(1);
        ::raise(SIGKILL);  // no destructor runs
    }
    ::close(output[1]);
    std::string said;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);  // start-up included
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        pollfd readable{output[0], POLLIN, 0};
        if (::poll(&readable, 1, 100) <= 0) continue;
        char chunk[256];
        const ssize_t got = ::read(output[0], chunk, sizeof chunk);
        ended = got <= 0;
        if (got > 0) said.append(chunk, got);
    }
    ::close(output[0]);
    EXPECT_EQ(quillane::test::exitStatus(test), 100 + SIGKILL);
    EXPECT_TRUE(ended) << "the pipe is still held";
    long service = 0, held = -1;
    std::istringstream(said) >> service >> held;
    ASSERT_GT(service, 0) << said;
    EXPECT_EQ(held, 0) << "descriptors of the service on the test's pipe";
    // Gone, or a zombie whose new parent does not reap it.
    const auto running = [service] {
        std::ifstream stat("/proc/" + std::to_string(service) + "/stat");
        std::string pid, name, state;
        return stat >> pid >> name >> state && state != "Z";
    };
    EXPECT_TRUE(quillane::test::waitUntil([&] { return !running(); }, std::chrono::seconds(5)));
    if (running()) ::kill(static_cast<pid_t>(service), SIGKILL);
}
