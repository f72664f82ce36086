#pragma once
// The host's current frame, as an editor has one under its playhead: the frame
// of the last render, or one the user named. Effects get it as a bitmap
// through the temporal image service.
#include <memory>
#include <string>

#include "host/FrameFile.h"
#include "host/Host.h"

namespace host {

// The frame as the host's bitmaps are laid out: rows bottom first (the
// picture's last row is the bitmap's first, as in the host's textures), each
// pixel A, R, G, B; bytes at depth 0, 32-bit floats at depth 3. 8-bit values
// become v / 255 as floats; floats become bytes rounded and clamped. nullptr
// for an empty frame or another depth.
std::unique_ptr<FxBitmap> bitmapOfFrame(const Frame& frame, unsigned depth);

// The current frame is kept as its file, as an editor keeps its media on disk,
// and decoded when an effect asks for it.
class CurrentFrame {
public:
    void setFile(std::string path) { path_ = std::move(path); }
    const std::string& file() const { return path_; }

    // What happened to the requests since the last resetRequests().
    struct Requests {
        int asked = 0;
        int given = 0;
        std::string problem;  // why the last one got nothing
    };
    const Requests& requests() const { return requests_; }
    void resetRequests() { requests_ = {}; }

    // The provider an effect instance asks; it counts the requests.
    FrameProvider provider();

private:
    std::unique_ptr<FxBitmap> bitmap(const FxRenderInfo& info);
    std::string path_;
    Requests requests_;
};

}  // namespace host
