#pragma once
// A frame and a folder of graded looks that read as such to a person: for the
// LUT Manager's screenshot and its tests.
#include <string>
#include <vector>

namespace gallery_samples {

// A landscape at dusk (sky, sun, hills, water, a skin-toned face, colour
// patches), 8-bit A, R, G, B pixels, bottom row first as the host gives them.
std::vector<unsigned char> sampleFrameArgb(int width, int height);

// Writes the looks as .cube files of `nodes` nodes into folder (made when
// missing) and returns their paths in the order written.
std::vector<std::string> writeSampleLooks(const std::string& folder, int nodes = 17);

}  // namespace gallery_samples
