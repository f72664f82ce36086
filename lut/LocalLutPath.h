#pragma once
// Which LUT names name a file on this machine. A name is a file path or an
// online library name ("Folder/Look"); the effect's next/previous step and the
// LUT Manager both decide by this one rule where the current LUT lives.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "lut/Lut.h"
#include "lut/LutFile.h"

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
    if (ends_with(leaf, ".3dl") || ends_with(leaf, ".cube")) return true;
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

// What the user is told about a file that gave no LUT, with the reason when
// one is known.
inline std::string unreadableLutText(const std::string& path) {
    std::string text = "Cannot read a LUT from the file " + path;
    if (lutFileRefusal(path) == LutFileRefusal::OneDimensionalPart)
        text += "\nIt holds a 1D part (LUT_1D_SIZE), which the effect cannot apply.";
    return text;
}
