#pragma once
// Which LUT names name a file on this machine. A name is a file path or an
// online library name ("Folder/Look"); the effect's next/previous step and the
// LUT Manager both decide by this one rule where the current LUT lives.
#include <sys/stat.h>

#include <string>

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
