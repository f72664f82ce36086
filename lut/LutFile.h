#pragma once
// LUT files (.cube, .3dl), the preset that rides along in their "#64BLOB"
// comment lines, and the small string helpers the readers and the settings
// store share.
#include <string>
#include <string_view>
#include <vector>

#include "lut/FileRead.h"
#include "lut/Lut.h"

// The .cube format allows at most 256 nodes per axis. A larger size in a text
// file is refused: a 20-byte file must not make us allocate gigabytes.
constexpr int kMaxFileDimSize = 256;

// Why a LUT file gave the empty Lut, in terms a user can act on. The readers
// keep their one result, the Lut; lutFileRefusal() asks again after a refusal
// to word the message, reading the file a second time, a cost only refusals pay.
enum class LutRefusal {
    None,                // the file gives a LUT
    Unread,              // the file could not be read; file says why
    NoSize,              // .cube without LUT_3D_SIZE
    BadSize,             // LUT_3D_SIZE without a number, or below 1
    SizeAboveLimit,      // more than kMaxFileDimSize nodes per axis; dimSize holds it
    OneDimensionalPart,  // LUT_1D_SIZE
    OneDimensionalRange, // LUT_1D_INPUT_RANGE: the range of a 1D part the effect cannot apply
    ShortOfDataLines,    // dataLines of the dimSize^3 the size needs; notData tells the first line that was not
    PerChannelDomain,    // DOMAIN_MIN or DOMAIN_MAX differs between channels
    UnreadableRange,     // a LUT_3D_INPUT_RANGE line without two numbers or a DOMAIN_ line without three; rangeKeyword
                         // names it
    UnusableRange,       // the input range (range0, range1) has an end that is not finite, or equal ends
    NoMeshLine,          // .3dl without a line of node positions
    MeshAboveLimit,      // .3dl mesh line of dimSize positions (above the limit) over dataLines data lines
};
// A line that was not read as data where data was due: its number (from 1)
// and why. A line that begins as a number does is told by its values (how
// many it held, or which of three, 1-3, is no number and how it begins);
// any other by how the line begins.
struct NotDataLine {
    enum class Why { ValueCount, NotANumber, BeyondFloat, NoNumbers };
    static constexpr std::size_t kMaxBadText = 40;
    long long line = 0;  // 0: every such line was read as data
    Why why = Why::ValueCount;
    int fields = 0;
    int badField = 0;
    std::string badText;  // at most kMaxBadText bytes of that field, or of the line
    bool badTextCut = false;
};
struct LutFileRefusal {
    LutRefusal why = LutRefusal::None;
    long long dimSize = 0;
    long long dataLines = 0;
    NotDataLine notData;
    float range0 = 0.0f, range1 = 1.0f;
    const char* rangeKeyword = "";  // the keyword of an unreadable range line
    FileRead file;  // what the read found, for the reasons of the file itself
};

// In-memory readers. The file readers (Lut::loadFromFileCUBE / 3DLC) read the
// whole file and hand it here; the fuzzers call these directly. `path` is
// stored as the result's file path as given (the caller has cleaned it). When
// refusal is given it is set to why the text gave no LUT (None when it did).
Lut parseCubeText(std::string_view text, const std::string& path, std::string& presetText, bool skipPreset,
                  LutFileRefusal* refusal = nullptr);
Lut parse3dlText(std::string_view text, const std::string& path, std::string& presetText, bool skipPreset,
                 LutFileRefusal* refusal = nullptr);

// Whether a LUT's input range can be applied: both ends finite floats, and
// different (a reversed range is applied as it stands).
bool usableInputRange(float range0, float range1);

// Whether a float holds the stored bound of an input range: it is finite and
// within the float's range (one beyond it would become an infinity).
bool floatHoldsRangeBound(double bound);

// Why the file at path gives no LUT when read as lutFromFile reads it (the
// type by its name, double quotes removed); why = None when it gives one.
LutFileRefusal lutFileRefusal(std::string path);

// Loads *path (a .3dl when the name ends in ".3dl", any case; .cube otherwise)
// into *lut, replacing it (by the empty Lut when unreadable), and the decoded
// preset into *preset. Null pointers: nothing happens.
void lutFromFile(std::string* path, Lut* lut, std::vector<char>* preset);

// Base64 (RFC 4648, also accepting the URL-safe '-' and '_'). Characters
// outside the alphabet count as 63; '=' in the third/fourth place of a group
// shortens that group. An incomplete final group of 2 or 3 characters yields
// the 1 or 2 bytes it fully determines; a lone final character yields nothing.
std::vector<char> decodeBase64(std::string_view text);

// Case-insensitive (ASCII) suffix test; an empty suffix is always a suffix.
bool ends_with(std::string s, std::string suffix);
// The two rules of LUT file names: a name that ends in ".cube" or ".3dl"
// (any case) names a LUT file wherever it is met; a folder listing offers
// every name that holds ".cube" or ".3dl" anywhere, in any case.
bool hasLutFileSuffix(const std::string& name);
bool holdsLutFileName(const std::string& name);
// Pieces between delimiters, as successive std::getline reads give them: empty
// pieces between adjacent delimiters and before a leading one are kept, a
// trailing delimiter adds no empty piece, an empty string gives none.
std::vector<std::string> split(const std::string& s, char delimiter);
// Removes every occurrence of every character of chars (null: nothing).
void removeCharsFromString(std::string& s, const char* chars);
