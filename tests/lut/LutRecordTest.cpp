#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "lut/Lut.h"

namespace {

std::vector<unsigned char> serviceLut(std::uint32_t n, std::size_t length) {
    std::vector<unsigned char> b(length, 0xAB);  // header bytes hold junk on purpose
    b[12] = n & 0xFF;
    b[13] = (n >> 8) & 0xFF;
    b[14] = (n >> 16) & 0xFF;
    b[15] = (n >> 24) & 0xFF;
    const std::size_t nodes = std::size_t(n) * n * n;
    for (std::size_t k = 0; k < 3 * nodes && 88 + k < length; ++k) b[88 + k] = static_cast<unsigned char>(k * 7);
    return b;
}

Lut fromBytes(const std::vector<unsigned char>& b) { return Lut(b.data(), static_cast<int>(b.size())); }

TEST(LutRecord, ServiceBinarySizesAndValues) {
    // The accepted minimum is 1000 bytes, whatever N needs.
    EXPECT_FALSE(fromBytes(serviceLut(2, 999)).isLoaded());
    EXPECT_TRUE(fromBytes(serviceLut(2, 1000)).isLoaded());

    Lut zero = fromBytes(serviceLut(0, 2000));
    EXPECT_TRUE(!zero.isLoaded() && zero.getDimSize() == 0 && zero.getData() == nullptr);

    // Node n takes bytes 88 + 3n .. 90 + 3n, red fastest; alpha is 1.
    std::vector<unsigned char> b = serviceLut(3, 1200);
    b[88 + 3 * 5] = 0;
    b[89 + 3 * 5] = 255;
    b[90 + 3 * 5] = 51;
    Lut three = fromBytes(b);
    ASSERT_TRUE(three.isLoaded());
    const float* d = three.getData();
    EXPECT_EQ(d[4 * 5 + 0], 0.0f);
    EXPECT_EQ(d[4 * 5 + 1], 1.0f);
    EXPECT_EQ(d[4 * 5 + 2], 51 / 255.0f);
    for (int k = 0; k < three.totalSize(); ++k) ASSERT_EQ(d[4 * k + 3], 1.0f);
    ColorLut c = three.getIndexedColor(0, 1, 2);  // node 5 = red 2, green 1, blue 0
    EXPECT_EQ(c.g, 1.0f);
}

TEST(LutRecord, ServiceBinaryHostileSizeNeverOverflows) {
    // Sizes whose cube wraps around 32 or 64 bits must fail, not allocate.
    for (std::uint32_t n : {0xFFFFFFFFu, 0x80000000u, 2097152u, 1626u, 1625u, 895u, 813u})
        EXPECT_FALSE(fromBytes(serviceLut(n, 4096)).isLoaded()) << n;
    EXPECT_FALSE(Lut(nullptr, 5000).isLoaded());
    EXPECT_FALSE(Lut(serviceLut(2, 1000).data(), -1).isLoaded());
}

// Exactly 88 + 3*N^3 bytes (above the minimum) is enough, any prefix is not.
TEST(LutRecord, ServiceBinaryTruncationSweep) {
    const std::vector<unsigned char> full = serviceLut(9, 88 + 3 * 729);
    for (std::size_t len = 0; len <= full.size(); ++len) {
        // A shorter copy in its own buffer, so ASan sees any read past it.
        std::vector<unsigned char> prefix(full.begin(), full.begin() + len);
        Lut lut(prefix.empty() ? nullptr : prefix.data(), static_cast<int>(len));
        EXPECT_EQ(lut.isLoaded(), len == full.size()) << len;
    }
}

TEST(LutRecord, NodeAccess) {
    const int n = 4;
    std::vector<float> nodes(4 * n * n * n, 0.25f);
    for (std::size_t k = 3; k < nodes.size(); k += 4) nodes[k] = 1.0f;
    Lut a(nodes, n, -0.5f, 2.0f, "/x/y.cube");
    // Indices run blue, green, red (red fastest, as the readers and appliers lay nodes out); alpha stays 1.
    a.setIndexedColor(1, 2, 3, ColorLut(0.1f, 0.2f, 0.3f));
    const float* node = a.getData() + lutNodeOffset(n, 3, 2, 1);
    EXPECT_TRUE(node[0] == 0.1f && node[2] == 0.3f && node[3] == 1.0f);
    // Out-of-range indices neither read nor write.
    a.setIndexedValues(4, 0, 0, 1, 1, 1);
    a.setIndexedValues(0, -1, 0, 1, 1, 1);
    EXPECT_EQ(a.getIndexedColor(0, 0, 4).r, 0.0f);
    EXPECT_EQ(a.getData()[0], 0.25f);
}

TEST(LutRecord, AdoptedArrayAlwaysMatchesItsSize) {
    // A short array gains neutral nodes, so appliers never read past it.
    Lut shortOne(std::vector<float>(4, 0.5f), 2, 0, 1);
    ASSERT_TRUE(shortOne.isLoaded());
    EXPECT_EQ(shortOne.getIndexedColor(1, 1, 1).r, 0.0f);
    EXPECT_EQ(shortOne.getData()[4 * 7 + 3], 1.0f);
    EXPECT_EQ(shortOne.getData()[0], 0.5f);

    Lut none(std::vector<float>(32, 1.0f), 0, 0, 1);
    EXPECT_FALSE(none.isLoaded());
    EXPECT_EQ(none.getData(), nullptr);
    EXPECT_FALSE(Lut(std::vector<float>(), -3, 0, 1).isLoaded());
    EXPECT_FALSE(Lut(std::vector<float>(), Lut::kMaxDimSize + 1, 0, 1).isLoaded());
}

}  // namespace
