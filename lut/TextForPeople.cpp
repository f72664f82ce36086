#include "lut/TextForPeople.h"

#include <cstdio>

namespace {

// The length of the UTF-8 sequence at text[at] and its code point; 0 when the bytes there
// are no well-formed sequence (overlong forms and surrogates included).
std::size_t utf8Sequence(std::string_view text, std::size_t at, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

std::string escaped(std::string_view text, bool keepLineEnds, bool quoting) {
    std::string out;
    out.reserve(text.size() + (quoting ? 2 : 0));
    if (quoting) out.push_back('"');
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        const std::size_t length = utf8Sequence(text, at, code);
        if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++at;
            continue;
        }
        const bool control = code < 0x20 || (code >= 0x7F && code <= 0x9F);
        if (code == '\n' && keepLineEnds) {
            out.push_back('\n');
        } else if (control) {
            switch (code) {
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default: {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(code));
                    out += hex;
                }
            }
        } else if (quoting && (code == '"' || code == '\\')) {
            out.push_back('\\');
            out.push_back(static_cast<char>(code));
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    if (quoting) out.push_back('"');
    return out;
}

}  // namespace

std::string escapeControls(std::string_view text, bool keepLineEnds) { return escaped(text, keepLineEnds, false); }

std::string quotedForPeople(std::string_view text) { return escaped(text, false, true); }
