#pragma once
// LUT files (.cube, .3dl), the preset that rides along in their "#64BLOB"
// comment lines, and the small string helpers the readers and the settings
// store share.
#include <string>
#include <string_view>
#include <vector>

#include "lut/Lut.h"

// The .cube format allows at most 256 nodes per axis. A larger size in a text
// file is refused: a 20-byte file must not make us allocate gigabytes.
constexpr int kMaxFileDimSize = 256;

// In-memory readers. The file readers (Lut::loadFromFileCUBE / 3DLC) read the
// whole file and hand it here; the fuzzers call these directly. `path` is
// stored as the result's file path as given (the caller has cleaned it).
Lut parseCubeText(std::string_view text, const std::string& path, std::string& presetText, bool skipPreset);
Lut parse3dlText(std::string_view text, const std::string& path, std::string& presetText, bool skipPreset);

// A .cube line that declares a 1D part ("LUT_1D_SIZE ..."). The effect applies
// 3D LUTs only, and the 1D entries would be taken for the first 3D nodes,
// shifting every node: a file that holds one is refused as a whole.
bool isCubeOneDimensionalSize(std::string_view line);

// Why a LUT file gave the empty Lut, for the reasons a user can act on; Unknown
// for all others (unreadable, damaged, no LUT at all). The readers keep their
// one result, the Lut: this is asked after a refusal, to word the message, and
// reads the file again, a cost only refusals pay.
enum class LutFileRefusal { Unknown, OneDimensionalPart };
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
// Pieces between delimiters, as successive std::getline reads give them: empty
// pieces between adjacent delimiters and before a leading one are kept, a
// trailing delimiter adds no empty piece, an empty string gives none.
std::vector<std::string> split(const std::string& s, char delimiter);
// Removes every occurrence of every character of chars (null: nothing).
void removeCharsFromString(std::string& s, const char* chars);
