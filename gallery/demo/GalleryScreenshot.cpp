// Writes a screenshot of the LUT Manager open on a sample frame over a folder
// of sample looks (or of the LUTs in LUT_FOLDER). Needs a display:
//   xvfb-run -a -s "-screen 0 1280x800x24" quillane-gallery-screenshot OUT.png [LUT_FOLDER]
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "gallery/demo/GalleryShot.h"
#include "gallery/demo/SampleLooks.h"
#include "platform/appkit/Alert.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: " << argv[0] << " OUT.png [LUT_FOLDER]\n";
        return 2;
    }
    // Notices (a missing settings file) go to standard error: nobody is there to press OK.
    appkit::setAlertPresenter(appkit::presentAlertOnStderr);
    const std::string out = argv[1];
    std::string current;
    std::filesystem::path samples;
    if (argc == 3) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[2]))
            if (entry.path().extension() == ".cube" || entry.path().extension() == ".3dl") {
                current = entry.path().string();
                break;
            }
        if (current.empty()) current = std::string(argv[2]) + "/none.cube";
    } else {
        samples = std::filesystem::temp_directory_path() / ("quillane-looks-" + std::to_string(::getpid()));
        current = gallery_samples::writeSampleLooks(samples.string()).at(1);
    }
    const int width = 1280, height = 720;
    std::string error;
    const bool ok = gallery_samples::writeGalleryScreenshot(
        current, gallery_samples::sampleFrameArgb(width, height), width, height, out, &error);
    if (!samples.empty()) std::filesystem::remove_all(samples);
    if (!ok) {
        std::cerr << "no screenshot: " << error << '\n';
        return 1;
    }
    std::cout << out << '\n';
    return 0;
}
