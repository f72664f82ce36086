#pragma once
// Which LUT names name a file on this machine. A name is a file path or an
// online library name ("Folder/Look"); the effect's next/previous step and the
// LUT Manager both decide by this one rule where the current LUT lives.
#include <sys/stat.h>

#include <cctype>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "lut/FileRead.h"
#include "lut/Lut.h"
#include "lut/LutFile.h"
#include "lut/TextForPeople.h"

// Only regular files count: a folder or a pipe named like a LUT is no LUT
// (and reading a pipe would block the host).
inline bool isRegularFile(const std::string& path) {
    struct stat info;
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Local when the part after the last separator ("/" when the name holds one,
// else "\") ends in ".cube" or ".3dl" (any case), or when the name is an
// absolute path to an existing regular file: next/previous can land on a
// file such as look.cube.bak, whose folder must not go to the online library.
inline bool isLocalLutName(const std::string& name) {
    const char separator = name.find('/') != std::string::npos ? '/' : '\\';
    const std::size_t last = name.rfind(separator);
    const std::string leaf = last == std::string::npos ? name : name.substr(last + 1);
    if (hasLutFileSuffix(leaf)) return true;
    return separator == '/' && !name.empty() && name[0] == '/' && isRegularFile(name);
}

// Reads a LUT file with its preset; only regular files are opened. The empty
// Lut when there is no LUT to read.
inline Lut readLutFile(const std::string& path, std::vector<char>* preset) {
    Lut lut;
    if (!isRegularFile(path)) return lut;
    std::string name = path;
    lutFromFile(&name, &lut, preset);
    if (!lut.isLoaded() || lut.getDimSize() < 1) return Lut();
    return lut;
}

// A count as people write it: 35937 as "35,937".
inline std::string countText(long long count) {
    std::string digits = std::to_string(count < 0 ? -count : count), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return (count < 0 ? "-" : "") + out;
}

// An input range bound as the user can compare it with the file: with a
// decimal point whatever the locale.
inline std::string rangeBoundText(float bound) {
    char text[32];
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text, static_cast<double>(bound), std::chars_format::general, 9);
    return std::string(text, r.ptr);
}

// How far a float, the type a LUT's nodes and range are held in, reaches.
inline const char* const kFloatReach = "(a float reaches about 3.4e38)";

// Why the file at path gives no LUT, as the reader found it, worded to follow
// the file's name ("PATH: no such file"); empty when no reason is known.
inline std::string lutRefusalReason(const std::string& path) {
    const LutFileRefusal refusal = lutFileRefusal(path);
    switch (refusal.why) {
        case LutRefusal::Unread:
            if (refusal.file.problem == FileReadProblem::TooLarge) return "it is larger than any LUT file";
            return fileReadProblemText(refusal.file);  // worded as for every file the system reads
        case LutRefusal::NoSize:
            return "its layout is unknown: it declares no size (a line \"LUT_3D_SIZE N\")";
        case LutRefusal::BadSize:
            return "its LUT_3D_SIZE gives no size of 1 or more";
        case LutRefusal::SizeAboveLimit:
            return "its size of " + std::to_string(refusal.dimSize) + " nodes per axis is above the " +
                   std::to_string(kMaxFileDimSize) + " the effect reads";
        case LutRefusal::OneDimensionalPart:
            return "it holds a 1D part (LUT_1D_SIZE), which the effect cannot apply";
        case LutRefusal::OneDimensionalRange:
            return "it has a LUT_1D_INPUT_RANGE, the range of a 1D part, which the effect cannot apply";
        case LutRefusal::ShortOfDataLines: {
            std::string text = "it holds " + countText(refusal.dataLines) + " of the " +
                               countText(refusal.dimSize * refusal.dimSize * refusal.dimSize) +
                               " data lines its size of " + std::to_string(refusal.dimSize) + " nodes per axis needs";
            const NotDataLine& line = refusal.notData;
            if (line.line > 0) {
                text += "; line " + countText(line.line) + " is not read as data: ";
                static const char* const kOrdinals[] = {"first", "second", "third"};
                const std::string shown = quotedForPeople(line.badText) + (line.badTextCut ? "..." : "");
                if (line.why == NotDataLine::Why::NoNumbers)
                    text += "it holds " + shown + ", not three numbers";
                else if (line.badField >= 1 && line.badField <= 3)
                    text += std::string("its ") + kOrdinals[line.badField - 1] + " value, " + shown +
                            (line.why == NotDataLine::Why::BeyondFloat
                                 ? std::string(", is beyond a float's range ") + kFloatReach
                                 : std::string(", is not a number"));
                else
                    text += "it holds " + std::to_string(line.fields) + (line.fields == 1 ? " value" : " values") +
                            ", not three";
            }
            return text;
        }
        case LutRefusal::UnusableRange: {
            const std::string range = rangeBoundText(refusal.range0) + " to " + rangeBoundText(refusal.range1);
            if (refusal.range0 == refusal.range1)
                return "its input range, " + range + ", has two equal ends and spans no colours";
            return "its input range, " + range + ", has an end that is not a finite number " + kFloatReach;
        }
        case LutRefusal::MeshAboveLimit:
            return "it holds a mesh line of " + countText(refusal.dimSize) + " positions and " +
                   countText(refusal.dataLines) + " data lines; a mesh line gives the nodes per axis, and the effect "
                   "reads at most " + std::to_string(kMaxFileDimSize);
        case LutRefusal::PerChannelDomain:
            return "its DOMAIN_MIN or DOMAIN_MAX differs between the red, green and blue channels, and the effect "
                   "applies one input range to all three";
        case LutRefusal::UnreadableRange: {
            const std::string keyword = refusal.rangeKeyword;
            return "it has a " + keyword + " line without " + (keyword == "LUT_3D_INPUT_RANGE" ? "two" : "three") +
                   " numbers";
        }
        case LutRefusal::NoMeshLine:
            return "its layout is unknown: it has no mesh line (the node positions a .3dl file begins with)";
        case LutRefusal::None:  // it gives a LUT now: nothing to tell
            break;
    }
    return "";
}

// What the user is told about a file that gave no LUT, with the reason when
// one is known.
inline std::string unreadableLutText(const std::string& path) {
    std::string text = "Cannot read a LUT from the file " + path;
    std::string reason = lutRefusalReason(path);
    if (!reason.empty()) {
        reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
        text += "\n" + reason + ".";
    }
    return text;
}
