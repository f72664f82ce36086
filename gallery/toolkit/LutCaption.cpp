#include <nanogui/label.h>
#include <nanogui/opengl.h>

#include "gallery/toolkit/Toolkit.h"
#include "gallery/toolkit/ToolkitGeometry.h"

namespace nanogui {

void setFittedCaption(Label* label, NVGcontext* ctx, const std::string& text, int width) {
    label->setFixedWidth(width);
    nvgSave(ctx);
    nvgFontFace(ctx, label->font().c_str());
    nvgFontSize(ctx, label->fontSize());
    const auto advance = [ctx](std::string_view part) {
        return nvgTextBounds(ctx, 0, 0, part.data(), part.data() + part.size(), nullptr);
    };
    // A pixel to spare: the label breaks its lines by glyph positions, rounded its own way.
    label->setCaption(geometry::fitToWidth(text, float(width - 1), advance));
    nvgRestore(ctx);
}

}  // namespace nanogui
