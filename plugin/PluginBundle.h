#pragma once
// The effect's bundle: the folder the effect module was loaded from, with its
// resources beside it:
//
//   Quillane.bundle/
//     quillane_effect.so
//     Resources/Localizable.json     English texts of the parameter and button keys
//     Resources/<name>.<type>        any other resource (the filter's kernel text)
//
// The bundle is found from the address of this code, so the effect needs no
// configuration. Code linked into another program (a test) has no bundle:
// resources are then missing and a localized text is its key, as on the platform.
#include <map>
#include <string>

class PluginBundle {
public:
    explicit PluginBundle(std::string bundlePath);

    // The bundle that holds this code. Loaded once per process.
    static const PluginBundle& bundleForClass();
    // Points bundleForClass() at another folder (for code linked outside the
    // module, such as tests). Call before the first bundleForClass().
    static void setBundlePathForTesting(std::string bundlePath);

    const std::string& bundlePath() const { return bundlePath_; }
    // bundlePath/Resources, or empty without a bundle.
    std::string resourcePath() const;
    // The full path of Resources/name.type, or empty when there is no such file.
    std::string pathForResource(const std::string& name, const std::string& type) const;
    // The English text of the key, or the key itself when the bundle has none.
    std::string localizedStringForKey(const std::string& key) const;

private:
    std::string bundlePath_;
    std::map<std::string, std::string> strings_;
};
