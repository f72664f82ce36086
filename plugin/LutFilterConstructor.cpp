#include "plugin/LutFilterConstructor.h"

#include "plugin/QuillaneFilter.h"

LutFilterConstructor& LutFilterConstructor::constructor() {
    static LutFilterConstructor instance;
    return instance;
}

std::shared_ptr<CIFilter> LutFilterConstructor::filterWithName(const std::string& name) const {
    if (name == "QuillaneFilter") return std::make_shared<QuillaneFilter>();
    return CIFilter::filterWithName(name);
}
