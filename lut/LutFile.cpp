#include "lut/LutFile.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

inline bool isDigit(char c) { return static_cast<unsigned>(c - '0') < 10u; }
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The bytes a number of a LUT file is written with: signs, digits, a point
// and an exponent of either case. The words inf and nan and hexadecimal
// floats are no numbers of these files.
struct NumberChars {
    bool ok[256] = {};
    constexpr NumberChars() {
        for (const char c : {'+', '-', '.', 'e', 'E'}) ok[static_cast<unsigned char>(c)] = true;
        for (int c = '0'; c <= '9'; ++c) ok[c] = true;
    }
};
constexpr NumberChars kNumberChars;

bool onlyNumberChars(std::string_view t) {
    for (const char c : t)
        if (!kNumberChars.ok[static_cast<unsigned char>(c)]) return false;
    return true;
}

constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// Whether the decimal number in [p, end) (as from_chars took it) is 1 or more
// in magnitude, told from its digits: for a value too far from 1 for the type.
bool atLeastOne(const char* p, const char* end) {
    if (p < end && *p == '-') ++p;
    long long place = 0;  // power of ten of the first digit that is not 0
    bool point = false, found = false;
    for (; p < end && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') point = true;
        else if (found) place += point ? 0 : 1;  // a further digit before the point
        else if (*p != '0') found = true, place -= point;  // the first digit that is not 0
        else place -= point;  // a 0 after the point, before that digit
    }
    long long exponent = 0;
    bool negative = false;
    if (p < end && ++p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    for (; p < end; ++p) exponent = std::min<long long>(exponent * 10 + (*p - '0'), 1000000000LL);
    return place + (negative ? -exponent : exponent) >= 0;
}

// A number read as strtod reads it in the "C" locale, whatever locale the
// process runs in (a toolkit sets it from the environment, and under a
// comma-decimal one strtod stops at the point): one leading '+' is taken, and
// a value nearer 0 than the type holds is read as 0. A value beyond the
// type's range is set to infinity and keeps result_out_of_range.
template <typename T>
std::from_chars_result readDecimal(const char* first, const char* last, T& out) {
    const char* p = first;
    if (p < last && *p == '+' && ++p < last && *p == '-') return {first, std::errc::invalid_argument};
    std::from_chars_result r = std::from_chars(p, last, out);
    if (r.ec == std::errc::invalid_argument) r.ptr = first;
    if (r.ec != std::errc::result_out_of_range) return r;
    const T magnitude = atLeastOne(p, r.ptr) ? std::numeric_limits<T>::infinity() : T(0);
    out = *p == '-' ? -magnitude : magnitude;
    if (magnitude == T(0)) r.ec = std::errc();
    return r;
}

// One field read whole as a number, or false. A plain decimal
// ([-]digits[.digits], at most 2^24 as mantissa, at most ten decimals) is
// exact as w / 10^k in float (both operands are exact, the division rounds
// once), which spares the library call on almost every field of a file. A
// value beyond float's range is no usable node: not a number.
bool readNumber(std::string_view t, float& out) {
    if (t.empty()) return false;
    std::size_t i = t[0] == '-' ? 1 : 0;
    std::uint64_t w = 0;
    int digits = 0, decimals = 0;
    for (; i < t.size() && isDigit(t[i]); ++i, ++digits) w = w * 10 + static_cast<unsigned>(t[i] - '0');
    if (i < t.size() && t[i] == '.')
        for (++i; i < t.size() && isDigit(t[i]); ++i, ++digits, ++decimals) w = w * 10 + static_cast<unsigned>(t[i] - '0');
    if (i == t.size() && digits > 0 && digits <= 19 && w <= (1u << 24) && decimals <= 10) {
        const float v = static_cast<float>(w) / kPow10[decimals];
        out = t[0] == '-' ? -v : v;
        return true;
    }
    if (!onlyNumberChars(t)) return false;
    float v;
    const std::from_chars_result r = readDecimal(t.data(), t.data() + t.size(), v);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
    out = v;
    return true;
}

// A field of number bytes only, read whole, whose value lies beyond float's
// range: no usable node, but a number all the same.
bool beyondFloat(std::string_view t) {
    if (!onlyNumberChars(t)) return false;
    float v;
    const std::from_chars_result r = readDecimal(t.data(), t.data() + t.size(), v);
    return r.ec == std::errc::result_out_of_range && r.ptr == t.data() + t.size();
}

// The line without the blanks, tabs and carriage returns at its end.
std::string_view withoutLineEnd(std::string_view line) {
    std::size_t n = line.size();
    while (n > 0 && (isBlank(line[n - 1]) || line[n - 1] == '\r')) --n;
    return line.substr(0, n);
}

// Calls field(view) for each field of a line: the line is split at runs of
// blanks and tabs, and blanks, tabs and carriage returns at its end are no
// part of it. Stops early when field returns false.
template <typename Field>
void forEachField(std::string_view line, Field field) {
    line = withoutLineEnd(line);
    const std::size_t n = line.size();
    for (std::size_t i = 0;;) {
        while (i < n && isBlank(line[i])) ++i;
        if (i >= n) return;
        const std::size_t start = i;
        while (i < n && !isBlank(line[i])) ++i;
        if (!field(line.substr(start, i - start))) return;
    }
}

// The first four fields of a line, and how many it has.
struct Fields {
    std::string_view at[4];
    int count = 0;
};
Fields fieldsOf(std::string_view line) {
    Fields f;
    forEachField(line, [&f](std::string_view field) {
        if (f.count < 4) f.at[f.count] = field;
        ++f.count;
        return true;
    });
    return f;
}

// Keywords are matched without regard to case (ASCII).
bool isKeyword(std::string_view field, std::string_view keyword) {
    if (field.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != keyword[i]) return false;
    }
    return true;
}

// Whether a field begins as a number does, or is one of the words strtof
// reads as a number (inf, infinity, nan, nan(...), in any case): the lines
// that may be data a tool wrote.
bool beginsAsNumber(std::string_view field) {
    const char first = field[0];
    if (kNumberChars.ok[static_cast<unsigned char>(first)]) return first != 'e' && first != 'E';
    return isKeyword(field, "INF") || isKeyword(field, "INFINITY") || isKeyword(field, "NAN") ||
           (field.size() > 4 && isKeyword(field.substr(0, 4), "NAN(") && field.back() == ')');
}

// Whether the fields of line are a data line, exactly three numbers, read
// into v. When they are not, *notData (unless already set) records it as the
// first line that was not read as data if it begins as a number does, or,
// once a data line has been read (afterData), if it is any line but a comment:
// before the data, words are the header.
bool readDataLine(std::string_view line, const Fields& f, float v[3], long long lineNumber, bool afterData,
                  NotDataLine* notData) {
    int bad = 0;
    if (f.count == 3)
        for (int c = 0; c < 3 && !bad; ++c)
            if (!readNumber(f.at[c], v[c])) bad = c + 1;
    if (f.count == 3 && !bad) return true;
    if (notData->line != 0 || f.count == 0) return false;
    const bool likeData = beginsAsNumber(f.at[0]);
    if (!likeData && (!afterData || f.at[0][0] == '#')) return false;
    notData->line = lineNumber;
    notData->fields = f.count;
    notData->badField = bad;
    std::string_view shown;
    if (!likeData) {
        notData->why = NotDataLine::Why::NoNumbers;
        shown = withoutLineEnd(line).substr(static_cast<std::size_t>(f.at[0].data() - line.data()));
    } else if (bad) {
        shown = f.at[bad - 1];
        notData->why = beyondFloat(shown) ? NotDataLine::Why::BeyondFloat : NotDataLine::Why::NotANumber;
    }
    notData->badText = std::string(shown.substr(0, NotDataLine::kMaxBadText));
    notData->badTextCut = shown.size() > NotDataLine::kMaxBadText;
    return false;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

void appendPresetLine(std::string& preset, std::string_view line) {
    if (line.empty()) return;
    if (line[0] == '#') line.remove_prefix(1);
    preset.append(line.data(), line.size());
}

// The count numbers after the keyword of a range line (two of
// LUT_3D_INPUT_RANGE, three of a DOMAIN_ line), each read whole as strtod
// reads a decimal and narrowed to float, so a bound beyond float's range is
// infinite; what follows them (a comment) is not looked at.
bool readBounds(const Fields& f, int count, float* bounds) {
    if (f.count < count + 1) return false;
    for (int c = 0; c < count; ++c) {
        const std::string_view token = f.at[c + 1];
        double v = 0.0;
        const std::from_chars_result r = readDecimal(token.data(), token.data() + token.size(), v);
        if (r.ec == std::errc::invalid_argument || r.ptr != token.data() + token.size()) return false;
        bounds[c] = static_cast<float>(v);
    }
    return true;
}

// A UTF-8 byte-order mark, which some editors write first, is no part of the
// first line.
std::string_view withoutByteOrderMark(std::string_view text) {
    return startsWith(text, "\xEF\xBB\xBF") ? text.substr(3) : text;
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

bool usableInputRange(float range0, float range1) {
    return std::isfinite(range0) && std::isfinite(range1) && range0 != range1;
}

bool floatHoldsRangeBound(double bound) { return std::isfinite(bound) && std::fabs(bound) <= FLT_MAX; }

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
    const auto refuseRange = [&](const char* keyword) {
        if (refusal) refusal->rangeKeyword = keyword;
        return refuse(LutRefusal::UnreadableRange);
    };
    text = withoutByteOrderMark(text);
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
    NotDataLine notData;

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
    for (long long lineNumber = 1; p < end; ++lineNumber) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const std::string_view line(p, (nl ? nl : end) - p);
        p = nl ? nl + 1 : end;
        if (line.empty()) continue;
        const Fields f = fieldsOf(line);
        float v[3];
        // Lines of the preset text are no candidates for data that was missed.
        NotDataLine ignored;
        if (readDataLine(line, f, v, lineNumber, used > 0, marker ? &ignored : &notData)) {
            addNode(v);
            if (marker && !headerDone) appendPresetLine(gathered, line);
            continue;
        }

        if (!headerDone) {
            const std::string_view word = f.count > 0 ? f.at[0] : std::string_view();
            if (isKeyword(word, "LUT_3D_INPUT_RANGE")) {
                // Like a domain line, a comment may follow the values; a line
                // without both is refused, never passed over for 0..1.
                float bounds[2];
                if (!readBounds(f, 2, bounds)) return refuseRange("LUT_3D_INPUT_RANGE");
                range0 = bounds[0];
                range1 = bounds[1];
                perChannel[0] = perChannel[1] = false;
            } else if (isKeyword(word, "LUT_3D_SIZE")) {
                if (f.count == 2) {
                    const std::string number(f.at[1]);
                    char* stop = nullptr;
                    errno = 0;
                    const long size = std::strtol(number.c_str(), &stop, 10);
                    if (stop == number.c_str() || errno == ERANGE || size < std::numeric_limits<int>::min() ||
                        size > std::numeric_limits<int>::max())
                        return refuse(LutRefusal::BadSize);  // no readable size: the file is refused
                    n = size;
                    sawSize = true;
                }
            } else if (isKeyword(word, "LUT_1D_SIZE")) {
                return refuse(LutRefusal::OneDimensionalPart);  // refused as a whole, the preset with it
            } else if (isKeyword(word, "LUT_1D_INPUT_RANGE")) {
                // Nodes made for the range of a 1D part are wrong over any other.
                return refuse(LutRefusal::OneDimensionalRange);
            } else if (isKeyword(word, "DOMAIN_MIN") || isKeyword(word, "DOMAIN_MAX")) {
                // A domain is the input range under another name, one bound
                // per line; the later of it and LUT_3D_INPUT_RANGE wins.
                const int bound = isKeyword(word, "DOMAIN_MIN") ? 0 : 1;
                float rgb[3];
                if (!readBounds(f, 3, rgb)) return refuseRange(bound == 0 ? "DOMAIN_MIN" : "DOMAIN_MAX");
                perChannel[bound] = !sameValue(rgb[0], rgb[1]) || !sameValue(rgb[0], rgb[2]);
                (bound == 0 ? range0 : range1) = rgb[0];
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
    }

    // Refused as a whole, like an unreadable file, the preset with it.
    if (n > kMaxFileDimSize) return refuse(LutRefusal::SizeAboveLimit, n);
    const std::size_t want = 4 * static_cast<std::size_t>(n > 0 ? n * n * n : 0);
    if (n >= 1 && (perChannel[0] || perChannel[1])) return refuse(LutRefusal::PerChannelDomain, n);
    if (n >= 1 && !usableInputRange(range0, range1)) {
        if (refusal) refusal->range0 = range0, refusal->range1 = range1;
        return refuse(LutRefusal::UnusableRange, n);
    }
    if (n >= 1 && used < want) {
        if (refusal) refusal->notData = notData;
        return refuse(LutRefusal::ShortOfDataLines, n, static_cast<long long>(used / 4));
    }
    if (!skipPreset) presetText = std::move(gathered);
    if (n < 1) return refuse(sawSize ? LutRefusal::BadSize : LutRefusal::NoSize);
    nodes.resize(want);
    return Lut(std::move(nodes), static_cast<int>(n), range0, range1, path);
}

// A .3dl holds no keywords: a mesh line of input positions (at least six
// numbers; their count is the number of nodes per axis, their values are not
// used), then N^3 data lines of three integers, blue fastest.
Lut parse3dlText(std::string_view text, const std::string& path, std::string& presetText, bool skipPreset,
                 LutFileRefusal* refusal) {
    if (refusal) *refusal = LutFileRefusal();
    const auto refuse = [refusal](LutRefusal why, long long dimSize = 0, long long dataLines = 0) {
        return refused(refusal, why, dimSize, dataLines);
    };
    text = withoutByteOrderMark(text);
    int n = 0;
    long long k = 0, total = 0;
    // A mesh line longer than any size read: its length, and the data lines
    // after it, counted only to tell the user what the file holds.
    long long meshAbove = 0, linesAfterMesh = 0;
    // Whether a value passed the 10-bit or the 12-bit top: the file's depth.
    bool dataMode = false, marker = false, over10 = false, over12 = false;
    std::string gathered;
    std::vector<float> nodes;
    NotDataLine notData;

    const char* p = text.data();
    const char* const end = p + text.size();
    for (long long lineNumber = 1; p < end; ++lineNumber) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const std::string_view line(p, (nl ? nl : end) - p);
        p = nl ? nl + 1 : end;
        const Fields f = fieldsOf(line);

        if (n == 0 && meshAbove == 0 && f.count >= 6) {
            bool numbers = true;
            float ignored;
            forEachField(line, [&](std::string_view field) { return numbers = readNumber(field, ignored); });
            if (numbers) {
                if (f.count > kMaxFileDimSize) {  // refused, once the data lines are counted
                    meshAbove = f.count;
                    continue;
                }
                n = f.count;
                total = static_cast<long long>(n) * n * n;
                nodes.assign(4 * static_cast<std::size_t>(total), 0.0f);
                for (long long t = 0; t < total; ++t) nodes[4 * t + 3] = 1.0f;
                dataMode = true;
                continue;
            }
        }
        float v[3];
        NotDataLine ignored;
        if (readDataLine(line, f, v, lineNumber, k > 0, dataMode ? &notData : &ignored)) {
            linesAfterMesh += meshAbove > 0;
            if (dataMode) {
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

    if (meshAbove > 0) return refuse(LutRefusal::MeshAboveLimit, meshAbove, linesAfterMesh);
    // Nodes no data line reached would turn the frame nearly black: a short
    // file is refused as a whole.
    if (n > 0 && k < total) {
        if (refusal) refusal->notData = notData;
        return refuse(LutRefusal::ShortOfDataLines, n, k);
    }
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

namespace {
// Names of files are matched without regard to case (ASCII).
std::string lowerAscii(std::string t) {
    for (char& c : t)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return t;
}
}  // namespace

bool ends_with(std::string s, std::string suffix) {
    s = lowerAscii(std::move(s));
    suffix = lowerAscii(std::move(suffix));
    if (suffix.size() > s.size()) return false;
    return s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

namespace {
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
}  // namespace

bool hasLutFileSuffix(const std::string& name) { return ends_with(name, ".cube") || ends_with(name, ".3dl"); }

bool holdsLutFileName(const std::string& name) {
    const std::string lower = lowerAscii(name);
    return lower.find(".cube") != std::string::npos || lower.find(".3dl") != std::string::npos;
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
