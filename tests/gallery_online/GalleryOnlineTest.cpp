// The window-free rules of the online gallery: entries as items, icons as tiles,
// where a folder item leads, which link addresses are opened, the log-in gate.
#include <gtest/gtest.h>

#include <lodepng.h>

#include "PngBombs.h"
#include "gallery/GalleryOnline.h"
#include "online/OnlineAPI.h"

using namespace quillane::test;

namespace {

MemoryStruct bytesOf(const std::vector<unsigned char>& data) {
    MemoryStruct block(data.size());
    block.append(reinterpret_cast<const char*>(data.data()), data.size());
    return block;
}

// Pixel (x, y) is (x, y, 7, alpha): alpha 128 in column 0, 129 in column 1, 255 elsewhere.
std::vector<unsigned char> encodePng(unsigned w, unsigned h) {
    std::vector<unsigned char> pixels(std::size_t(w) * h * 4), png;
    for (std::size_t i = 0; i < pixels.size() / 4; ++i) {
        const unsigned x = i % w;
        const unsigned char p[4] = {static_cast<unsigned char>(x), static_cast<unsigned char>(i / w), 7,
                                    static_cast<unsigned char>(x == 0 ? 128 : x == 1 ? 129 : 255)};
        std::copy(p, p + 4, &pixels[i * 4]);
    }
    EXPECT_EQ(lodepng::encode(png, pixels, w, h), 0u);
    return png;
}

const std::vector<unsigned char> kFolderTile(512 * 288 * 4, 99);

std::vector<unsigned char> tileOf(const std::vector<unsigned char>& png) {
    return onlineIconTile(bytesOf(png), 512, 288, kFolderTile);
}

}  // namespace

TEST(OnlineItems, KindsItemStringsFavouritesAndMalformedEntriesSkipped) {
    const auto listing = nlohmann::json::parse(R"([
        {"id": "7", "lutname": "Warm", "url": ""},
        {"id": "7", "lutname": "Warm", "url": "/buy", "favorite": "0"},
        "not an object", 17, null, {"lutname": "no id"}, {"id": 3}, {"id": "abc"}, {"id": ""},
        {"id": "99999999999"}, {"id": "4", "lutname": 4}, {"id": "4", "url": null},
        {"id": "-1", "folder": ["a"]}, {"id": "4", "favorite": 1}, {"id": "4", "favorite": true},
        {"id": "12", "lutname": "Shop", "url": "https://host:8443/buy", "favorite": "1"},
        {"id": "-1", "lutname": "Night/", "folder": "Film/Night", "url": "x", "favorite": "yes"},
        {"id": "-2", "lutname": "Store", "url": "/store", "folder": "Icons/Store", "favorite": null},
        {"id": "0", "lutname": "Zero"}, {"id": "-3", "lutname": "Odd", "url": "/x"},
        {"id": " +42abc", "lutname": "Blue"}, {"id": "5"}
    ])");
    struct Row {
        LutItemKind kind;
        const char* itemString;
        int id;
        bool favorite;
        const char* caption;
    };
    const Row rows[] = {
        {OtherLut, "Warm:7", 7, false, "Warm"},       {Link, "Warm:/buy", 7, false, "Warm"},
        {Link, "Shop:https://host:8443/buy", 12, true, "Shop"},  // the link's own id, not 8443
        {Folder, "Night/:Film/Night", -1, true, "Night"}, {IconLink, "Store:/store", -2, false, "Store"},
        {OtherLut, "Zero:0", 0, false, "Zero"},       {OtherLut, "Odd:-3", -3, false, "Odd"},
        {OtherLut, "Blue:42", 42, false, "Blue"},     {OtherLut, ":5", 5, false, ""},
    };
    const std::vector<GalleryItem> items = onlineItems(listing);
    ASSERT_EQ(items.size(), std::size(rows));
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].kind, rows[i].kind) << i;
        EXPECT_EQ(items[i].itemString, rows[i].itemString) << i;
        EXPECT_EQ(items[i].id, rows[i].id) << i;
        EXPECT_EQ(items[i].favorite, rows[i].favorite) << i;
        EXPECT_EQ(onlineCaption(items[i]), rows[i].caption) << i;
    }
    for (const char* reply : {"0", "{}", "\"text\"", "null", "not json"})
        EXPECT_TRUE(onlineItems(nlohmann::json::parse(reply, nullptr, false)).empty()) << reply;
}

// What the LUT Manager would later take for a local file is not listed; the
// service's way up is. Only the first entries of a huge folder are listed.
TEST(OnlineItems, PathLikeEntriesAndEntriesPastTheCapAreLeftOut) {
    nlohmann::json listing = nlohmann::json::parse(R"([
        {"id": "1", "lutname": "/x/evil.cube"}, {"id": "2", "lutname": "Warm", "folder": "/etc"},
        {"id": "-1", "lutname": "../", "folder": "Film/Night/../"},
        {"id": "-1", "lutname": "Up/", "folder": "Film/../.."}, {"id": "3", "lutname": "Cold"}])");
    testing::internal::CaptureStderr();
    std::vector<std::string> strings;
    for (const GalleryItem& item : onlineItems(listing)) strings.push_back(item.itemString);
    // A LUT's folder value is never read: Warm stays.
    EXPECT_EQ(strings, (std::vector<std::string>{"Warm:2", "../:Film/Night/../", "Cold:3"}));
    const std::string said = testing::internal::GetCapturedStderr();
    for (const char* name : {"evil.cube", "Up/"}) EXPECT_NE(said.find(name), std::string::npos) << said;

    listing = nlohmann::json::array();
    for (int i = 0; i < 2001; ++i) listing.push_back({{"id", std::to_string(i)}, {"lutname", "L"}});
    testing::internal::CaptureStderr();
    EXPECT_EQ(onlineItems(listing, "Big").size(), 2000u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("(1 left out)"), std::string::npos);
}

TEST(OnlineIconTile, CentredFlippedClippedAndOnlyAlphaFrom129) {
    const std::vector<unsigned char> tile = tileOf(encodePng(100, 100));
    ASSERT_EQ(tile.size(), kFolderTile.size());
    auto at = [&](int x, int row) { return &tile[(std::size_t(row) * 512 + x) * 4]; };
    // Column 206, bottom offset 94; icon row r lands on tile row 94 + 99 - r.
    for (int r : {0, 50, 99}) EXPECT_EQ(at(211, 193 - r)[1], r);
    EXPECT_EQ(at(211, 150)[0], 5);
    EXPECT_EQ(at(206, 150)[3], 0);    // alpha 128: left transparent black
    EXPECT_EQ(at(207, 150)[3], 129);  // alpha 129: copied as it is
    for (auto [x, row] : {std::pair{205, 150}, {306, 150}, {250, 93}, {250, 194}}) EXPECT_EQ(at(x, row)[3], 0);

    // Larger than the tile: placed at 0; the icon's top rows and right columns fall off.
    const std::vector<unsigned char> big = tileOf(encodePng(600, 300));
    EXPECT_EQ(big[(0 * 512 + 511) * 4 + 0], 511 % 256);
    EXPECT_EQ(big[(0 * 512 + 511) * 4 + 1], 299 % 256);
    EXPECT_EQ(big[(287 * 512 + 511) * 4 + 1], 12);
}

TEST(OnlineIconTile, UnusableBytesGiveTheFolderTile) {
    EXPECT_NE(tileOf(encodePng(1024, 1024)), kFolderTile);
    EXPECT_EQ(tileOf(encodePng(1025, 1)), kFolderTile);
    EXPECT_EQ(tileOf(encodePng(1, 1025)), kFolderTile);
    // A small file whose header claims 30000 x 30000 (3.6 GB decoded) is refused unread.
    std::vector<unsigned char> huge = encodePng(8, 8);
    for (int at : {16, 20}) huge[at + 2] = 0x75, huge[at + 3] = 0x30;
    const unsigned crc = lodepng_crc32(&huge[12], 17);
    for (int i = 0; i < 4; ++i) huge[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
    unsigned w = 0, h = 0;
    lodepng::State state;
    ASSERT_EQ(lodepng_inspect(&w, &h, &state, huge.data(), huge.size()), 0u);
    ASSERT_EQ(w, 30000u);
    EXPECT_EQ(tileOf(huge), kFolderTile);
    // Every truncated prefix of a good icon.
    const std::vector<unsigned char> png = encodePng(20, 10);
    for (std::size_t n = 0; n < png.size(); ++n)
        EXPECT_EQ(tileOf({png.begin(), png.begin() + n}), kFolderTile) << n;
    EXPECT_EQ(onlineIconTile(bytesOf(png), 0, 288, kFolderTile), kFolderTile);
}

TEST(OnlineIconTile, ASmallIconNeverInflatesPastItsSize) {
    // A 1 x 1 icon whose image data inflates to 256 MB from 1.6 MB (an 8 MB icon could
    // reach 8 GB): refused without the memory, as is a text chunk of the same kind.
    const std::vector<unsigned char> header = {0, 0, 0, 1, 0, 0, 0, 1, 8, 6, 0, 0, 0};
    const std::vector<unsigned char> bomb = zlibBomb(std::size_t(256) << 20);
    std::vector<unsigned char> text = {'k', 0, 0};
    text.insert(text.end(), bomb.begin(), bomb.end());
    for (const char* type : {"IDAT", "zTXt"}) {
        std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        for (const auto& chunk : {pngChunk("IHDR", header),
                                  std::string(type) == "IDAT" ? pngChunk("IDAT", bomb) : pngChunk("zTXt", text),
                                  pngChunk("IEND", {})})
            png.insert(png.end(), chunk.begin(), chunk.end());
        const std::size_t before = peakResidentBytes(true);
        const std::vector<unsigned char> tile = tileOf(png);
        const std::size_t peak = peakResidentBytes(false);
        EXPECT_EQ(tile, kFolderTile) << type;
        EXPECT_LT(peak - before, std::size_t(64) << 20) << type;
    }
}

TEST(OnlineFolderTarget, SubFoldersAndUpEntries) {
    const char* const rows[][4] = {  // lutname, folder value, folder listed, highlighted
        {"Night/", "Film/Night", "Film/Night", "Night"},  // ordinary: the caption shown for it
        {"Up/", "Film/Night/../", "Film", "Night"},       {"Up/", "Film/Night/Blue/../../", "Film", "Night"},
        {"Up/", "Film/Night/Blue/../", "Film/Night", "Blue"}, {"Up/", "Film/../", "", "Film"},
        {"Up/", "../", "", ""}, {"Up/", "a/../b/../", "", ""}, {"", "", "", ""},
    };
    for (auto& row : rows) {
        GalleryItem item{Folder, std::string(row[0]) + ":" + row[1], -1, row[0], row[1], "", false};
        const OnlineFolderTarget target = onlineFolderTarget(item);
        EXPECT_EQ(target.folder, row[2]) << row[1];
        EXPECT_EQ(target.highlight, row[3]) << row[1];
    }
}

TEST(OnlineLinkAddress, AbsoluteKeptPathsResolvedTheRestRefused) {
    const std::string origin = "https://luts.example:8443";
    for (const char* kept : {"https://host:8443/x", "http://shop.example/buy?id=7&x=%20", "HTTPS://Host/P"})
        EXPECT_EQ(onlineLinkAddress(kept, origin), kept);
    EXPECT_EQ(onlineLinkAddress("/buy/7", origin), origin + "/buy/7");
    for (const char* refused : {"javascript:alert(1)", "file:///etc/passwd", "ftp://host/x", "buy/7", "https://",
                                "https:///p", "", "https://host/a b", " https://h/", "https://h/\n",
                                "https://h/\x7f", "https://h\xC3\xB6st/", "-https://h/"})
        EXPECT_EQ(onlineLinkAddress(refused, origin), "") << refused;
    EXPECT_EQ(onlineLinkAddress("/buy/7", ""), "");
}

TEST(LoginGate, HoldsBackOnlyPairsTheServiceRefused) {
    LoginGate gate;
    EXPECT_EQ(gate.heldBackCode("", ""), OnlineAPI::kLoginUnusable);  // nothing typed: nothing sent
    EXPECT_EQ(gate.heldBackCode("a@x", "pw"), std::nullopt);
    for (auto [code, heldBack] : {std::pair{-1, true}, {-2, true}, {-4, true}, {-3, false}, {-5, false},
                                  {0, false}, {1, false}}) {
        gate.noteSent("a@x", "pw", code);
        EXPECT_EQ(gate.heldBackCode("a@x", "pw"), heldBack ? std::optional<int>(code) : std::nullopt) << code;
        EXPECT_EQ(gate.heldBackCode("a@x", "pw2"), std::nullopt);  // a changed box sends again
        EXPECT_EQ(gate.heldBackCode("b@x", "pw"), std::nullopt);
        EXPECT_EQ(gate.heldBackCode("", ""), OnlineAPI::kLoginUnusable);
    }
}
