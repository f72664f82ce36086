#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "plugin/Base64.h"

namespace {

std::vector<char> bytes(const std::string& s) { return std::vector<char>(s.begin(), s.end()); }
std::string text(const std::vector<char>& v) { return std::string(v.begin(), v.end()); }

TEST(Base64, EncodesIndependentVectorsAndDecodesEveryLengthBack) {
    // RFC 4648, section 10, then high bytes and the alphabet's last two letters.
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},           {"f", "Zg=="},       {"fo", "Zm8="},       {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xFB\xFF", "+/8="},
        {std::string("\xFF\xFE\x00", 3), "//4A"},  {std::string(1, '\0'), "AA=="}};
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(bytes(plain)), encoded);
        EXPECT_EQ(text(base64Decode(encoded)), plain);
    }
    std::mt19937 random(7);
    for (std::size_t length = 0; length < 300; ++length) {
        std::vector<char> data(length);
        for (char& c : data) c = static_cast<char>(random());
        const std::string encoded = base64Encode(data);
        ASSERT_EQ(encoded.size(), (length + 2) / 3 * 4);
        ASSERT_EQ(base64Decode(encoded), data) << "length " << length;
    }
}

TEST(Base64, LenientDecoderStopsAndKeepsWhatItRead) {
    const std::pair<std::string, std::string> cases[] = {
        // The first '=' ends the text, whatever follows.
        {"Zm9v=YmFy", "foo"}, {"Zg==Zm9v", "f"}, {"=Zm9v", ""},
        // So do a line break, a blank, URL-safe letters, a non-ASCII byte and NUL.
        {"Zm9v\nYmFy", "foo"}, {"Zm9vYm Fy", "foob"}, {"Zm9v-_8", "foo"}, {"Zm9v\xC3\xA9YmFy", "foo"},
        {std::string("Zm9v\0YmFy", 9), "foo"}, {"\n", ""},
        // A partial last group: three characters give two bytes, two give one, one gives none.
        {"Zm9vYmE", "fooba"}, {"Zm9vYg", "foob"}, {"Zm9vY", "foo"}, {"Z", ""}};
    for (const auto& [encoded, plain] : cases) EXPECT_EQ(text(base64Decode(encoded)), plain) << encoded;
}

}  // namespace
