#include "host/Project.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <string_view>
#include <nlohmann/json.hpp>

#include "lut/FileRead.h"
#include "desktop/FileReplace.h"

namespace host {
namespace {

using nlohmann::json;

constexpr const char* kFormat = "quillane-host-project";
constexpr int kVersion = 1;
// A project is read however large it is: it holds what the user saved, a
// LUT block in hex for every instance.
constexpr std::size_t kMaxProjectBytes = std::numeric_limits<std::size_t>::max();

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

// A finite number (unsigned) in hexadecimal ("0x1.8p-1") or decimal form,
// the whole text, read the same in every locale. Out of range is refused.
bool finiteBits(std::string_view text, std::uint64_t* bits) {
    auto format = std::chars_format::general;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        format = std::chars_format::hex;
        text.remove_prefix(2);
    }
    // from_chars takes a sign of its own; the caller has taken ours.
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    double d = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), d, format);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(d)) return false;
    *bits = bitsOfDouble(d);
    return true;
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
    json entry = {{"id", stored.id}};
    const FxValue& v = stored.value;
    switch (v.kind()) {
    case FxValue::Kind::None:
        entry["type"] = "none";
        break;
    case FxValue::Kind::Data:
        entry["type"] = "data";
        entry["hex"] = hexFromBytes(v.dataValue().data(), v.dataValue().size());
        break;
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
        if (isValidUtf8(v.stringValue())) {
            entry["value"] = v.stringValue();
        } else {
            const std::string& s = v.stringValue();
            entry["hex"] = hexFromBytes(reinterpret_cast<const unsigned char*>(s.data()), s.size());
        }
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
    } else if (!value->is_string() || !doubleFromHexFloat(value->get_ref<const std::string&>(), &d)) {
        return "its value is not a number in range";
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
    std::string_view rest(text);
    bool negative = false;
    if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }
    std::uint64_t bits = 0;
    if (!nonFiniteBits(rest, &bits) && !finiteBits(rest, &bits)) return false;
    if (negative) bits |= kSignBit;
    *value = doubleFromBits(bits);
    return true;
}

std::string projectText(const std::vector<std::vector<StoredValue>>& project) {
    json instances = json::array();
    for (const auto& values : project) {
        json parameters = json::array();
        for (const StoredValue& v : values) parameters.push_back(valueToJson(v));
        instances.push_back({{"parameters", std::move(parameters)}});
    }
    const json document = {{"format", kFormat}, {"version", kVersion}, {"instances", std::move(instances)}};
    return document.dump(1) + '\n';
}

bool projectFromText(const std::string& text, const std::string& path,
                     std::vector<std::vector<StoredValue>>* project, std::string* error) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        if (error) *error = path + " is not a project: it is empty";
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
    // An entry left out would be saved back without it: the whole project is
    // refused instead, so that nothing it holds can be lost.
    auto refuse = [&](std::size_t i, const std::string& what) {
        if (error) *error = path + ": instance " + std::to_string(i) + ": " + what;
        return false;
    };
    std::vector<std::vector<StoredValue>> result;
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
            values.push_back(std::move(v));
        }
        result.push_back(std::move(values));
    }
    *project = std::move(result);
    return true;
}

bool writeProjectFile(const std::string& path, const std::vector<std::vector<StoredValue>>& project,
                      std::string* error) {
    // A temporary file of its own beside the target, renamed over it: a save
    // that fails or is killed never leaves half a project, and two saves of
    // the same project at once never spoil each other's.
    std::string reason;
    if (replaceFileWhole(path, projectText(project), 0666, &reason)) return true;
    if (error) *error = "cannot save the project " + path + ": " + reason;
    return false;
}

bool readProjectFile(const std::string& path, std::vector<std::vector<StoredValue>>* project, std::string* error) {
    std::string text;
    if (const FileRead read = readRegularFile(path, kMaxProjectBytes, &text); read.problem != FileReadProblem::None) {
        if (error) *error = "cannot read the project " + path + ": " + fileReadProblemText(read);
        return false;
    }
    return projectFromText(text, path, project, error);
}

}  // namespace host
