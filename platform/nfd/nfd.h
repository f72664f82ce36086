#pragma once
// A small native file dialog: open one file (with a list of extensions) or pick
// one folder. Results: NFD_OKAY with the chosen path, NFD_CANCEL when the user
// closed the dialog without choosing, NFD_ERROR when no dialog could be shown
// (NFD_GetError() then says why).
//
// On Linux the dialog is a GTK3 file chooser, shown when a display can be
// opened; without one the answer is NFD_ERROR. The answer can be scripted
// instead, in two ways:
//   - in the process: nfd::setAnswerer() / nfd::ScopedAnswerer (tests);
//   - through the environment variable QUILLANE_FILE_DIALOG_ANSWER, which every
//     copy of this code in the process sees (an effect module loaded by a host
//     carries its own copy): "okay:PATH", "cancel" or "error:REASON".
// An in-process answerer wins over the environment.
#include <functional>
#include <string>
#include <vector>

enum nfdresult_t { NFD_ERROR = 0, NFD_OKAY = 1, NFD_CANCEL = 2 };

// filterList: groups of extensions without dots, groups separated by ';' and
// the extensions of one group by ',' ("3dl;cube;" or "png,jpg;pdf"). Null or
// empty: every file. defaultPath: the folder the dialog starts in (null or
// empty: the dialog's own choice). On NFD_OKAY *outPath is the chosen file;
// otherwise it is left alone. A null outPath gives NFD_ERROR.
nfdresult_t NFD_OpenDialog(const char* filterList, const char* defaultPath, std::string* outPath);
nfdresult_t NFD_PickFolder(const char* defaultPath, std::string* outPath);
// Why the last call of this thread answered NFD_ERROR ("" after other answers).
const char* NFD_GetError();

namespace nfd {

inline constexpr const char* kAnswerVariable = "QUILLANE_FILE_DIALOG_ANSWER";

enum class DialogKind { OpenFile, PickFolder };

struct DialogRequest {
    DialogKind kind = DialogKind::OpenFile;
    std::string filterList;
    std::string defaultPath;
};

struct DialogAnswer {
    nfdresult_t result = NFD_CANCEL;
    std::string path;   // with NFD_OKAY
    std::string error;  // with NFD_ERROR
};

using Answerer = std::function<DialogAnswer(const DialogRequest&)>;

// Replaces the process's answerer (empty: back to the environment and the real
// dialog) and returns the previous one.
Answerer setAnswerer(Answerer answerer);

class ScopedAnswerer {
public:
    explicit ScopedAnswerer(Answerer answerer) : previous_(setAnswerer(std::move(answerer))) {}
    ~ScopedAnswerer() { setAnswerer(std::move(previous_)); }
    ScopedAnswerer(const ScopedAnswerer&) = delete;
    ScopedAnswerer& operator=(const ScopedAnswerer&) = delete;

private:
    Answerer previous_;
};

// The text of QUILLANE_FILE_DIALOG_ANSWER that answers with this path.
inline std::string scriptedOkay(const std::string& path) { return "okay:" + path; }

// Parses a scripted answer; false when the text is none of the three forms.
bool parseScriptedAnswer(const std::string& text, DialogAnswer* answer);

// The extension groups of a filter list, empty pieces dropped.
std::vector<std::vector<std::string>> parseFilterList(const char* filterList);

}  // namespace nfd
