// The online gallery's pieces against the fake library service: the stored
// account's sign-in before a listing, listings with folders, links, up entries
// and favourites, and served icons.
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
    void SetUp() override {
        OnlineAPI::clearCash();
        noteFormLogin();
    }
    void TearDown() override {
        OnlineAPI::clearCash();
        noteFormLogin();
    }
    std::size_t logins() const { return service.requestsTo("/lutlogin.php").size(); }

    // The settings file is made on first use, which a box reports; answered here.
    appkit::ScopedAlertPresenter boxes{[](const appkit::Alert&) { return appkit::kAlertFirstButtonReturn; }};
    TempDir home;
    ScopedEnv homeVariable{"HOME", home.path().string()};
    FakeService service;
    OnlineAPI api{{service.url(), service.caFile()}};
};

}  // namespace

TEST_F(GalleryOnlineService, StoredAccountSignsInBeforeTheListing) {
    // Nothing stored: nothing sent, the label stays.
    EXPECT_EQ(signInBeforeListing(api), "");
    saveLoginPassword("ann@example.com", "");
    EXPECT_EQ(signInBeforeListing(api), "");
    EXPECT_EQ(logins(), 0u);

    service.setControl(R"({"accounts": {"ann@example.com": "secret"}})");
    saveLoginPassword("ann@example.com", "secret");
    EXPECT_EQ(signInBeforeListing(api), "E-mail: ann@example.com");
    EXPECT_TRUE(api.isAuth());
    EXPECT_EQ(accountCaption(api), "E-mail: ann@example.com");
    // Signed in already: no second log-in.
    EXPECT_EQ(signInBeforeListing(api), "");
    EXPECT_EQ(logins(), 1u);
}

TEST_F(GalleryOnlineService, ARefusedStoredPairIsNotSentAgainUntilTheFormLogsIn) {
    service.setControl(R"({"accounts": {"ann@example.com": "new"},
                           "listings": {"Film": [{"id": "3", "lutname": "A"}]}})");
    saveLoginPassword("ann@example.com", "old");

    EXPECT_EQ(signInBeforeListing(api), "E-mail: Guest");
    EXPECT_EQ(api.getSession(), "OpenVisitor");  // lists as a guest
    EXPECT_EQ(onlineItems(api.lutBrowse("Film")).size(), 1u);

    // Every later listing, also from a new window's client, goes without a log-in.
    OnlineAPI next{{service.url(), service.caFile()}};
    for (OnlineAPI* client : {&api, &next, &next}) {
        EXPECT_EQ(signInBeforeListing(*client), "");
        EXPECT_EQ(client->getSession(), "OpenVisitor");
        EXPECT_EQ(onlineItems(client->lutBrowse("Film")).size(), 1u);
    }
    EXPECT_EQ(logins(), 1u);
    EXPECT_EQ(service.requestsTo("/lutbrowse.php").size(), 4u);

    // A log-in through the form lets the stored pair be tried again.
    noteFormLogin();
    OnlineAPI third{{service.url(), service.caFile()}};
    EXPECT_EQ(signInBeforeListing(third), "E-mail: Guest");
    EXPECT_EQ(logins(), 2u);

    // A changed stored pair is a new pair: sent at once.
    saveLoginPassword("ann@example.com", "new");
    OnlineAPI fourth{{service.url(), service.caFile()}};
    EXPECT_EQ(signInBeforeListing(fourth), "E-mail: ann@example.com");
    EXPECT_EQ(logins(), 3u);
    for (auto& r : service.requests()) EXPECT_NE(r["sigOk"], false) << r.dump();
}

TEST_F(GalleryOnlineService, ListingsWithFoldersLinksUpEntriesAndFavourites) {
    service.setControl(R"({
        "accounts": {"ann@example.com": "secret"},
        "listings": {"Film/Night": [
            {"id": "-1", "lutname": "../", "folder": "Film/Night/../", "favorite": "0"},
            {"id": "-1", "lutname": "Blue/", "folder": "Film/Night/Blue", "favorite": "0"},
            {"id": "-2", "lutname": "Shop", "url": "/buy/7", "folder": "Shop", "favorite": "0"},
            {"id": "42", "lutname": "Blue", "url": "", "favorite": "0"},
            {"id": "43", "lutname": "Deal", "url": "https://host:8443/buy", "favorite": "1"},
            {"id": "oops", "lutname": "Broken"}]},
        "icons": {"Shop": {"width": 100, "height": 100, "rgba": [10, 20, 30, 255]},
                  "Film/Night/Blue": {"raw": "not a png"}}})");
    saveLoginPassword("ann@example.com", "secret");
    ASSERT_EQ(signInBeforeListing(api), "E-mail: ann@example.com");

    std::vector<GalleryItem> items = onlineItems(api.lutBrowse("Film/Night"));
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].kind, Folder);
    EXPECT_EQ(onlineFolderTarget(items[0]).folder, "Film");
    EXPECT_EQ(onlineFolderTarget(items[0]).highlight, "Night");
    EXPECT_EQ(onlineFolderTarget(items[1]).folder, "Film/Night/Blue");
    EXPECT_EQ(items[2].kind, IconLink);
    EXPECT_EQ(onlineLinkAddress(items[2].url, api.getBaseUrl()), service.url() + "/buy/7");
    EXPECT_EQ(items[3].itemString, "Blue:42");
    EXPECT_EQ(items[4].kind, Link);
    EXPECT_TRUE(items[4].favorite);

    // Icons as served: a decoded one centred, an undecodable one the folder tile.
    const std::vector<unsigned char> folder(64 * 36 * 4, 5);
    const std::vector<unsigned char> shop = onlineIconTile(api.donwloadIconFolder("Shop"), 512, 288, folder);
    ASSERT_EQ(shop.size(), 512u * 288 * 4);
    EXPECT_EQ(shop[(94 * 512 + 206) * 4 + 2], 30);
    EXPECT_EQ(shop[(93 * 512 + 206) * 4 + 3], 0);
    EXPECT_EQ(onlineIconTile(api.donwloadIconFolder("Film/Night/Blue"), 512, 288, folder), folder);

    // A favourite change the service accepts shows in the next listing.
    ASSERT_TRUE(api.setChangeFavorite(items[3].id, !items[3].favorite));
    EXPECT_EQ(service.favorites()["ann@example.com"]["42"], "1");
    items = onlineItems(api.lutBrowse("Film/Night"));
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(items[3].favorite);
    service.setControl(R"({"favoriteReply": "no", "listings": {}})");
    EXPECT_FALSE(api.setChangeFavorite(43, false));
    EXPECT_EQ(service.favorites()["ann@example.com"].size(), 1u);
}
