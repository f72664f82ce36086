#include "host/Project.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

namespace host {
namespace {

using nlohmann::json;

constexpr const char* kFormat = "quillane-host-project";
constexpr int kVersion = 1;

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

// The entry's value, or false when it is malformed.
bool valueFromJson(const json& entry, StoredValue* stored) {
    if (!entry.is_object()) return false;
    const auto id = entry.find("id");
    const auto type = entry.find("type");
    if (id == entry.end() || !id->is_number_unsigned() || type == entry.end() || !type->is_string()) return false;
    if (id->get<std::uint64_t>() > 0xFFFFFFFFu) return false;
    stored->id = static_cast<FxParameterId>(id->get<std::uint64_t>());
    const std::string kind = type->get<std::string>();
    const auto value = entry.find("value");
    const auto hex = entry.find("hex");
    if (kind == "none") {
        stored->value = FxValue();
        return true;
    }
    if (kind == "data") {
        std::vector<unsigned char> bytes;
        if (hex == entry.end() || !hex->is_string() || !bytesFromHex(hex->get<std::string>(), &bytes)) return false;
        stored->value = FxValue::data(std::move(bytes));
        return true;
    }
    if (kind == "integer") {
        if (value == entry.end() || !value->is_number_integer()) return false;
        if (value->is_number_unsigned() && value->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
            return false;
        stored->value = FxValue::integer(value->get<std::int64_t>());
        return true;
    }
    if (kind == "double") {
        double d = 0.0;
        if (value == entry.end() || !value->is_string() || !doubleFromHexFloat(value->get<std::string>(), &d))
            return false;
        stored->value = FxValue::number(d);
        return true;
    }
    if (kind == "string") {
        if (value != entry.end() && value->is_string()) {
            stored->value = FxValue::string(value->get<std::string>());
            return true;
        }
        std::vector<unsigned char> bytes;
        if (hex == entry.end() || !hex->is_string() || !bytesFromHex(hex->get<std::string>(), &bytes)) return false;
        stored->value = FxValue::string(std::string(bytes.begin(), bytes.end()));
        return true;
    }
    return false;
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
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    char text[64];
    std::snprintf(text, sizeof text, "%a", value);
    return text;
}

bool doubleFromHexFloat(const std::string& text, double* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double d = std::strtod(text.c_str(), &end);
    // Subnormals may set ERANGE while still being exact: only the text's end matters.
    if (end != text.c_str() + text.size()) return false;
    *value = d;
    return true;
}

bool writeProjectFile(const std::string& path, const std::vector<std::vector<StoredValue>>& project,
                      std::string* error) {
    json instances = json::array();
    for (const auto& values : project) {
        json parameters = json::array();
        for (const StoredValue& v : values) parameters.push_back(valueToJson(v));
        instances.push_back({{"parameters", std::move(parameters)}});
    }
    const json document = {{"format", kFormat}, {"version", kVersion}, {"instances", std::move(instances)}};
    // Written beside the target and renamed over it, so that a failed save
    // never leaves half a project.
    const std::string temporary = path + ".saving";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << document.dump(1) << '\n';
        out.flush();
        if (!out) {
            if (error) *error = "cannot write the project " + path;
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot write the project " + path;
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool readProjectFile(const std::string& path, std::vector<std::vector<StoredValue>>* project, std::string* error,
                     std::vector<std::string>* warnings) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open the project " + path;
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
    std::vector<std::vector<StoredValue>> result;
    for (std::size_t i = 0; i < instances->size(); ++i) {
        const json& instance = (*instances)[i];
        std::vector<StoredValue> values;
        const json* parameters = nullptr;
        if (instance.is_object()) {
            const auto it = instance.find("parameters");
            if (it != instance.end() && it->is_array()) parameters = &*it;
        }
        if (!parameters) {
            if (warnings) warnings->push_back("instance " + std::to_string(i) + ": no parameters");
        } else {
            for (std::size_t j = 0; j < parameters->size(); ++j) {
                StoredValue v;
                if (valueFromJson((*parameters)[j], &v)) {
                    values.push_back(std::move(v));
                } else if (warnings) {
                    warnings->push_back("instance " + std::to_string(i) + ": parameter entry " + std::to_string(j) +
                                        " cannot be read");
                }
            }
        }
        result.push_back(std::move(values));
    }
    *project = std::move(result);
    return true;
}

}  // namespace host
