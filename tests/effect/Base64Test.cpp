#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "plugin/Base64.h"

namespace {

std::vector<char> bytes(const std::string& s) { return std::vector<char>(s.begin(), s.end()); }
std::string text(const std::vector<char>& v) { return std::string(v.begin(), v.end()); }

TEST(Base64, EncodesTheStandardVectorsAndBinaryBytes) {
    // RFC 4648, section 10.
    EXPECT_EQ(base64Encode(bytes("")), "");
    EXPECT_EQ(base64Encode(bytes("f")), "Zg==");
    EXPECT_EQ(base64Encode(bytes("fo")), "Zm8=");
    EXPECT_EQ(base64Encode(bytes("foo")), "Zm9v");
    EXPECT_EQ(base64Encode(bytes("foob")), "Zm9vYg==");
    EXPECT_EQ(base64Encode(bytes("fooba")), "Zm9vYmE=");
    EXPECT_EQ(base64Encode(bytes("foobar")), "Zm9vYmFy");
    // High bytes and the last two letters of the alphabet ('+' is 62, '/' 63).
    EXPECT_EQ(base64Encode(std::vector<char>{'\xFB', '\xFF'}), "+/8=");
    EXPECT_EQ(base64Encode(std::vector<char>{'\xFF', '\xFE', '\x00'}), "//4A");
    EXPECT_EQ(base64Encode(std::vector<char>{'\x00', '\x00', '\x00'}), "AAAA");
    EXPECT_EQ(base64Encode(std::vector<char>{'\x00'}), "AA==");
    // Every byte value once: the well-known encoding of 0x00..0xFF starts and ends like this.
    std::vector<char> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
    const std::string encoded = base64Encode(all);
    EXPECT_EQ(encoded.size(), 344u);
    EXPECT_EQ(encoded.substr(0, 16), "AAECAwQFBgcICQoL");
    EXPECT_EQ(encoded.substr(encoded.size() - 8), "/P3+/w==");
}

TEST(Base64, DecodesWhatItEncodesForEveryLength) {
    std::mt19937 random(7);
    for (std::size_t length = 0; length < 300; ++length) {
        std::vector<char> data(length);
        for (char& c : data) c = static_cast<char>(random());
        const std::string encoded = base64Encode(data);
        ASSERT_EQ(encoded.size() % 4, 0u);
        ASSERT_EQ(base64Decode(encoded), data) << "length " << length;
    }
    EXPECT_EQ(text(base64Decode("Zm9vYmFy")), "foobar");
    EXPECT_EQ(base64Decode("+/8="), (std::vector<char>{'\xFB', '\xFF'}));
}

TEST(Base64, LenientDecoderStopsAndKeepsWhatItRead) {
    // The first '=' ends the text, whatever follows.
    EXPECT_EQ(text(base64Decode("Zm9v=YmFy")), "foo");
    EXPECT_EQ(text(base64Decode("Zg==Zm9v")), "f");
    // A line break, a blank, URL-safe letters or a non-ASCII byte stop it too.
    EXPECT_EQ(text(base64Decode("Zm9v\nYmFy")), "foo");
    EXPECT_EQ(text(base64Decode("Zm9vYm Fy")), "foob");
    EXPECT_EQ(text(base64Decode("Zm9v-_8")), "foo");
    EXPECT_EQ(text(base64Decode("Zm9v\xC3\xA9YmFy")), "foo");
    EXPECT_EQ(text(base64Decode(std::string("Zm9v\0YmFy", 9))), "foo");
    // A partial last group: three characters give two bytes, two give one, one gives none.
    EXPECT_EQ(text(base64Decode("Zm9vYmE")), "fooba");
    EXPECT_EQ(text(base64Decode("Zm9vYg")), "foob");
    EXPECT_EQ(text(base64Decode("Zm9vY")), "foo");
    EXPECT_TRUE(base64Decode("Z").empty());
    EXPECT_TRUE(base64Decode("").empty());
    EXPECT_TRUE(base64Decode("=Zm9v").empty());
    EXPECT_TRUE(base64Decode("\n").empty());
}

}  // namespace
