// The actions behind the LUT choice buttons: a LUT file from the file dialog,
// the next or previous LUT of the current LUT's folder (a local folder, or a
// folder of the online library), and the About box.
#include <dirent.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "desktop/Settings.h"
#include "desktop/boxer_osx.h"
#include "gallery/GalleryOnline.h"
#include "gallery/LutGallery.h"
#include "lut/LocalLutPath.h"
#include "lut/LutFile.h"
#include "online/OnlineAPI.h"
#include "online/ServiceAddress.h"
#include "platform/nfd/nfd.h"
#include "plugin/FxQuillane.h"

namespace {

constexpr int kPluginVersion = 1;
const char* const kMakerWebAddress = "https://quillane.example";
const char* const kErrorTitle = "Error in Quillane Plug-in";

// Where the current LUT came from, read off its name: a file path, or an
// online folder and LUT name ("Folder/Sub/Look", "Look" at the root).
struct LutLocation {
    std::string separator;
    std::string folder;  // before the last separator; empty without one
    std::string leaf;    // after the last separator; the whole name without one
    bool isFile = false;
};

LutLocation locate(const std::string& name) {
    // The same split as the LUT Manager's, so both look in the same folder.
    const std::vector<std::string> parts = getCurrentFolderAndFilePaths(name, false);
    LutLocation at;
    at.folder = parts[0];
    at.leaf = parts[1];
    at.separator = parts[2];
    // The kind ignores case, the candidate test below does not: a current
    // LOOK.CUBE is a file, but a LOOK.CUBE beside it is no candidate.
    at.isFile = isLocalLutName(name);
    return at;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The LUT files of a folder in the order the directory gives them: names that
// hold ".cube" or ".3dl" anywhere, hidden names left out. Empty, with the
// reason in *why, when the folder cannot be read.
std::vector<std::string> lutFilesOf(const std::string& folder, std::string* why) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(folder.empty() ? nullptr : ::opendir(folder.c_str()));
    if (!dir) {
        *why = folder.empty() ? "its name holds no folder"
                              : "cannot read its folder " + folder + ": " + std::strerror(errno);
        return names;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;  // ".", ".." and hidden files
        if (holdsLutFileName(name)) names.push_back(name);
    }
    return names;
}

// The client made for one step lives only for it; it signs in with the stored
// account when there is one. A log-in that got no answer ends the step there.
std::vector<std::pair<std::string, int>> onlineLutsOf(const std::string& folder, OnlineAPI& api, bool* failed,
                                                      bool* leftOut) {
    *leftOut = false;
    if (api.getEmail().empty()) {
        const std::string email = getValueFromReg("email", true);
        const std::string password = getValueFromReg("PersonalAccountPassword", true);
        if (!email.empty() && !password.empty()) api.login(email.c_str(), password.c_str(), failed);
        if (*failed) return {};
    }
    return findFilters(folder, &api, failed, leftOut);
}

// A service that answers every request just in time, but each without a LUT,
// must not keep a Next/Previous press going entry after entry: the whole step
// (log-in, listing, LUTs and presets) gives up after this long.
constexpr auto kOnlineStepBudget = std::chrono::milliseconds(4 * OnlineAPI::kTimeoutMs);

// The LUT of an online entry with its preset (fetchLutWithPreset). Names may
// repeat in a listing: the last one of that name counts.
FetchedLut downloadOnlineLut(OnlineAPI& api, const std::vector<std::pair<std::string, int>>& luts,
                             const std::string& entry) {
    int id = -1;
    for (const auto& [lutName, lutId] : luts)
        if (lutName == entry) id = lutId;
    if (id < 0) return {};
    return fetchLutWithPreset(api, id);
}

void errorBox(const std::string& message, const char* title = kErrorTitle) {
    showBox(message.c_str(), title, BoxStyle::Error, BoxButtons::OK);
}

// An action that did not do its work: the box says why, and its first line is
// the one line the press reports.
void failWithBox(std::string* actionFailure, const std::string& text) {
    errorBox(text);
    *actionFailure = text.substr(0, text.find('\n'));
}

// A request of an online step that got no answer. Past the step's budget it
// was the budget that ended it (a request is cut to what is left, and none
// is sent once it is spent): the service answers, but too slowly.
void failOnline(std::string* actionFailure, const OnlineAPI& api, const std::string& folder,
                const std::string& notArrived) {
    if (!api.pastDeadline()) {
        failWithBox(actionFailure, unreachableLibraryText(notArrived));
        return;
    }
    failWithBox(actionFailure, slowLibraryText("no LUT of " +
                                               (folder.empty() ? std::string("the top folder") : "the folder " + folder) +
                                               " arrived within " +
                                               std::to_string(kOnlineStepBudget.count() / 1000) + " seconds"));
}

}  // namespace

std::string lutKeepProblem(const Lut& lut) {
    const int n = lut.getDimSize();
    if (!lut.isLoaded() || n < 1 || !lut.getData()) return "it holds no nodes";
    if (n > kMaxStoredDimSize)
        return "its " + std::to_string(n) + " nodes per axis are more than the " + std::to_string(kMaxStoredDimSize) +
               " a project keeps";
    if (!usableInputRange(lut.getInputRange0(), lut.getInputRange1()))
        return "its input range, " + rangeBoundText(lut.getInputRange0()) + " to " +
               rangeBoundText(lut.getInputRange1()) + ", is not two different finite numbers";
    return {};
}

bool FxQuillane::takeLut(Lut lut, std::vector<char> preset, std::string name) {
    const std::string problem = lutKeepProblem(lut);
    if (!problem.empty()) {
        failWithBox(&_actionFailure, "Cannot take the LUT " + name + ": " + problem + ".\nThe current LUT is kept.");
        return false;
    }
    _lut = std::move(lut);
    _preset = std::move(preset);
    _name = std::move(name);
    saveLut();
    return true;
}

void FxQuillane::openLutGallery() {
    // The thumbnails are graded from 8 bits a channel, at the lowest quality.
    const std::unique_ptr<FxBitmap> bitmap = frameOfLastRender(kFxDepth_UINT8, 0);
    if (!bitmap) {
        _actionFailure = "there is no current frame to show";
        return;
    }
    bool isLocal = false;
    // The window starts at the current LUT's name; a LUT chosen in it comes
    // here first, to be taken as every other choice is.
    Lut chosen;
    std::string name = _name;
    std::vector<char> preset;
    // A window that never opened, or a chosen LUT that could not be taken
    // (its box said why), leaves nothing to store.
    _actionFailure = openGallery(bitmap->dataPtr(), static_cast<int>(bitmap->width()),
                                 static_cast<int>(bitmap->height()), 4,
                                 static_cast<int>(FxBitmap::bytesPerPixel(bitmap->depth())), &isLocal, &chosen, &name,
                                 &preset);
    if (!_actionFailure.empty()) return;
    if (chosen.isLoaded())
        takeLut(std::move(chosen), std::move(preset), std::move(name));
    else
        saveLut();
}

void FxQuillane::choseFileLut() {
    std::string path;
    const nfdresult_t result = NFD_OpenDialog("3dl;cube;", nullptr, &path);
    if (result == NFD_CANCEL) return;
    if (result != NFD_OKAY) {
        std::cerr << "Quillane: the file dialog failed: " << NFD_GetError() << '\n';
        return;
    }
    std::vector<char> preset;
    Lut lut = readLutFile(path, &preset);
    // An unreadable file must not replace the user's LUT by nothing.
    if (!lut.isLoaded()) {
        failWithBox(&_actionFailure, unreadableLutText(path) + "\nThe current LUT is kept.");
        return;
    }
    takeLut(std::move(lut), std::move(preset), path);
}

void FxQuillane::changeNextLut() { selectNextPrevLut(true); }

void FxQuillane::changePrevLut() { selectNextPrevLut(false); }

void FxQuillane::selectNextPrevLut(bool next) {
    const LutLocation at = locate(_name);
    // Each way of finding nothing to step to keeps the LUT and says why.
    const std::string subject = _name.empty() ? "no LUT is chosen" : "the LUT " + _name;

    std::unique_ptr<OnlineAPI> api;
    std::vector<std::pair<std::string, int>> onlineLuts;
    bool listingCut = false;  // the online folder lists more entries than are read
    std::vector<std::string> names;
    if (at.isFile) {
        std::string why;
        names = lutFilesOf(at.folder, &why);
        if (!why.empty()) {
            _actionFailure = subject + ": " + why;
            return;
        }
        if (names.empty()) {
            _actionFailure = "the folder " + at.folder + " holds no LUT files";
            return;
        }
    } else {
        if (!quillane::online::serviceConfigured()) {
            _actionFailure = subject + (_name.empty() ? "" : " is an online LUT") +
                             ", and no online library is configured (QUILLANE_SERVICE_URL is not set)";
            return;
        }
        api = std::make_unique<OnlineAPI>();
        api->setDeadline(OnlineAPI::Clock::now() + kOnlineStepBudget);
        bool failed = false;
        onlineLuts = onlineLutsOf(at.folder, *api, &failed, &listingCut);
        if (failed) {
            failOnline(&_actionFailure, *api, at.folder,
                       at.folder.empty() ? std::string("the listing of its top folder")
                                         : "the listing of the folder " + at.folder);
            return;
        }
        for (const auto& lut : onlineLuts) names.push_back(lut.first);
        if (names.empty()) {
            _actionFailure = "the online library listed no LUTs in the folder \"" + at.folder + "\"";
            return;
        }
    }

    // The first entry that begins with the leaf is where we are.
    std::size_t current = names.size();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i].compare(0, at.leaf.size(), at.leaf) == 0) {
            current = i;
            break;
        }
    }
    if (current == names.size()) {
        _actionFailure = subject + (listingCut ? " is not among the first " +
                                                     std::to_string(OnlineAPI::kMaxListingEntries) +
                                                     " entries of its online folder, which are all that are read"
                                               : " is no longer in its folder");
        return;
    }

    // An entry that gives no LUT (not a LUT, a folder, a LUT the service
    // cannot send) must not end the walk there for good: step on past it in
    // the direction pressed, once round the folder at most. The entry at the
    // current place is not tried again, unless it is the folder's only one.
    const std::size_t count = names.size();
    const std::size_t tries = count > 1 ? count - 1 : 1;
    std::string firstFailure, firstProblem;
    for (std::size_t step = 1; step <= tries; ++step) {
        const std::size_t position = next ? (current + step) % count : (current + count - step) % count;
        const std::string& entry = names[position];
        const std::string newName = at.folder.empty() ? entry : at.folder + at.separator + entry;
        std::vector<char> preset;
        Lut lut;
        if (at.isFile) {
            lut = readLutFile(newName, &preset);
        } else {
            // A service that does not answer is asked nothing more in this step.
            FetchedLut fetched = downloadOnlineLut(*api, onlineLuts, entry);
            if (fetched.outcome == FetchedLut::LutFailed || fetched.outcome == FetchedLut::PresetFailed) {
                const char* what = fetched.outcome == FetchedLut::LutFailed ? "the LUT " : "the preset of the LUT ";
                failOnline(&_actionFailure, *api, at.folder, what + newName);
                return;
            }
            if (fetched.outcome == FetchedLut::Taken) {
                lut = std::move(fetched.lut);
                preset = std::move(fetched.preset);
            }
        }
        // A LUT the effect could not keep is passed over as one that gives none.
        const std::string problem = lut.isLoaded() ? lutKeepProblem(lut) : "";
        if (lut.isLoaded() && problem.empty()) {
            takeLut(std::move(lut), std::move(preset), newName);
            return;
        }
        if (firstFailure.empty()) {
            firstFailure = newName;
            firstProblem = problem;
        }
    }

    // No other entry of the folder gives a LUT: the nearest one in the
    // direction pressed is named.
    const std::string others = tries > 1 ? "\nNo other entry of its folder gives a LUT either." : "";
    const std::string first = !firstProblem.empty() ? "Cannot take the LUT " + firstFailure + ": " + firstProblem + "."
                              : at.isFile           ? unreadableLutText(firstFailure)
                                                    : "Cannot download the LUT " + firstFailure +
                                                " from the online library: the service sent no LUT.";
    failWithBox(&_actionFailure, first + others + "\nThe current LUT is kept.");
}

void FxQuillane::openAbout() {
    const std::string message = "Quillane Plug-in for Final Cut Pro version " + std::to_string(kPluginVersion) +
                                "\nFor more info visit " + kMakerWebAddress;
    showBox(message.c_str(), "About", BoxStyle::Error, BoxButtons::OK);
}
