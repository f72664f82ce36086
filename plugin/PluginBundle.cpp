#include "plugin/PluginBundle.h"

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>

namespace {

std::string& testingPath() {
    static std::string path;
    return path;
}

std::string folderOfThisCode() {
    Dl_info info{};
    static const int anchor = 0;
    if (dladdr(&anchor, &info) == 0 || !info.dli_fname) return {};
    std::error_code ec;
    const auto file = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::string() : file.parent_path().string();
}

}  // namespace

PluginBundle::PluginBundle(std::string bundlePath) : bundlePath_(std::move(bundlePath)) {
    const std::string path = pathForResource("Localizable", "json");
    if (path.empty()) return;
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto table = nlohmann::json::parse(text, nullptr, false);
    if (!table.is_object()) return;
    for (const auto& [key, value] : table.items())
        if (value.is_string()) strings_[key] = value.get<std::string>();
}

const PluginBundle& PluginBundle::bundleForClass() {
    static const PluginBundle bundle(testingPath().empty() ? folderOfThisCode() : testingPath());
    return bundle;
}

void PluginBundle::setBundlePathForTesting(std::string bundlePath) { testingPath() = std::move(bundlePath); }

std::string PluginBundle::resourcePath() const {
    return bundlePath_.empty() ? std::string() : bundlePath_ + "/Resources";
}

std::string PluginBundle::pathForResource(const std::string& name, const std::string& type) const {
    if (bundlePath_.empty()) return {};
    const std::string path = resourcePath() + "/" + name + (type.empty() ? "" : "." + type);
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) ? path : std::string();
}

std::string PluginBundle::localizedStringForKey(const std::string& key) const {
    const auto it = strings_.find(key);
    return it == strings_.end() ? key : it->second;
}
