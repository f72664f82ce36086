// The online gallery's pieces against the fake library service: the stored
// account's sign-in before a listing, and listings, icons and favourites.
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

TEST_F(GalleryOnlineService, ListingsIconsAndFavourites) {
    service.setControl(R"({"accounts": {"ann@example.com": "pw"}, "listings": {"Film/Night": [
            {"id": "-1", "lutname": "../", "folder": "Film/Night/../", "favorite": "0"},
            {"id": "-2", "lutname": "Shop", "url": "/buy/7", "folder": "Shop", "favorite": "0"},
            {"id": "42", "lutname": "Blue", "url": "", "favorite": "0"}, {"id": "oops"}]},
        "icons": {"Shop": {"width": 100, "height": 100, "rgba": [10, 20, 30, 255]},
                  "Film/Night/../": {"raw": "not a png"}}})");
    OnlineAPI& api = *client();
    ASSERT_EQ(api.login("ann@example.com", "pw"), 1);
    std::vector<GalleryItem> items = onlineItems(api.lutBrowse("Film/Night"));
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(onlineFolderTarget(items[0]).folder, "Film");
    EXPECT_EQ(onlineLinkAddress(items[1].url, api.getBaseUrl()), service.url() + "/buy/7");
    EXPECT_EQ(items[2].itemString, "Blue:42");

    const std::vector<unsigned char> folder(8, 5);
    const std::vector<unsigned char> shop = onlineIconTile(api.donwloadIconFolder("Shop"), 512, 288, folder);
    ASSERT_EQ(shop.size(), 512u * 288 * 4);
    EXPECT_EQ(shop[(94 * 512 + 206) * 4 + 2], 30);
    EXPECT_EQ(onlineIconTile(api.donwloadIconFolder("Film/Night/../"), 512, 288, folder), folder);

    // A favourite change the service accepts shows in the next listing; a refused one is not kept.
    ASSERT_TRUE(api.setChangeFavorite(42, true));
    EXPECT_EQ(service.favorites()["ann@example.com"]["42"], "1");
    EXPECT_TRUE(onlineItems(api.lutBrowse("Film/Night")).at(2).favorite);
    service.setControl(R"({"favoriteReply": "no"})");
    EXPECT_FALSE(api.setChangeFavorite(43, true));
    EXPECT_EQ(service.favorites()["ann@example.com"].size(), 1u);
}
