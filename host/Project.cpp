#include "host/Project.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <nlohmann/json.hpp>

#include "desktop/FileReplace.h"
#include "lut/FileRead.h"
#include "lut/LutFile.h"

namespace host {
namespace {

// Members keep the order they were read in, so that those the host does not
// read are written back where they stood.
using json = nlohmann::ordered_json;

constexpr const char* kFormat = "quillane-host-project";
constexpr int kVersion = 1;
// The largest project the host writes: an instance holding the largest LUT a
// file gives, its nodes in hexadecimal, and as much again for its preset and
// every other value. A larger file is no project of ours: it is refused before
// it is read, and a project that would be larger is not written.
constexpr std::size_t kLargestLutBytes = std::size_t(kMaxFileDimSize) * kMaxFileDimSize * kMaxFileDimSize * 16;
constexpr std::size_t kMaxProjectBytes = 2 * (2 * kLargestLutBytes);
// The host nests a project four levels deep. Copying or writing out a value
// nested much deeper would recurse as deep as the file goes, past the stack,
// so a deeper file is refused before it is parsed.
constexpr int kMaxProjectDepth = 64;

// The members the host reads, in each kind of object; all others are kept.
using MemberNames = std::initializer_list<const char*>;
constexpr MemberNames kProjectMembers = {"format", "instances", "version"};
constexpr MemberNames kInstanceMembers = {"parameters"};
constexpr MemberNames kEntryMembers = {"hex", "id", "type", "value"};

bool isOneOf(const std::string& name, MemberNames names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

// The object as read, to write back later, when it has members the host does
// not read: ours stand in it as nulls that mark their places.
std::string keptMembers(const json& object, MemberNames ours) {
    if (!object.is_object()) return {};
    json kept = json::object();
    bool foreign = false;
    for (const auto& [name, value] : object.items()) {
        const bool own = isOneOf(name, ours);
        kept[name] = own ? json() : value;
        foreign = foreign || !own;
    }
    return foreign ? kept.dump() : std::string();
}

// written with the kept members around it: the kept order, ours in their
// places (ours that were not there before go last).
json withKeptMembers(json written, const std::string& kept, MemberNames ours) {
    if (kept.empty()) return written;
    const json before = json::parse(kept, nullptr, false);
    if (!before.is_object()) return written;
    json merged = json::object();
    for (const auto& [name, value] : before.items()) {
        if (!isOneOf(name, ours))
            merged[name] = value;
        else if (const auto mine = written.find(name); mine != written.end())
            merged[name] = std::move(*mine);
    }
    for (auto& [name, value] : written.items())
        if (!merged.contains(name)) merged[name] = std::move(value);
    return merged;
}

// The fields of an IEEE 754 double.
constexpr std::uint64_t kSignBit = std::uint64_t(1) << 63;
constexpr std::uint64_t kExponentBits = std::uint64_t(0x7ff) << 52;
constexpr std::uint64_t kQuietBit = std::uint64_t(1) << 51;
constexpr std::uint64_t kPayloadBits = kQuietBit - 1;

std::uint64_t bitsOfDouble(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double doubleFromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool equalsIgnoringCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i]) return false;
    return true;
}

// The whole of text as an unsigned number, "0x" and hexadecimal digits or decimal digits.
bool wholeUnsigned(std::string_view text, std::uint64_t* value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || !std::isxdigit(static_cast<unsigned char>(text[0]))) return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), *value, base);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// Infinity and the NaNs (unsigned), exactly: "inf", "nan", "nan(P)" for a quiet
// NaN with payload P and "snan(P)" for a signalling one. A payload that does
// not fit the value is refused rather than cut.
bool nonFiniteBits(std::string_view text, std::uint64_t* bits) {
    if (equalsIgnoringCase(text, "inf") || equalsIgnoringCase(text, "infinity")) {
        *bits = kExponentBits;
        return true;
    }
    if (equalsIgnoringCase(text, "nan")) {
        *bits = kExponentBits | kQuietBit;
        return true;
    }
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos || text.back() != ')') return false;
    const std::string_view word = text.substr(0, open);
    const bool quiet = equalsIgnoringCase(word, "nan");
    if (!quiet && !equalsIgnoringCase(word, "snan")) return false;
    std::uint64_t payload = 0;
    if (!wholeUnsigned(text.substr(open + 1, text.size() - open - 2), &payload)) return false;
    if (payload > kPayloadBits || (!quiet && payload == 0)) return false;
    *bits = kExponentBits | (quiet ? kQuietBit : 0) | payload;
    return true;
}

enum class NumberText { Read, NotANumber, OutOfRange };

// A finite number (unsigned) in hexadecimal ("0x1.8p-1") or decimal form,
// the whole text, read the same in every locale. Out of range is refused.
NumberText finiteBits(std::string_view text, std::uint64_t* bits) {
    auto format = std::chars_format::general;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        format = std::chars_format::hex;
        text.remove_prefix(2);
    }
    // from_chars takes a sign of its own; the caller has taken ours.
    if (text.empty() || text[0] == '-' || text[0] == '+') return NumberText::NotANumber;
    double d = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), d, format);
    if (result.ptr != text.data() + text.size()) return NumberText::NotANumber;
    if (result.ec == std::errc::result_out_of_range) return NumberText::OutOfRange;
    if (result.ec != std::errc() || !std::isfinite(d)) return NumberText::NotANumber;
    *bits = bitsOfDouble(d);
    return NumberText::Read;
}

// What doubleFromHexFloat reads, and why it did not.
NumberText doubleFromText(std::string_view text, double* value) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::uint64_t bits = 0;
    if (!nonFiniteBits(text, &bits)) {
        if (const NumberText read = finiteBits(text, &bits); read != NumberText::Read) return read;
    }
    if (negative) bits |= kSignBit;
    *value = doubleFromBits(bits);
    return NumberText::Read;
}

// Whether no array or object in the JSON text lies deeper than maxDepth;
// brackets inside strings do not count.
bool nestedAtMost(std::string_view text, int maxDepth) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

// A value from the file to quote in a line: short, whatever the file holds.
std::string quotedBriefly(const json& value) {
    constexpr std::size_t kLongest = 24;
    if (value.is_object()) return "an object";
    if (value.is_array()) return "a list";
    if (!value.is_string() || value.get_ref<const std::string&>().size() <= kLongest)
        return value.dump(-1, ' ', false, json::error_handler_t::replace);
    // Cut where a character starts.
    const std::string& whole = value.get_ref<const std::string&>();
    std::size_t cut = kLongest;
    while (cut > 0 && (static_cast<unsigned char>(whole[cut]) & 0xc0) == 0x80) --cut;
    return json(whole.substr(0, cut)).dump(-1, ' ', false, json::error_handler_t::replace) + "...";
}

bool isValidUtf8(const std::string& text) {
    try {
        (void)json(text).dump();
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

json valueToJson(const StoredValue& stored) {
    // Members in the order of their names, as the host has always written them.
    const FxValue& v = stored.value;
    json entry = json::object();
    const auto hex = [&entry](const void* bytes, std::size_t length) {
        entry["hex"] = hexFromBytes(static_cast<const unsigned char*>(bytes), length);
    };
    if (v.kind() == FxValue::Kind::Data) hex(v.dataValue().data(), v.dataValue().size());
    const bool textAsHex = v.kind() == FxValue::Kind::String && !isValidUtf8(v.stringValue());
    if (textAsHex) hex(v.stringValue().data(), v.stringValue().size());
    entry["id"] = stored.id;
    switch (v.kind()) {
    case FxValue::Kind::None: entry["type"] = "none"; break;
    case FxValue::Kind::Data: entry["type"] = "data"; break;
    case FxValue::Kind::Integer:
        entry["type"] = "integer";
        entry["value"] = v.integerValue();
        break;
    case FxValue::Kind::Double:
        entry["type"] = "double";
        entry["value"] = hexFloatFromDouble(v.doubleValue());
        break;
    case FxValue::Kind::String:
        entry["type"] = "string";
        if (!textAsHex) entry["value"] = v.stringValue();
        break;
    }
    return entry;
}

// The whole of text as a decimal integer with an optional sign: how a person
// types a size or a length.
bool integerFromText(std::string_view text, std::int64_t* value) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty() || text[0] == '+') return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), *value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// Why hex, refused by bytesFromHex, is not the text of a byte block.
std::string hexProblem(const std::string& hex) {
    if (hex.size() % 2 != 0) return "an odd number of hexadecimal digits";
    const std::size_t bad = hex.find_first_not_of("0123456789abcdefABCDEF");
    if (bad != std::string::npos) return "a character that is not a hexadecimal digit at " + std::to_string(bad);
    return {};
}

// The entry's value, or why it cannot be read. Numbers are taken as what they
// are however they are written (a JSON number, decimal or hexadecimal text);
// only what would change on the way in is refused.
std::string valueFromJson(const json& entry, StoredValue* stored) {
    if (!entry.is_object()) return "it is not an object";
    const auto id = entry.find("id");
    const auto type = entry.find("type");
    if (id == entry.end() || !id->is_number_unsigned()) return "it has no parameter id";
    if (id->get<std::uint64_t>() > 0xFFFFFFFFu) return "its parameter id is out of range";
    stored->id = static_cast<FxParameterId>(id->get<std::uint64_t>());
    if (type == entry.end() || !type->is_string()) return "it has no type";
    const std::string kind = type->get<std::string>();
    const auto value = entry.find("value");
    const auto hex = entry.find("hex");
    if (kind == "none") {
        stored->value = FxValue();
        return {};
    }
    if (kind == "data" || (kind == "string" && (value == entry.end() || !value->is_string()))) {
        if (hex == entry.end())
            return kind == "data" ? "it has no hex" : value == entry.end() ? "it has no value" : "its value is not text";
        if (!hex->is_string()) return "its hex is not text";
        const std::string& digits = hex->get_ref<const std::string&>();
        std::vector<unsigned char> bytes;
        if (!bytesFromHex(digits, &bytes)) return "its hex has " + hexProblem(digits);
        stored->value = kind == "data" ? FxValue::data(std::move(bytes))
                                       : FxValue::string(std::string(bytes.begin(), bytes.end()));
        return {};
    }
    if (kind == "string") {
        stored->value = FxValue::string(value->get<std::string>());
        return {};
    }
    if (kind != "integer" && kind != "double") return "its type \"" + kind + "\" is unknown";
    if (value == entry.end()) return "it has no value";
    if (kind == "integer") {
        std::int64_t integer = 0;
        if (value->is_number_unsigned()) {
            if (value->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) return "its value is out of range";
            integer = value->get<std::int64_t>();
        } else if (value->is_number_integer()) {
            integer = value->get<std::int64_t>();
        } else if (value->is_number_float()) {
            // 2^63 is the first double past the range; every double below it converts.
            const double d = value->get<double>();
            if (!(std::fabs(d) < 0x1p63)) return "its value is out of range";
            if (d != std::trunc(d)) return "its value is not a whole number";
            integer = static_cast<std::int64_t>(d);
        } else if (!value->is_string() || !integerFromText(value->get_ref<const std::string&>(), &integer)) {
            return "its value is not a whole number in range";
        }
        stored->value = FxValue::integer(integer);
        return {};
    }
    double d = 0.0;
    if (value->is_number()) {
        d = value->get<double>();
    } else if (!value->is_string()) {
        return "its value is not a number";
    } else if (const NumberText read = doubleFromText(value->get_ref<const std::string&>(), &d);
               read != NumberText::Read) {
        return read == NumberText::OutOfRange ? "its value is out of range" : "its value is not a number";
    }
    stored->value = FxValue::number(d);
    return {};
}

}  // namespace

std::string hexFromBytes(const unsigned char* bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

bool bytesFromHex(const std::string& text, std::vector<unsigned char>* bytes) {
    if (text.size() % 2 != 0) return false;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::vector<unsigned char> out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int hi = digit(text[2 * i]), lo = digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    *bytes = std::move(out);
    return true;
}

std::string hexFloatFromDouble(double value) {
    const std::uint64_t bits = bitsOfDouble(value);
    const std::string sign = (bits & kSignBit) ? "-" : "";
    if (std::isnan(value)) {
        // The payload is part of the value: a NaN that carries one, or a
        // signalling one, is written with it so that it reads back the same.
        const std::uint64_t payload = bits & kPayloadBits;
        const bool quiet = (bits & kQuietBit) != 0;
        if (quiet && payload == 0) return sign + "nan";
        char digits[20];
        const auto end = std::to_chars(digits, digits + sizeof digits, payload, 16).ptr;
        return sign + (quiet ? "nan(0x" : "snan(0x") + std::string(digits, end) + ")";
    }
    if (std::isinf(value)) return sign + "inf";
    // Not printf("%a"): that follows the process's locale (a comma for the
    // point once a toolkit has set one), and the file must read anywhere.
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::hex).ptr;
    return sign + "0x" + std::string(text, end);
}

bool doubleFromHexFloat(const std::string& text, double* value) {
    return doubleFromText(text, value) == NumberText::Read;
}

std::string projectText(const std::vector<std::vector<StoredValue>>& project, const ProjectMembers& members) {
    json instances = json::array();
    for (std::size_t i = 0; i < project.size(); ++i) {
        json parameters = json::array();
        for (const StoredValue& v : project[i])
            parameters.push_back(withKeptMembers(valueToJson(v), v.members, kEntryMembers));
        json instance = {{"parameters", std::move(parameters)}};
        const std::string none;
        const std::string& kept = i < members.instances.size() ? members.instances[i] : none;
        instances.push_back(withKeptMembers(std::move(instance), kept, kInstanceMembers));
    }
    json document = {{"format", kFormat}, {"instances", std::move(instances)}, {"version", kVersion}};
    return withKeptMembers(std::move(document), members.project, kProjectMembers).dump(1) + '\n';
}

bool projectFromText(const std::string& text, const std::string& path,
                     std::vector<std::vector<StoredValue>>* project, std::string* error, ProjectMembers* members) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        if (error) *error = path + " is not a project: it is empty";
        return false;
    }
    if (!nestedAtMost(text, kMaxProjectDepth)) {
        if (error) *error = path + " is not a project: it is nested deeper than " + std::to_string(kMaxProjectDepth) +
                            " levels";
        return false;
    }
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        if (error) *error = path + " is not a project (not JSON)";
        return false;
    }
    const auto format = document.find("format");
    const auto instances = document.find("instances");
    if (format == document.end() || *format != kFormat || instances == document.end() || !instances->is_array()) {
        if (error) *error = path + " is not a project";
        return false;
    }
    // Saved back, a newer project would lose what its version added.
    const auto version = document.find("version");
    if (version != document.end() && !(version->is_number() && version->get<double>() <= kVersion)) {
        if (error)
            *error = path + " is a project of version " + quotedBriefly(*version) + ", which this host cannot read (it reads " +
                     std::to_string(kVersion) + ")";
        return false;
    }
    // An entry left out would be saved back without it: the whole project is
    // refused instead, so that nothing it holds can be lost.
    auto refuse = [&](std::size_t i, const std::string& what) {
        if (error) *error = path + ": instance " + std::to_string(i) + ": " + what;
        return false;
    };
    std::vector<std::vector<StoredValue>> result;
    ProjectMembers kept{keptMembers(document, kProjectMembers), {}};
    for (std::size_t i = 0; i < instances->size(); ++i) {
        const json& instance = (*instances)[i];
        const auto parameters = instance.is_object() ? instance.find("parameters") : instance.end();
        if (!instance.is_object() || parameters == instance.end() || !parameters->is_array())
            return refuse(i, "it has no list of parameters");
        std::vector<StoredValue> values;
        for (std::size_t j = 0; j < parameters->size(); ++j) {
            StoredValue v;
            const json& entry = (*parameters)[j];
            if (std::string why = valueFromJson(entry, &v); !why.empty()) {
                const bool named = entry.is_object() && entry.contains("id") && entry["id"].is_number_unsigned();
                return refuse(i, "parameter entry " + std::to_string(j) +
                                     (named ? " (id " + entry["id"].dump() + ")" : std::string()) +
                                     " cannot be read: " + why);
            }
            v.members = keptMembers(entry, kEntryMembers);
            values.push_back(std::move(v));
        }
        result.push_back(std::move(values));
        kept.instances.push_back(keptMembers(instance, kInstanceMembers));
    }
    *project = std::move(result);
    if (members) *members = std::move(kept);
    return true;
}

bool writeProjectFile(const std::string& path, const std::vector<std::vector<StoredValue>>& project,
                      std::string* error, const ProjectMembers& members) {
    // A temporary file of its own beside the target, renamed over it: a save
    // that fails or is killed never leaves half a project, and two saves of
    // the same project at once never spoil each other's.
    const std::string text = projectText(project, members);
    std::string reason = "it would be larger than any project the host opens";
    if (text.size() <= kMaxProjectBytes && replaceFileWhole(path, text, 0666, &reason)) return true;
    if (error) *error = "cannot save the project " + path + ": " + reason;
    return false;
}

bool readProjectFile(const std::string& path, std::vector<std::vector<StoredValue>>* project, std::string* error,
                     ProjectMembers* members) {
    std::string text;
    if (const FileRead read = readRegularFile(path, kMaxProjectBytes, &text); read.problem != FileReadProblem::None) {
        const std::string why = read.problem == FileReadProblem::TooLarge
                                    ? "it is larger than any project the host writes (" +
                                          std::to_string(kMaxProjectBytes) + " bytes)"
                                    : fileReadProblemText(read);
        if (error) *error = "cannot read the project " + path + ": " + why;
        return false;
    }
    return projectFromText(text, path, project, error, members);
}

}  // namespace host
