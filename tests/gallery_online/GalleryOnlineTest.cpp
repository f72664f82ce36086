// The window-free rules of the online gallery: entries as items, icons as tiles,
// where a folder item leads, which link addresses are opened, and the account
// form's log-in gate.
#include <gtest/gtest.h>

#include <lodepng.h>

#include <cstdint>

#include "gallery/GalleryOnline.h"
#include "online/OnlineAPI.h"

using nlohmann::json;

namespace {

MemoryStruct bytesOf(const std::vector<unsigned char>& data) {
    MemoryStruct block(data.size());
    block.append(reinterpret_cast<const char*>(data.data()), data.size());
    return block;
}

// An RGBA picture whose pixel (x, y) is (x, y, 7, alpha(x, y)).
std::vector<unsigned char> encodePng(unsigned w, unsigned h, unsigned char (*alpha)(unsigned, unsigned)) {
    std::vector<unsigned char> pixels(std::size_t(w) * h * 4);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            unsigned char* p = &pixels[(std::size_t(y) * w + x) * 4];
            p[0] = static_cast<unsigned char>(x);
            p[1] = static_cast<unsigned char>(y);
            p[2] = 7;
            p[3] = alpha(x, y);
        }
    std::vector<unsigned char> png;
    EXPECT_EQ(lodepng::encode(png, pixels, w, h), 0u);
    return png;
}

unsigned char opaque(unsigned, unsigned) { return 255; }

const std::vector<unsigned char>& folderTile() {
    static const std::vector<unsigned char> tile(512 * 288 * 4, 99);
    return tile;
}

}  // namespace

TEST(OnlineItems, KindsItemStringsAndFavourites) {
    const json listing = json::parse(R"([
        {"id": "7", "lutname": "Warm", "url": ""},
        {"id": "7", "lutname": "Warm", "url": "/buy", "favorite": "0"},
        {"id": "12", "lutname": "Shop", "url": "https://host:8443/buy", "favorite": "1"},
        {"id": "-1", "lutname": "Night/", "folder": "Film/Night", "url": "ignored", "favorite": "yes"},
        {"id": "-2", "lutname": "Store", "url": "/store", "folder": "Icons/Store", "favorite": null},
        {"id": "0", "lutname": "Zero"},
        {"id": "-3", "lutname": "Odd", "url": "/x"},
        {"id": " +42abc", "lutname": "Blue", "folder": "Film/Night"},
        {"id": "5"}
    ])");
    struct Row {
        LutItemKind kind;
        const char* itemString;
        int id;
        bool favorite;
        const char* caption;
    };
    const Row rows[] = {
        {OtherLut, "Warm:7", 7, false, "Warm"},
        {Link, "Warm:/buy", 7, false, "Warm"},
        {Link, "Shop:https://host:8443/buy", 12, true, "Shop"},
        {Folder, "Night/:Film/Night", -1, true, "Night"},
        {IconLink, "Store:/store", -2, false, "Store"},
        {OtherLut, "Zero:0", 0, false, "Zero"},
        {OtherLut, "Odd:-3", -3, false, "Odd"},
        {OtherLut, "Blue:42", 42, false, "Blue"},  // the id is read as stoi reads it
        {OtherLut, ":5", 5, false, ""},
    };
    const std::vector<GalleryItem> items = onlineItems(listing);
    ASSERT_EQ(items.size(), std::size(rows));
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].kind, rows[i].kind);
        EXPECT_EQ(items[i].itemString, rows[i].itemString);
        EXPECT_EQ(items[i].id, rows[i].id);
        EXPECT_EQ(items[i].favorite, rows[i].favorite);
        EXPECT_EQ(onlineCaption(items[i]), rows[i].caption);
    }
    EXPECT_EQ(items[2].url, "https://host:8443/buy");  // the link keeps its own id, not 8443
    EXPECT_EQ(items[3].folder, "Film/Night");
}

TEST(OnlineItems, MalformedEntriesAreSkippedAndTheRestListed) {
    const json listing = json::parse(R"([
        "not an object", 17, null, [],
        {"lutname": "no id"},
        {"id": 3, "lutname": "numeric id"},
        {"id": "abc", "lutname": "no digits"},
        {"id": "99999999999", "lutname": "too large"},
        {"id": "", "lutname": "empty id"},
        {"id": "4", "lutname": 4},
        {"id": "4", "lutname": "x", "url": null},
        {"id": "-1", "lutname": "x", "folder": ["a"]},
        {"id": "4", "lutname": "x", "favorite": 1},
        {"id": "4", "lutname": "x", "favorite": true},
        {"id": "8", "lutname": "Kept"}
    ])");
    const std::vector<GalleryItem> items = onlineItems(listing);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].itemString, "Kept:8");

    for (const char* reply : {"0", "{}", "\"text\"", "null"})
        EXPECT_TRUE(onlineItems(json::parse(reply)).empty()) << reply;
    EXPECT_TRUE(onlineItems(json::parse("not json", nullptr, false)).empty());
}

TEST(OnlineIconTile, CentredFlippedAndOnlyOpaqueEnoughPixels) {
    // Alpha 128 in the first column, 129 in the second, opaque elsewhere.
    auto alpha = [](unsigned x, unsigned) -> unsigned char { return x == 0 ? 128 : x == 1 ? 129 : 255; };
    const std::vector<unsigned char> tile = onlineIconTile(bytesOf(encodePng(100, 100, alpha)), 512, 288, folderTile());
    ASSERT_EQ(tile.size(), 512u * 288 * 4);
    auto at = [&](int x, int row) { return &tile[(std::size_t(row) * 512 + x) * 4]; };

    // Column 206, bottom offset 94; icon row r lands on tile row 94 + 99 - r.
    for (int r : {0, 50, 99}) {
        const unsigned char* p = at(206 + 5, 94 + 99 - r);
        EXPECT_EQ(p[0], 5);
        EXPECT_EQ(p[1], r);
        EXPECT_EQ(p[3], 255);
    }
    EXPECT_EQ(at(206, 150)[3], 0);    // alpha 128: not copied, transparent black
    EXPECT_EQ(at(206, 150)[0], 0);
    EXPECT_EQ(at(207, 150)[3], 129);  // alpha 129: copied as it is
    EXPECT_EQ(at(207, 150)[0], 1);
    EXPECT_EQ(at(205, 150)[3], 0);    // left of the icon
    EXPECT_EQ(at(306, 150)[3], 0);    // right of it
    EXPECT_EQ(at(250, 93)[3], 0);     // below
    EXPECT_EQ(at(250, 194)[3], 0);    // above

    // Larger than the tile: placed at 0, clipped; the icon's top rows fall off.
    const std::vector<unsigned char> big = onlineIconTile(bytesOf(encodePng(600, 300, opaque)), 512, 288, folderTile());
    ASSERT_EQ(big.size(), 512u * 288 * 4);
    EXPECT_EQ(big[(0 * 512 + 511) * 4 + 0], 511 % 256);  // row 0 is icon row 299
    EXPECT_EQ(big[(0 * 512 + 511) * 4 + 1], 299 % 256);
    EXPECT_EQ(big[(287 * 512) * 4 + 1], 12);             // top tile row is icon row 12
}

TEST(OnlineIconTile, UnusableBytesGiveTheFolderTile) {
    // The header announces 1025 x 1 or 1 x 1025 (or far more): refused before decoding.
    for (auto [w, h] : {std::pair{1025u, 1u}, {1u, 1025u}, {1024u, 1024u}}) {
        const std::vector<unsigned char> tile = onlineIconTile(bytesOf(encodePng(w, h, opaque)), 512, 288, folderTile());
        EXPECT_EQ(tile == folderTile(), w > 1024 || h > 1024) << w << "x" << h;
    }
    // A tiny file that claims 30000 x 30000 pixels (about 3.6 GB decoded).
    std::vector<unsigned char> huge = encodePng(8, 8, opaque);
    const unsigned char side[4] = {0, 0, 0x75, 0x30};
    std::copy(side, side + 4, huge.begin() + 16);
    std::copy(side, side + 4, huge.begin() + 20);
    const unsigned crc = lodepng_crc32(&huge[12], 17);
    for (int i = 0; i < 4; ++i) huge[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
    unsigned w = 0, h = 0;
    lodepng::State state;
    ASSERT_EQ(lodepng_inspect(&w, &h, &state, huge.data(), huge.size()), 0u);
    ASSERT_EQ(w, 30000u);
    EXPECT_EQ(onlineIconTile(bytesOf(huge), 512, 288, folderTile()), folderTile());

    // Every truncated prefix of a good icon: the folder tile or a whole tile, never a crash.
    const std::vector<unsigned char> png = encodePng(20, 10, opaque);
    for (std::size_t n = 0; n < png.size(); ++n) {
        const std::vector<unsigned char> prefix(png.begin(), png.begin() + n);
        const std::vector<unsigned char> tile = onlineIconTile(bytesOf(prefix), 512, 288, folderTile());
        EXPECT_EQ(tile, folderTile()) << n;
    }
    EXPECT_EQ(onlineIconTile(bytesOf({'n', 'o'}), 512, 288, folderTile()), folderTile());
    EXPECT_EQ(onlineIconTile(bytesOf(png), 0, 288, folderTile()), folderTile());
}

TEST(OnlineFolderTarget, SubFoldersAndUpEntries) {
    struct Row {
        const char* lutName;
        const char* folder;
        const char* target;
        const char* highlight;
    };
    const Row rows[] = {
        {"Night/", "Film/Night", "Film/Night", "Night"},  // ordinary: the caption shown for it
        {"Up/", "Film/Night/../", "Film", "Night"},
        {"Up/", "Film/Night/Blue/../../", "Film", "Night"},
        {"Up/", "Film/Night/Blue/../", "Film/Night", "Blue"},
        {"Up/", "Film/../", "", "Film"},
        {"Up/", "../", "", ""},
        {"Up/", "a/../b/../", "", ""},
        {"", "", "", ""},
    };
    for (const Row& row : rows) {
        GalleryItem item;
        item.kind = Folder;
        item.lutName = row.lutName;
        item.folder = row.folder;
        item.itemString = item.lutName + ":" + item.folder;
        const OnlineFolderTarget target = onlineFolderTarget(item);
        EXPECT_EQ(target.folder, row.target) << row.folder;
        EXPECT_EQ(target.highlight, row.highlight) << row.folder;
    }
}

TEST(OnlineLinkAddress, AbsoluteKeptPathsResolvedTheRestRefused) {
    const std::string origin = "https://luts.example:8443";
    struct Row {
        const char* url;
        std::string address;
    };
    const Row rows[] = {
        {"https://host:8443/x", "https://host:8443/x"},
        {"http://shop.example/buy?id=7&x=%20", "http://shop.example/buy?id=7&x=%20"},
        {"HTTPS://Host/Path", "HTTPS://Host/Path"},
        {"/buy/7", origin + "/buy/7"},
        {"/", origin + "/"},
        {"javascript:alert(1)", ""},
        {"file:///etc/passwd", ""},
        {"ftp://host/x", ""},
        {"buy/7", ""},
        {"https://", ""},
        {"https:///path", ""},
        {"", ""},
        {"https://host/a b", ""},
        {" https://host/", ""},
        {"https://host/\n", ""},
        {"https://host/\x7f", ""},
        {"https://h\xC3\xB6st/", ""},
        {"-https://host/", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(onlineLinkAddress(row.url, origin), row.address) << row.url;
    EXPECT_EQ(onlineLinkAddress("/buy/7", ""), "");
}

TEST(LoginGate, HoldsBackOnlyPairsTheServiceRefused) {
    LoginGate gate;
    // Nothing typed: nothing sent, the message of code -5; whatever came before.
    EXPECT_EQ(gate.heldBackCode("", ""), OnlineAPI::kLoginUnusable);
    EXPECT_EQ(gate.heldBackCode("a@x", "pw"), std::nullopt);

    struct Row {
        int code;
        bool heldBack;
    };
    const Row rows[] = {{-1, true}, {-2, true}, {-4, true}, {-3, false}, {-5, false}, {0, false}, {1, false}};
    for (const Row& row : rows) {
        gate.noteSent("a@x", "pw", row.code);
        EXPECT_EQ(gate.heldBackCode("a@x", "pw").has_value(), row.heldBack) << row.code;
        if (row.heldBack) EXPECT_EQ(*gate.heldBackCode("a@x", "pw"), row.code);
        // Changing either box sends again.
        EXPECT_EQ(gate.heldBackCode("a@x", "pw2"), std::nullopt);
        EXPECT_EQ(gate.heldBackCode("b@x", "pw"), std::nullopt);
        EXPECT_EQ(gate.heldBackCode("", ""), OnlineAPI::kLoginUnusable);
    }
    EXPECT_EQ(&accountFormGate(), &accountFormGate());
}
