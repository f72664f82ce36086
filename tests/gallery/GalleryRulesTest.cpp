// The LUT Manager's rules without a window: locations, numbers, the preview,
// the pictures, the local order, captions, the pick rule and the progress;
// and the appliers at the largest edge a LUT file may have.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "TempDir.h"
#include "gallery/GalleryRules.h"
#include "gallery/LutGallery.h"
#include "lut/LocalLutPath.h"
#include "lut/MathClass.h"
#include "lut/reference/PlainLut.h"

namespace {

using Strings = std::vector<std::string>;

TEST(GalleryRules, SplitsPathsIntoFolderFileAndSeparator) {
    struct Case {
        std::string path;
        bool isFolder;
        Strings expected;
    };
    const Case cases[] = {
        {"/Users/me/LUTs/Film.CUBE", false, {"/Users/me/LUTs", "Film.CUBE", "/"}},
        {"NONE", false, {"", "NONE", "/"}},
        {"Cinematic/Teal 01", false, {"Cinematic", "Teal 01", "/"}},
        {"LUTs\\a.3dl", false, {"LUTs", "a.3dl", "\\"}},
        {"/Users/me/LUTs/", true, {"/Users/me/LUTs", "", "/"}},
        {"/Users/me/LUTs", true, {"/Users/me/LUTs", "", "/"}},
        {"/", true, {"", "", "/"}},
        {"", false, {"", "", "/"}},
    };
    for (const Case& c : cases) EXPECT_EQ(getCurrentFolderAndFilePaths(c.path, c.isFolder), c.expected) << c.path;
}

TEST(GalleryRules, ReadsWholeDecimalNumbersOnly) {
    struct Case {
        std::string text;
        bool ok;
        int value;
    };
    const Case cases[] = {{" 12", true, 12},  {"+5", true, 5},    {"-7", true, -7},    {"12 ", false, 12},
                          {"12x", false, 12}, {"", false, 0},     {"x", false, 0},     {"99999999999", false, 0},
                          {"4711", true, 4711}};
    for (const Case& c : cases) {
        int out = 0;
        EXPECT_EQ(try_stoi(c.text, out), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(out, c.value) << '"' << c.text << '"';
    }
    // Online selections: the id after the last ':'.
    EXPECT_EQ(parseOnlineSelection("A:B:7")->name, "A:B");
    EXPECT_EQ(parseOnlineSelection("A:B:7")->id, 7);
    for (const char* none : {"Teal:12x", "Teal", "Buy:/buy/7", "Huge:99999999999"})
        EXPECT_FALSE(parseOnlineSelection(none)) << none;
    EXPECT_EQ(onlineDisplayName("Cinematic", "/", "Teal 01"), "Cinematic/Teal 01");
    EXPECT_EQ(onlineDisplayName("", "/", "Teal 01"), "Teal 01");
}

TEST(GalleryRules, UpAndWhereANameLives) {
    EXPECT_EQ(upOneLevel("/Users", "/", false)->folder, "");
    EXPECT_EQ(upOneLevel("/Users", "/", false)->highlight, "Users");
    EXPECT_EQ(upOneLevel("Cinematic", "/", true)->folder, "");
    EXPECT_EQ(upOneLevel("Cinematic", "/", true)->highlight, "Cinematic");
    EXPECT_EQ(upOneLevel("", "/", true)->folder, "");
    EXPECT_FALSE(upOneLevel("LUTs", "\\", false));

    quillane::test::TempDir dir;
    const std::string bak = dir.file("look.cube.bak");
    std::ofstream(bak) << "x";
    std::filesystem::create_directories(dir.file("folder.txt"));
    const std::pair<std::string, bool> cases[] = {
        {"/x/Film.CUBE", true},  {"LUTs\\a.3dl", true},      {bak, true},   {"/gone/look.cube.bak", false},
        {dir.file("folder.txt"), false}, {"Cinematic/Teal 01", false}, {"NONE", false}, {"", false}};
    for (const auto& [name, local] : cases) EXPECT_EQ(isLocalLutName(name), local) << name;
}

TEST(GalleryRules, PreviewSizeAndSampledPixels) {
    struct Case {
        int width, height, previewWidth, previewHeight;
    };
    const Case cases[] = {{1920, 1080, 512, 288}, {1280, 720, 512, 288}, {3840, 2160, 512, 288},
                          {41, 20, 511, 249},     {4096, 700, 512, 87},  {4096, 3, 512, 1}};
    for (const Case& c : cases) {
        const PreviewSize size = previewSizeFor(c.width, c.height);
        EXPECT_EQ(size.width, c.previewWidth) << c.width;
        EXPECT_EQ(size.height, c.previewHeight) << c.width;
    }
    const PreviewSize hd = previewSizeFor(1920, 1080);
    EXPECT_EQ(previewSource(511, 287, hd, 1920, 1080).x, 1915u);
    EXPECT_EQ(previewSource(511, 287, hd, 1920, 1080).y, 1075u);

    // A, R, G, B in, R, G, B, A out; the preview forces alpha opaque.
    const unsigned char argb[8] = {10, 20, 30, 40, 50, 60, 70, 80};
    const auto rgba = argbToRgba(argb, 2, 1);
    EXPECT_EQ(rgba, (std::vector<unsigned char>{20, 30, 40, 10, 60, 70, 80, 50}));
    const auto preview = samplePreview(rgba.data(), 2, 1, PreviewSize{2, 1});
    EXPECT_EQ(preview, (std::vector<unsigned char>{20, 30, 40, 255, 20, 30, 40, 255}));  // column (1 * 1) / 2 = 0

    EXPECT_TRUE(isUsableFrame(argb, 2, 1, 4, 4, false));
    // Eight times as tall as wide is the tallest preview (512 x 4096); a strip beyond it gets none.
    EXPECT_TRUE(isUsableFrame(argb, 8, 64, 4, 4, false));
    for (auto [w, h, ch, bpp] : {std::array<int, 4>{0, 1, 4, 4}, {2, -1, 4, 4}, {2, 1, 3, 4}, {2, 1, 4, 16},
                                 {8, 65, 4, 4}, {1, 16384, 4, 4}, {1, 2147483647, 4, 4}})
        EXPECT_FALSE(isUsableFrame(argb, w, h, ch, bpp, false)) << w << ' ' << h << ' ' << ch << ' ' << bpp;
    EXPECT_FALSE(isUsableFrame(nullptr, 2, 1, 4, 4, false));
    EXPECT_TRUE(isUsableFrame(argb, 2, 1, 4, 16, true));
}

TEST(GalleryRules, StarAndFolderPictures) {
    // The threshold and the flip on a star of two marked pixels.
    std::vector<unsigned char> star(std::size_t(kFavoriteSide) * kFavoriteSide * 4, 0);
    const unsigned char opaque[4] = {95, 79, 224, 129}, faint[4] = {255, 255, 255, 128};
    std::copy(opaque, opaque + 4, &star[(0 * kFavoriteSide + 7) * 4]);
    std::copy(faint, faint + 4, &star[(1 * kFavoriteSide + 7) * 4]);
    const auto overlay = favoriteOverlay(star);
    const unsigned char* moved = &overlay[(255 * kFavoriteSide + 7) * 4];
    EXPECT_EQ(std::vector<unsigned char>(moved, moved + 4), (std::vector<unsigned char>{129, 95, 79, 224}));
    const unsigned char* dropped = &overlay[(254 * kFavoriteSide + 7) * 4];
    EXPECT_EQ(std::vector<unsigned char>(dropped, dropped + 4), (std::vector<unsigned char>{0, 0, 0, 0}));

    // The folder tile: centred, cut to a short preview.
    const auto& folder = folderArtwork();
    const PreviewSize wide{512, 87};
    const auto tile = folderTileFor(folder, wide);
    ASSERT_EQ(tile.size(), 512u * 87 * 4);
    for (auto [r, c] : {std::pair{0, 0}, {40, 50}, {86, 99}}) {
        const unsigned char* icon = &folder[(r * kFolderSide + c) * 4];
        const unsigned char* at = &tile[(std::size_t(r) * 512 + 206 + c) * 4];
        EXPECT_EQ(at[3], icon[3] >= 129 ? icon[3] : 0) << r << ' ' << c;
        if (icon[3] >= 129) {
            EXPECT_EQ(at[0], icon[0]) << r << ' ' << c;
        }
    }
    EXPECT_EQ(tile[(std::size_t(40) * 512 + 205) * 4 + 3], 0);
    const auto hd = folderTileFor(folder, PreviewSize{512, 288});
    EXPECT_EQ(hd[(std::size_t(94 + 50) * 512 + 206 + 50) * 4 + 3], 255);  // the icon's middle
}

GalleryItem item(LutItemKind kind, const std::string& itemString) {
    GalleryItem i;
    i.kind = kind;
    i.itemString = itemString;
    return i;
}

TEST(GalleryRules, LocalOrderCaptionsAndPicks) {
    const std::vector<DirectoryEntry> entries = {
        {"b", true}, {"a.cube", false}, {"c", true}, {"d.3dl", false}, {".x.cube", false}, {"X.CUBE", false},
        {"x.Cube.cube", false}, {"look.cube.bak", false}, {"notes.txt", false}, {"old.cube", true}, {"Y.3DL", false}};
    Strings order;
    std::vector<LutItemKind> kinds;
    for (const GalleryItem& i : localItems(entries, "/L", "/")) {
        order.push_back(i.itemString);
        kinds.push_back(i.kind);
    }
    EXPECT_EQ(order, (Strings{"/L/old.cube", "/L/c", "/L/b", "/L/a.cube", "/L/d.3dl", "/L/X.CUBE", "/L/x.Cube.cube",
                              "/L/look.cube.bak", "/L/Y.3DL"}));
    EXPECT_EQ(kinds, (std::vector<LutItemKind>{Folder, Folder, Folder, CubeLut, OtherLut, CubeLut, CubeLut, CubeLut,
                                               OtherLut}));

    struct Caption {
        GalleryItem item;
        bool online;
        std::string caption;
    };
    const Caption captions[] = {{item(CubeLut, "/L/a.cube"), false, "a.cube"},
                                {item(Folder, "C:\\L\\b"), false, "b"},
                                {item(OtherLut, "Warm:7"), true, "Warm"},
                                {item(Folder, "Film/:Film/Night"), true, "Film"},
                                {item(Link, "Buy:http://x/buy"), true, "Buy"},
                                {item(OtherLut, "plain"), true, "plain"}};
    for (const Caption& c : captions)
        EXPECT_EQ(itemCaption(c.item, c.online, c.item.itemString[0] == 'C' ? "\\" : "/"), c.caption);

    const std::vector<GalleryItem> items = {item(CubeLut, "/L/a.cube"), item(Folder, "/L/Night"),
                                            item(CubeLut, "/L/Night.cube"), item(Folder, "/L/x")};
    EXPECT_EQ(pickedItems(items, false, "/", "a.cube", ""), (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(pickedItems(items, false, "/", "a.cube", "Night"), (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(pickedItems(items, false, "/", "Night.cube", "x"), (std::vector<bool>{false, false, true, true}));
    // A name with its suffix picks that file alone, not what shares its stem.
    const std::vector<GalleryItem> stems = {item(Folder, "/L/Night"), item(OtherLut, "/L/Night.3dl"),
                                            item(CubeLut, "/L/Night.cube"), item(CubeLut, "/L/Nightfall.cube"),
                                            item(CubeLut, "/L/Night.cube.cube")};
    EXPECT_EQ(pickedItems(stems, false, "/", "Night.cube", ""), (std::vector<bool>{false, false, true, false, false}));
    const std::vector<GalleryItem> online = {item(IconLink, "Shop:/shop"), item(Folder, "Night/:Film/Night"),
                                             item(OtherLut, "Teal:4")};
    EXPECT_EQ(pickedItems(online, true, "/", "Shop:/shop", "Night"), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(pickedItems(online, true, "/", "Teal", ""), (std::vector<bool>{false, false, true}));
}

// Four entries in quarters: the online window's listing.
TEST(GalleryRules, ProgressNeverReachesOneHundred) {
    Strings three;
    for (int i = 0; i < 3; ++i) three.push_back(progressLabel(i, 3));
    EXPECT_EQ(three, (Strings{"Loading (0%)", "Loading (33%)", "Loading (66%)"}));
}

// A LUT of 256 nodes (the .cube limit, which the readers accept) grades like
// every other: the appliers take the edge as an int.
TEST(GalleryRules, AppliersGradeWithTheLargestEdge) {
    const int n = 256;
    std::vector<float> nodes(4 * std::size_t(n) * n * n);
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                float* node = &nodes[lutNodeOffset(n, r, g, b)];
                node[0] = 1.0f - r / 255.0f, node[1] = g / 255.0f, node[2] = b / 510.0f, node[3] = 1.0f;
            }
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-0.1f, 1.1f);
    const int pixelCount = 301;
    std::vector<float> src(pixelCount * 4);
    std::vector<unsigned char> bytes(pixelCount * 4);
    for (std::size_t i = 0; i < src.size(); ++i) {
        src[i] = unit(random);
        bytes[i] = static_cast<unsigned char>(random() & 255);
    }
    const auto same = [&](const auto* in, int channels) {
        std::vector<float> fast(src.size(), -1.0f), plain(src.size(), -1.0f);
        applyLutCPUTrilinear(in, fast.data(), nodes.data(), 0, 1, false, n, pixelCount * 4 / channels, channels);
        quillane::plain::applyLut(in, plain.data(), nodes.data(), 0, 1, false, n, pixelCount * 4 / channels, channels);
        EXPECT_EQ(fast, plain) << channels;
    };
    for (int channels : {3, 4}) same(src.data(), channels), same(bytes.data(), channels);
    // The byte v lands exactly on node v.
    const unsigned char px[4] = {255, 17, 200, 0};
    float out[4];
    applyLutCPUTrilinear(px, out, nodes.data(), 0, 1, false, n, 1, 4);
    EXPECT_FLOAT_EQ(out[0], 0.0f);
    EXPECT_NEAR(out[1], 17 / 255.0f, 1e-6);
    EXPECT_NEAR(out[2], 200 / 510.0f, 1e-6);
    EXPECT_EQ(out[3], 1.0f);
}

}  // namespace
