#include "plugin/Base64.h"

#include <array>

namespace {

const std::string base64_chars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each character, or -1 for characters outside the alphabet.
const std::array<int, 256>& decodeTable() {
    static const std::array<int, 256> table = [] {
        std::array<int, 256> t{};
        t.fill(-1);
        for (std::size_t i = 0; i < base64_chars.size(); ++i)
            t[static_cast<unsigned char>(base64_chars[i])] = static_cast<int>(i);
        return t;
    }();
    return table;
}

}  // namespace

std::string base64Encode(const unsigned char* bytes, std::size_t length) {
    std::string text;
    if (!bytes || length == 0) return text;
    text.reserve((length + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        text += base64_chars[(v >> 18) & 63];
        text += base64_chars[(v >> 12) & 63];
        text += base64_chars[(v >> 6) & 63];
        text += base64_chars[v & 63];
    }
    const std::size_t rest = length - i;
    if (rest > 0) {
        const unsigned v = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
        text += base64_chars[(v >> 18) & 63];
        text += base64_chars[(v >> 12) & 63];
        text += rest == 2 ? base64_chars[(v >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

std::string base64Encode(const std::vector<char>& bytes) {
    return base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::vector<char> base64Decode(std::string_view text) {
    const auto& table = decodeTable();
    std::vector<char> bytes;
    bytes.reserve(text.size() / 4 * 3 + 2);
    unsigned group = 0;
    int count = 0;
    for (const char c : text) {
        const int value = table[static_cast<unsigned char>(c)];
        if (value < 0) break;  // '=' or anything outside the alphabet ends the text
        group = (group << 6) | static_cast<unsigned>(value);
        if (++count == 4) {
            bytes.push_back(static_cast<char>((group >> 16) & 0xFF));
            bytes.push_back(static_cast<char>((group >> 8) & 0xFF));
            bytes.push_back(static_cast<char>(group & 0xFF));
            group = 0;
            count = 0;
        }
    }
    // A partial group: 2 characters hold one whole byte, 3 hold two, 1 holds none.
    if (count == 2) {
        bytes.push_back(static_cast<char>((group >> 4) & 0xFF));
    } else if (count == 3) {
        bytes.push_back(static_cast<char>((group >> 10) & 0xFF));
        bytes.push_back(static_cast<char>((group >> 2) & 0xFF));
    }
    return bytes;
}
