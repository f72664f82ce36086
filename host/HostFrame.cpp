#include "host/HostFrame.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace host {

std::unique_ptr<FxBitmap> bitmapOfFrame(const Frame& frame, unsigned depth) {
    if (frame.width <= 0 || frame.height <= 0 || frame.valueCount() < frame.pixelCount() * 4) return nullptr;
    if (depth != kFxDepth_UINT8 && depth != kFxDepth_FLOAT32) return nullptr;
    auto bitmap = std::make_unique<FxBitmap>(static_cast<unsigned>(frame.width), static_cast<unsigned>(frame.height),
                                             depth);
    const std::size_t rowValues = static_cast<std::size_t>(frame.width) * 4;
    for (int y = 0; y < frame.height; ++y) {
        // Bitmap row y is the picture's row height - 1 - y.
        const std::size_t from = static_cast<std::size_t>(frame.height - 1 - y) * rowValues;
        const std::size_t to = static_cast<std::size_t>(y) * rowValues;
        for (std::size_t i = 0; i < rowValues; i += 4) {
            float rgba[4];
            unsigned char bytes[4];
            if (frame.sixteen) {
                for (int c = 0; c < 4; ++c) rgba[c] = frame.words[from + i + c] / 65535.0f;
                for (int c = 0; c < 4; ++c) bytes[c] = static_cast<unsigned char>(rgba[c] * 255.0f + 0.5f);
            } else if (frame.isFloat) {
                std::memcpy(rgba, &frame.floats[from + i], sizeof rgba);
                for (int c = 0; c < 4; ++c) {
                    const float v = std::fmin(std::fmax(rgba[c], 0.0f), 1.0f);  // NaN becomes 0
                    bytes[c] = static_cast<unsigned char>(v * 255.0f + 0.5f);
                }
            } else {
                std::memcpy(bytes, &frame.bytes[from + i], sizeof bytes);
                for (int c = 0; c < 4; ++c) rgba[c] = bytes[c] / 255.0f;
            }
            if (depth == kFxDepth_UINT8) {
                auto* out = static_cast<unsigned char*>(bitmap->dataPtr()) + to + i;
                out[0] = bytes[3], out[1] = bytes[0], out[2] = bytes[1], out[3] = bytes[2];
            } else {
                float* out = static_cast<float*>(bitmap->dataPtr()) + to + i;
                out[0] = rgba[3], out[1] = rgba[0], out[2] = rgba[1], out[3] = rgba[2];
            }
        }
    }
    return bitmap;
}

std::unique_ptr<FxBitmap> CurrentFrame::bitmap(const FxRenderInfo& info) {
    ++requests_.asked;
    if (path_.empty()) {
        requests_.problem = "the host has no frame (render one, or name one with frame IN.png)";
        return nullptr;
    }
    Frame frame;
    std::string error;
    if (!readPngFrame(path_, &frame, &error)) {
        requests_.problem = "the current frame cannot be read: " + error;
        return nullptr;
    }
    auto made = bitmapOfFrame(frame, info.depth);
    if (!made) {
        requests_.problem = "the host has no frame of pixel depth " + std::to_string(info.depth);
        return nullptr;
    }
    ++requests_.given;
    return made;
}

FrameProvider CurrentFrame::provider() {
    return [this](const FxRenderInfo& info, FxTime) { return bitmap(info); };
}

}  // namespace host
