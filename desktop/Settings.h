#pragma once
// The settings file shared with the Quillane desktop application:
// $HOME/.config/QuillaneMac/reg.xml, an XML imitation of a registry hive with
// one value per line. The application writes ProgramPath and ModalPluginMode;
// the plug-in keeps FavoriteLUTFolder, email and PersonalAccountPassword there.
//
// Every call reads the file afresh, and only a regular file: anything else at
// its name (a pipe, a device) cannot be opened, and never blocks a call. A
// rewrite builds the complete new file beside it (in a temporary file of a
// name of its own, ".reg.xml.quillane-tmp." and six characters), flushes it to
// disk and renames it over reg.xml in one step, so the old file stays whole if
// anything fails and a reader never sees a part; a reg.xml that is a symbolic
// link stays one (the file it leads to is rewritten), and the file keeps its
// permissions. Each rewrite first removes the temporary files of earlier
// rewrites that were killed half way. A rewrite that fails says why in one
// line on standard error (the calls themselves report nothing to their
// callers).
// Our processes take turns through an advisory lock on "reg.xml.lock" beside
// it: shared around a lookup, exclusive around every read-modify-write, so no
// write of one process undoes another's. Values are stored XML-escaped and
// read back unescaped.
#include <string>
#include <utility>
#include <vector>

// The settings file's path, or the empty string when HOME is unset.
std::string settingsFilePath();

// The value of key, or the empty string when it is absent, empty or the file
// cannot be read. With create true a missing file (and its folders) is made
// first. A missing line for one of the plug-in's own keys is added (empty),
// whether create is set or not.
std::string getValueFromReg(std::string key, bool create);

// Replaces every line that names one of the keys (the first matching pair in
// list order wins) by that key's value line. Only the plug-in's own keys are
// written. A value holding a control character is refused: then nothing is
// written at all.
void setValuesInReg(const std::vector<std::pair<std::string, std::string>>& values);

void saveLoginPassword(std::string email, std::string password);

// Exactly two elements: the stored e-mail, then the stored password.
std::vector<std::string> getLoginPassword();

// The desktop application's presets folder (beside its executable), or the
// empty string when the application has not told us where it lives.
std::string getPresetsPath();
