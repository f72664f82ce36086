#include "lut/LutFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Bytes that may make up a .cube data line: blank, '-', '.', digits and 'e'.
struct DataChars {
    bool ok[256] = {};
    constexpr DataChars() {
        ok[static_cast<unsigned char>(' ')] = ok[static_cast<unsigned char>('-')] = true;
        ok[static_cast<unsigned char>('.')] = ok[static_cast<unsigned char>('e')] = true;
        for (int c = '0'; c <= '9'; ++c) ok[c] = true;
    }
};
constexpr DataChars kDataChars;

constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

inline bool isDigit(char c) { return static_cast<unsigned>(c - '0') < 10u; }

// One number of a data line, read as scanf's "%f" reads it when the token is
// plain: [-]digits[.digits] with at most 2^24 as mantissa and at most ten
// decimals is exact as w / 10^k in float (both operands are exact, the
// division rounds once). Anything else goes to from_chars, which also rounds
// correctly; a token either cannot take whole comes back as false and the
// line is handed to sscanf itself.
inline bool readNumber(const char*& p, const char* end, float& out) {
    const char* q = p;
    const bool neg = q < end && *q == '-';
    if (neg) ++q;
    std::uint64_t w = 0;
    int digits = 0, decimals = 0;
    for (; q < end && isDigit(*q); ++q, ++digits) w = w * 10 + static_cast<unsigned>(*q - '0');
    if (q < end && *q == '.')
        for (++q; q < end && isDigit(*q); ++q, ++digits, ++decimals) w = w * 10 + static_cast<unsigned>(*q - '0');
    const bool atEnd = q == end || *q == ' ' || *q == '\r' || *q == '\n';
    if (atEnd && digits > 0 && digits <= 19 && w <= (1u << 24) && decimals <= 10) {
        const float v = static_cast<float>(w) / kPow10[decimals];
        out = neg ? -v : v;
        p = q;
        return true;
    }
    auto r = std::from_chars(p, end, out);
    if (r.ec != std::errc()) return false;
    for (const char* c = p; c < r.ptr; ++c)
        if (!kDataChars.ok[static_cast<unsigned char>(*c)]) return false;
    p = r.ptr;
    return true;
}

// Calls piece(view) for each piece of s between delimiters, as successive
// std::getline reads give them (see split()).
template <typename Piece>
void forEachPiece(std::string_view s, char delimiter, Piece piece) {
    std::size_t start = 0;
    while (start < s.size()) {
        std::size_t d = s.find(delimiter, start);
        if (d == std::string_view::npos) d = s.size();
        piece(s.substr(start, d - start));
        start = d + 1;
    }
}

// Pieces of a line split at ' '; only the first three are kept, all are counted.
struct Pieces {
    std::string_view piece[3];
    int count = 0;
};
Pieces splitBlank(std::string_view line) {
    Pieces out;
    forEachPiece(line, ' ', [&](std::string_view piece) {
        if (out.count < 3) out.piece[out.count] = piece;
        ++out.count;
    });
    return out;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

void appendPresetLine(std::string& preset, std::string_view line) {
    if (line.empty()) return;
    if (line[0] == '#') line.remove_prefix(1);
    preset.append(line.data(), line.size());
}

// A .cube data line after its one trailing carriage return is gone: no '#'
// at its start, only data characters, exactly two blanks.
bool isCubeDataLine(std::string_view d) {
    if (d.empty() || d[0] == '#') return false;
    int blanks = 0;
    for (char c : d) {
        if (!kDataChars.ok[static_cast<unsigned char>(c)]) return false;
        blanks += c == ' ';
    }
    return blanks == 2;
}

// The empty Lut of a refused file, with the reason told to whoever asked.
Lut refused(LutFileRefusal* refusal, LutRefusal why, long long dimSize, long long dataLines) {
    if (refusal) {
        refusal->why = why;
        refusal->dimSize = dimSize;
        refusal->dataLines = dataLines;
    }
    return Lut();
}

// Two floats that hold the same value (NaN counting as one value).
bool sameValue(float a, float b) { return a == b || (a != a && b != b); }

}  // namespace

// One pass over the bytes gives what a header pass followed by a node pass
// gives: the header (size, range) is the last one seen before the end of the
// file (or before the preset marker when the preset is skipped), while the
// nodes are the first N^3 data lines of the whole file. Since N may be
// declared after the data, every data line is kept until the end, where the
// array is cut to N^3 nodes. A file with fewer data lines than that is
// refused: the nodes it does not reach would turn the frame nearly black.
Lut parseCubeText(std::string_view text, const std::string& path, std::string& presetText, bool skipPreset,
                  LutFileRefusal* refusal) {
    if (refusal) *refusal = LutFileRefusal();
    const auto refuse = [refusal](LutRefusal why, long long dimSize = 0, long long dataLines = 0) {
        return refused(refusal, why, dimSize, dataLines);
    };
    long long n = 0;
    bool sawSize = false;
    float range0 = 0.0f, range1 = 1.0f;
    // Whether the bound in force (range0, range1) came from a domain whose
    // three channels differ.
    bool perChannel[2] = {false, false};
    bool marker = false, headerDone = false;
    std::string gathered;
    std::vector<float> nodes;
    std::size_t used = 0;  // floats written to nodes

    // No accepted size has more nodes than this: data lines past it can never
    // be used, so a huge file of data lines does not grow memory with it.
    constexpr std::size_t kMaxFloats = 4 * std::size_t(kMaxFileDimSize) * kMaxFileDimSize * kMaxFileDimSize;
    // Room for one more node (false when no size could use it); once N is
    // known, room for all N^3 at once.
    auto room = [&]() {
        if (used + 4 <= nodes.size()) return true;
        if (used >= kMaxFloats) return false;
        std::size_t grow = std::max<std::size_t>(nodes.size() * 2, 4096);
        if (n > 0 && n <= kMaxFileDimSize) grow = std::max<std::size_t>(grow, 4 * static_cast<std::size_t>(n * n * n));
        nodes.resize(std::min(grow, kMaxFloats));
        return true;
    };
    auto addNode = [&](const float v[3]) {
        if (!room()) return;
        float* node = nodes.data() + used;
        node[0] = v[0];
        node[1] = v[1];
        node[2] = v[2];
        node[3] = 1.0f;
        used += 4;
    };

    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* lineStart = p;
        // Fast road: a plain data line "a b c" ending in \n, \r\n or the end.
        if (isDigit(*p) || *p == '-' || *p == '.') {
            float v[3];
            const char* q = p;
            if (readNumber(q, end, v[0]) && q < end && *q == ' ' && readNumber(++q, end, v[1]) && q < end &&
                *q == ' ' && readNumber(++q, end, v[2])) {
                if (q < end && *q == '\r') ++q;
                if (q == end || *q == '\n') {
                    addNode(v);
                    if (marker && !headerDone) appendPresetLine(gathered, std::string_view(lineStart, q - lineStart));
                    p = q == end ? end : q + 1;
                    continue;
                }
            }
        }
        // Every other line.
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* lineEnd = nl ? nl : end;
        p = nl ? nl + 1 : end;
        std::string_view line(lineStart, lineEnd - lineStart);
        if (line.empty()) continue;

        if (!headerDone) {
            if (line[0] == 'L') {
                Pieces pc = splitBlank(line);
                if (pc.count == 3 && startsWith(line, "LUT_3D_INPUT_RANGE")) {
                    range0 = static_cast<float>(std::strtod(std::string(pc.piece[1]).c_str(), nullptr));
                    range1 = static_cast<float>(std::strtod(std::string(pc.piece[2]).c_str(), nullptr));
                    perChannel[0] = perChannel[1] = false;
                } else if (pc.count == 2 && startsWith(line, "LUT_3D_SIZE")) {
                    const std::string number(pc.piece[1]);
                    char* stop = nullptr;
                    errno = 0;
                    const long v = std::strtol(number.c_str(), &stop, 10);
                    if (stop == number.c_str() || errno == ERANGE || v < std::numeric_limits<int>::min() ||
                        v > std::numeric_limits<int>::max())
                        return refuse(LutRefusal::BadSize);  // no readable size: the file is refused
                    n = v;
                    sawSize = true;
                } else if (isCubeOneDimensionalSize(line)) {
                    return refuse(LutRefusal::OneDimensionalPart);  // refused as a whole, the preset with it
                }
            } else if (line[0] == 'D') {
                // A domain is the input range under another name, one bound
                // per line; the later of it and LUT_3D_INPUT_RANGE wins.
                const int bound = cubeDomainBound(line);
                float rgb[3];
                if (bound >= 0 && !readCubeDomain(line, rgb)) return refuse(LutRefusal::UnreadableDomain);
                if (bound >= 0) {
                    perChannel[bound] = !sameValue(rgb[0], rgb[1]) || !sameValue(rgb[0], rgb[2]);
                    (bound == 0 ? range0 : range1) = rgb[0];
                }
            }
            if (!marker) {
                if (startsWith(line, "#64BLOB")) {
                    marker = true;
                    headerDone = skipPreset;
                }
            } else {
                appendPresetLine(gathered, line);
            }
        }

        std::string_view d = line;
        if (d.back() == '\r') d.remove_suffix(1);
        if (isCubeDataLine(d)) {
            float v[3] = {0.0f, 0.0f, 0.0f};
            const std::string copy(d);
            std::sscanf(copy.c_str(), "%f %f %f", &v[0], &v[1], &v[2]);
            addNode(v);
        }
    }

    // Refused as a whole, like an unreadable file, the preset with it.
    if (n > kMaxFileDimSize) return refuse(LutRefusal::SizeAboveLimit, n);
    const std::size_t want = 4 * static_cast<std::size_t>(n > 0 ? n * n * n : 0);
    if (n >= 1 && (perChannel[0] || perChannel[1])) return refuse(LutRefusal::PerChannelDomain, n);
    if (n >= 1 && used < want) return refuse(LutRefusal::ShortOfDataLines, n, static_cast<long long>(used / 4));
    if (!skipPreset) presetText = std::move(gathered);
    if (n < 1) return refuse(sawSize ? LutRefusal::BadSize : LutRefusal::NoSize);
    nodes.resize(want);
    return Lut(std::move(nodes), static_cast<int>(n), range0, range1, path);
}

Lut parse3dlText(std::string_view text, const std::string& path, std::string& presetText, bool skipPreset,
                 LutFileRefusal* refusal) {
    if (refusal) *refusal = LutFileRefusal();
    const auto refuse = [refusal](LutRefusal why, long long dimSize = 0, long long dataLines = 0) {
        return refused(refusal, why, dimSize, dataLines);
    };
    int n = 0;
    long long k = 0, total = 0;
    // Whether a value passed the 10-bit or the 12-bit top: the file's depth.
    bool dataMode = false, marker = false, over10 = false, over12 = false;
    std::string gathered, copy;
    std::vector<float> nodes;

    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        std::string_view line(p, (nl ? nl : end) - p);
        p = nl ? nl + 1 : end;
        const bool hasHash = line.find('#') != std::string_view::npos;

        if (n == 0 && !line.empty() && !hasHash) {
            std::size_t pieces = 0, m = 0;
            forEachPiece(line, ' ', [&](std::string_view piece) {
                ++pieces;
                m += !piece.empty() && piece != "\r";
            });
            if (pieces >= 6 && m >= 6) {
                if (m > static_cast<std::size_t>(kMaxFileDimSize))  // refused as a whole
                    return refuse(LutRefusal::SizeAboveLimit, static_cast<long long>(m));
                n = static_cast<int>(m);
                total = static_cast<long long>(n) * n * n;
                nodes.assign(4 * static_cast<std::size_t>(total), 0.0f);
                for (long long t = 0; t < total; ++t) nodes[4 * t + 3] = 1.0f;
                dataMode = true;
                continue;
            }
        }
        // Some tools right-align their columns: blanks before the first value
        // do not make a line less of a data line.
        std::string_view values = line;
        values.remove_prefix(std::min(values.size(), values.find_first_not_of(' ')));
        if (dataMode && !values.empty() && !hasHash && isDigit(values[0]) &&
            std::count(values.begin(), values.end(), ' ') >= 2) {
            float v[3] = {0.0f, 0.0f, 0.0f};
            copy.assign(line.data(), line.size());
            std::sscanf(copy.c_str(), "%f %f %f", &v[0], &v[1], &v[2]);
            // The file runs blue fastest, the nodes red fastest.
            const std::size_t nn = static_cast<std::size_t>(n);
            const std::size_t b = k % nn, g = (k / nn) % nn, r = k / (nn * nn);
            float* node = nodes.data() + lutNodeOffset(nn, r, g, b);
            for (int c = 0; c < 3; ++c) {
                node[c] = v[c];
                over10 = over10 || v[c] > 1023.0f;
                over12 = over12 || v[c] > 4095.0f;
            }
            if (++k == total) dataMode = false;
        }
        if (!marker && !dataMode) {
            if (startsWith(line, "#64BLOB")) {
                marker = true;
                if (skipPreset) break;
                continue;
            }
        } else if (marker) {
            appendPresetLine(gathered, line);
        }
    }

    // Nodes no data line reached would turn the frame nearly black: a short
    // file is refused as a whole.
    if (n > 0 && k < total) return refuse(LutRefusal::ShortOfDataLines, n, k);
    if (!skipPreset) presetText = std::move(gathered);
    if (n == 0) return refuse(LutRefusal::NoMeshLine);
    // 16-bit files (written by some tools) are told apart by a value above 4095.
    const float scale = over12 ? 65535.0f : over10 ? 4095.0f : 1023.0f;
    for (std::size_t t = 0; t < nodes.size(); t += 4) {
        nodes[t + 0] /= scale;
        nodes[t + 1] /= scale;
        nodes[t + 2] /= scale;
    }
    return Lut(std::move(nodes), n, 0.0f, 1.0f, path);
}

bool isCubeOneDimensionalSize(std::string_view line) { return startsWith(line, "LUT_1D_SIZE"); }

int cubeDomainBound(std::string_view line) {
    const auto keyword = [&](std::string_view word) {
        return startsWith(line, word) && (line.size() == word.size() || line[word.size()] == ' ' ||
                                          line[word.size()] == '\t' || line[word.size()] == '\r');
    };
    return keyword("DOMAIN_MIN") ? 0 : keyword("DOMAIN_MAX") ? 1 : -1;
}

// The numbers are read as LUT_3D_INPUT_RANGE's are (strtod, narrowed to
// float), but parted by any run of blanks or tabs, since a domain that is
// passed over grades the whole frame wrong; what follows the third number
// (a comment) is not looked at.
bool readCubeDomain(std::string_view line, float rgb[3]) {
    std::size_t at = std::string_view("DOMAIN_MIN").size();
    for (int c = 0; c < 3; ++c) {
        at = line.find_first_not_of(" \t\r", at);
        if (at == std::string_view::npos) return false;
        const std::size_t end = std::min(line.find_first_of(" \t\r", at), line.size());
        const std::string token(line.substr(at, end - at));
        char* stop = nullptr;
        const double v = std::strtod(token.c_str(), &stop);
        if (stop != token.c_str() + token.size()) return false;
        rgb[c] = static_cast<float>(v);
        at = end;
    }
    return true;
}

void lutFromFile(std::string* path, Lut* lut, std::vector<char>* preset) {
    if (!path || !lut || !preset) return;
    const int type = ends_with(*path, ".3dl") ? 1 : 0;
    std::string text;
    *lut = Lut().loadFromFile(*path, text, false, type);
    // A file saved with CRLF line ends keeps each line's carriage return in the
    // gathered text; decoded as a character it would shift every later group and
    // garble the preset, so it is dropped here.
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    *preset = decodeBase64(text);
}

namespace {
// Indexed by character code; 0xFF marks a code outside the alphabet.
struct FromBase64 {
    unsigned char v[128] = {};
    constexpr FromBase64() {
        for (int c = 0; c < 128; ++c) v[c] = 0xFF;
        for (int c = 0; c < 26; ++c) {
            v['A' + c] = static_cast<unsigned char>(c);
            v['a' + c] = static_cast<unsigned char>(26 + c);
        }
        for (int c = 0; c < 10; ++c) v['0' + c] = static_cast<unsigned char>(52 + c);
        v[static_cast<unsigned char>('+')] = v[static_cast<unsigned char>('-')] = 62;
        v[static_cast<unsigned char>('/')] = v[static_cast<unsigned char>('_')] = 63;
    }
};
constexpr FromBase64 from_base64;

inline unsigned base64Value(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 128 || from_base64.v[u] == 0xFF) return 63;
    return from_base64.v[u];
}
}  // namespace

std::vector<char> decodeBase64(std::string_view text) {
    std::vector<char> out;
    out.reserve(text.size() / 4 * 3 + 2);
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const std::size_t have = std::min<std::size_t>(4, text.size() - at);
        if (have < 2) break;  // a lone character determines no byte
        const char* g = text.data() + at;
        const unsigned w0 = base64Value(g[0]), w1 = base64Value(g[1]);
        const unsigned w2 = have > 2 ? base64Value(g[2]) : 0, w3 = have > 3 ? base64Value(g[3]) : 0;
        int bytes = static_cast<int>(have) - 1;  // 2 chars give 1 byte, 3 give 2, 4 give 3
        if (have == 4 && g[2] == '=' && g[3] == '=') bytes = 1;
        else if (have == 4 && g[3] == '=') bytes = 2;
        else if (have == 3 && g[2] == '=') bytes = 1;
        out.push_back(static_cast<char>((w0 * 4 + w1 / 16) & 0xFF));
        if (bytes > 1) out.push_back(static_cast<char>((w1 * 16 + w2 / 4) & 0xFF));
        if (bytes > 2) out.push_back(static_cast<char>((w2 * 64 + w3) & 0xFF));
    }
    return out;
}

bool ends_with(std::string s, std::string suffix) {
    auto lower = [](std::string& t) {
        for (char& c : t)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    };
    lower(s);
    lower(suffix);
    if (suffix.size() > s.size()) return false;
    return s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> split(const std::string& s, char delimiter) {
    std::vector<std::string> pieces;
    forEachPiece(s, delimiter, [&](std::string_view piece) { pieces.emplace_back(piece); });
    return pieces;
}

void removeCharsFromString(std::string& s, const char* chars) {
    if (!chars) return;
    for (const char* c = chars; *c; ++c) s.erase(std::remove(s.begin(), s.end(), *c), s.end());
}
