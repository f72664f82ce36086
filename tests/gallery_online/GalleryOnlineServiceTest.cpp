// The stored account's sign-in before a listing, against the fake library
// service (listings, icons and favourites are the window's tests).
#include <gtest/gtest.h>

#include "FakeService.h"
#include "ProcessTools.h"
#include "TempDir.h"
#include "desktop/Settings.h"
#include "gallery/GalleryOnline.h"
#include "online/OnlineAPI.h"
#include "platform/appkit/Alert.h"

using namespace quillane::test;

namespace {

class GalleryOnlineService : public ::testing::Test {
protected:
    void SetUp() override { OnlineAPI::clearCash(), noteFormLogin(); }
    void TearDown() override { OnlineAPI::clearCash(), noteFormLogin(); }
    std::size_t logins() const { return service.requestsTo("/lutlogin.php").size(); }
    OnlineAPI* client() { return clients.emplace_back(new OnlineAPI({service.url(), service.caFile()})).get(); }

    // The settings file is made on first use, which a box reports; answered here.
    appkit::ScopedAlertPresenter boxes{[](const appkit::Alert&) { return appkit::kAlertFirstButtonReturn; }};
    TempDir home;
    ScopedEnv homeVariable{"HOME", home.path().string()};
    FakeService service;
    std::vector<std::unique_ptr<OnlineAPI>> clients;
};

}  // namespace

TEST_F(GalleryOnlineService, ARefusedStoredPairIsNotSentAgainUntilTheFormLogsIn) {
    service.setControl(R"({"accounts": {"ann@example.com": "new"}, "listings": {"Film": [{"id": "3"}]}})");
    EXPECT_EQ(signInBeforeListing(*client()), "");  // nothing stored: nothing sent, the label stays
    saveLoginPassword("ann@example.com", "old");
    OnlineAPI& first = *client();
    EXPECT_EQ(signInBeforeListing(first), "E-mail: Guest");
    EXPECT_EQ(first.getSession(), "OpenVisitor");  // lists as a guest
    // Every later listing, also from the next window's client, goes without a log-in.
    for (OnlineAPI* api : {&first, client(), client()}) {
        EXPECT_EQ(signInBeforeListing(*api), "");
        EXPECT_EQ(onlineItems(api->lutBrowse("Film")).size(), 1u);
    }
    EXPECT_EQ(logins(), 1u);

    noteFormLogin();  // a log-in through the form: the stored pair may be tried again
    EXPECT_EQ(signInBeforeListing(*client()), "E-mail: Guest");
    EXPECT_EQ(logins(), 2u);
    saveLoginPassword("ann@example.com", "new");  // a changed pair is sent at once
    OnlineAPI& signedIn = *client();
    EXPECT_EQ(signInBeforeListing(signedIn), "E-mail: ann@example.com");
    EXPECT_EQ(signInBeforeListing(signedIn), "");  // signed in: no second log-in
    EXPECT_EQ(logins(), 3u);
    for (auto& r : service.requests()) EXPECT_NE(r["sigOk"], false) << r.dump();

    // Only a log-in that signs the client in is worth storing.
    for (auto [reply, save] : {std::pair{"2 tok", true}, {"0 tok", false}, {"1", false}, {"-1 x", false}}) {
        service.setControl(std::string(R"({"loginReply": ")") + reply + "\"}");
        OnlineAPI& api = *client();
        api.login("ann@example.com", "pw");
        EXPECT_EQ(LoginGate::shouldSaveCredentials(api), save) << reply;
    }
}
