#pragma once
// A filter constructor of the image framework's kind: one per process, making
// filters by class name. Nothing registers or calls it; it exists for hosts
// that look filters up through a constructor.
#include <memory>
#include <string>

#include "platform/coreimage/CoreImage.h"

class LutFilterConstructor {
public:
    static LutFilterConstructor& constructor();
    // A new filter of that name, or nullptr.
    std::shared_ptr<CIFilter> filterWithName(const std::string& name) const;

private:
    LutFilterConstructor() = default;
};
