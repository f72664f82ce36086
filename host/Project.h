#pragma once
// The project file: the parameter values of every effect instance, as JSON.
//
//   {"format": "quillane-host-project", "version": 1,
//    "instances": [{"parameters": [{"id": 8, "type": "integer", "value": 33}, ...]}]}
//
// Values keep their exact bytes: data blocks as hexadecimal text, doubles as
// hexadecimal floating-point text ("0x1.8p-1", also "inf", "nan", and for a NaN
// that carries a payload "nan(0x5)", or "snan(0x5)" when it is a signalling one),
// integers as JSON integers, strings as JSON strings, or as hexadecimal text
// ("hex" in place of "value") when they are not valid UTF-8. Numbers typed by
// hand read as the numbers they are: a double as a JSON number or decimal
// text ("0.75"), an integer as a whole JSON number or decimal text ("33").
//
// Members the host does not read (a "note" of the project, an instance's
// "label", an entry's "comment") are kept where they stood: a project opened
// and saved again loses nothing. A project of a newer version than the host
// writes is refused, so that it is never saved back as an older one.
#include <string>
#include <vector>

#include "host/Host.h"

namespace host {

// What a project and its instances held besides what the host reads, as JSON
// text to write back (each entry's is in its StoredValue); empty for none.
struct ProjectMembers {
    std::string project;
    std::vector<std::string> instances;  // by instance, as far as known
};

// Also refused: a project larger than any the host opens.
bool writeProjectFile(const std::string& path, const std::vector<std::vector<StoredValue>>& project,
                      std::string* error, const ProjectMembers& members = {});
// False with a reason for a file that cannot be read, is larger than any
// project the host writes (refused before it is read), is not a project or of
// a newer version, or holds an entry that cannot be read (named by its
// instance and position): a project is taken whole or not at all.
bool readProjectFile(const std::string& path, std::vector<std::vector<StoredValue>>* project, std::string* error,
                     ProjectMembers* members = nullptr);

// The same, on the file's text; path only names the file in messages.
std::string projectText(const std::vector<std::vector<StoredValue>>& project, const ProjectMembers& members = {});
bool projectFromText(const std::string& text, const std::string& path,
                     std::vector<std::vector<StoredValue>>* project, std::string* error,
                     ProjectMembers* members = nullptr);

// The value codecs, exposed for tests; neither depends on the locale.
std::string hexFromBytes(const unsigned char* bytes, std::size_t length);
bool bytesFromHex(const std::string& text, std::vector<unsigned char>* bytes);
std::string hexFloatFromDouble(double value);
// Reads what hexFloatFromDouble writes, bit for bit, and decimal numbers
// ("0.75"); an optional sign, nothing before or after. Refuses a number out of
// the double's range and a NaN payload that does not fit, rather than change them.
bool doubleFromHexFloat(const std::string& text, double* value);

}  // namespace host
