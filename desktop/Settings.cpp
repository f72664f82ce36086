#include "desktop/Settings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "desktop/FileDescriptor.h"
#include "desktop/FileReplace.h"
#include "desktop/boxer_osx.h"
#include "lut/FileRead.h"
#include "lut/LutFile.h"

namespace {

const char kSettingsFolder[] = "/.config/QuillaneMac/";
const char kSettingsFile[] = "/.config/QuillaneMac/reg.xml";
const char kLockFile[] = "/.config/QuillaneMac/reg.xml.lock";
const char kParentFolder[] = "/.config/";
const char kAnchor[] = "<Key Name=\"Quillane\">";
const char kValueEnd[] = "</Value>";

const char kSkeleton[] =
    "    <?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "    <XMLReg>\n"
    "      <Key Name=\"HKEY_CURRENT_USER\">\n"
    "        <Key Name=\"Software\">\n"
    "          <Key Name=\"Quillane\">\n"
    "          </Key>\n"
    "        </Key>\n"
    "      </Key>\n"
    "    </XMLReg>\n"
    "    \n";

// The keys the plug-in writes itself; any other key is only ever read.
std::string valuePrefix(const std::string& key) {
    if (key == "FavoriteLUTFolder") return "<Value Name=\"FavoriteLUTFolder\" Type=\"2\">";
    if (key == "email") return "<Value Name=\"email\" Type=\"2\">";
    if (key == "PersonalAccountPassword") return "<Value Name=\"PersonalAccountPassword\" Type=\"2\">";
    return {};
}

void errorBox(const std::string& message, const char* title) {
    showBox(message.c_str(), title, BoxStyle::Error, BoxButtons::OK);
}

void reportNotSaved(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "Quillane: the settings file %s was not saved: %s\n", path.c_str(), reason.c_str());
    std::fflush(stderr);
}

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

std::string escapeXml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

void appendUtf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xc0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xe0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    }
}

// The five named entities and numeric references (the desktop application's
// XML writer may use either); anything else stays as it is.
std::string unescapeXml(const std::string& text) {
    static const std::pair<const char*, char> named[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        bool done = false;
        for (const auto& [entity, c] : named) {
            if (text.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
                out += c;
                i += std::char_traits<char>::length(entity);
                done = true;
                break;
            }
        }
        if (!done && text.compare(i, 2, "&#") == 0) {
            const std::size_t semi = text.find(';', i);
            const bool hex = i + 2 < text.size() && (text[i + 2] == 'x' || text[i + 2] == 'X');
            const std::size_t digits = i + (hex ? 3 : 2);
            if (semi != std::string::npos && semi > digits && semi - digits <= 8) {
                const std::string number = text.substr(digits, semi - digits);
                char* end = nullptr;
                const unsigned long cp = std::strtoul(number.c_str(), &end, hex ? 16 : 10);
                if (*end == '\0' && cp > 0 && cp <= 0x10ffff && !(cp >= 0xd800 && cp <= 0xdfff)) {
                    appendUtf8(out, cp);
                    i = semi + 1;
                    done = true;
                }
            }
        }
        if (!done) out += text[i++];
    }
    return out;
}

enum class LineResult { NoMatch, Found, Stop };

// A line names the key when the key stands in double quotes anywhere in it.
// Its value is the first '<'-piece of the second '>'-piece; a line with no
// second piece ends the lookup, an empty second piece is passed over.
LineResult lookupLine(const std::string& line, const std::string& quotedKey, std::string& value) {
    if (line.find(quotedKey) == std::string::npos) return LineResult::NoMatch;
    const std::vector<std::string> pieces = split(line, '>');
    if (pieces.size() < 2) return LineResult::Stop;
    const std::vector<std::string> inner = split(pieces[1], '<');
    if (inner.empty()) return LineResult::NoMatch;
    value = inner.front();
    return LineResult::Found;
}

// A settings file holds a handful of lines; one larger than this is not ours
// and is not read.
constexpr std::size_t kMaxSettingsBytes = 4 * 1024 * 1024;

// The settings file's lines, from a regular file only: a pipe or a device at
// its name would block the read, or never end it, and is a file that cannot be
// opened. False, with the reason, when the file cannot be opened or read.
bool readLines(const std::string& path, std::vector<std::string>& lines, std::string* problem) {
    std::string text;
    const FileRead read = readRegularFile(path, kMaxSettingsBytes, &text);
    if (read.problem != FileReadProblem::None) {
        *problem = fileReadProblemText(read);
        return false;
    }
    lines = split(text, '\n');
    return true;
}

// Several editor processes, their instances and the desktop application all
// use the one settings file. Our processes take turns through an advisory
// lock on a file beside it: shared for a lookup, exclusive for a
// read-modify-write. Not reg.xml itself: every rewrite renames a new file
// over it, so a lock on it would be left behind with the replaced file. A
// file of its own rather than the folder: exclusive locks on a folder fail on
// network file systems, where flock is carried out with record locks that
// need a descriptor open for writing.
//
// The lock is a courtesy among our processes, not a condition: where the lock
// file cannot be made (no folder yet, a folder we may not write) the call goes
// on without it, as it would have to anyway.
class SettingsLock {
public:
    enum Kind { Shared = LOCK_SH, Exclusive = LOCK_EX };
    SettingsLock(const std::string& home, Kind kind)
        : fd_(::open((home + kLockFile).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600)) {
        if (fd_.get() < 0) return;
        while (::flock(fd_.get(), kind) != 0 && errno == EINTR) {
        }
    }
    // Closing the descriptor ends the lock.

private:
    UniqueFd fd_;
};

// The whole new content replaces the settings file in one step (see
// FileReplace.h), so that a reader (ours or the desktop application's) sees
// either the old file or the new one, never a part; a settings file that is a
// link (to a dotfiles folder) stays one, and the file keeps its permissions.
// Temporary files that earlier rewrites left behind when they were killed
// (each holds the account's password) go first. The caller holds the
// exclusive lock. A rewrite that fails leaves the file as it was and says why
// on standard error: the caller has nobody to tell, and a log-in quietly not
// stored would puzzle the user.
bool replaceSettingsFile(const std::string& home, const std::string& content) {
    const std::string target = home + kSettingsFile;
    std::string error;
    if (replaceFileWhole(target, content, 0600, &error)) return true;
    reportNotSaved(target, error);
    return false;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folders, for a settings file that could not be opened.
void createSettingsFolders(const std::string& home) {
    const std::string folder = home + kSettingsFolder;
    if (isDirectory(folder)) return;
    ::mkdir((home + kParentFolder).c_str(), 0700);  // normally there already
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        errorBox("Failed to create folder " + folder, "Error in Quillane Plug-in");
}

// The skeleton, unless another process has made the file meanwhile. A file
// that exists but cannot be read is left alone. The caller holds the
// exclusive lock, so none of our readers sees the file half written.
void createSettingsFile(const std::string& home) {
    const std::string path = home + kSettingsFile;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno != EEXIST) reportNotSaved(path, std::strerror(errno));
        return;
    }
    const std::string skeleton = std::string(kSkeleton) + "\n";
    bool ok = writeAll(fd, skeleton.data(), skeleton.size());
    const int cause = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(path.c_str());
        reportNotSaved(path, std::strerror(cause));
    }
}

// The lookup over the file's lines: Found with *value, Stop, or NoMatch when
// no line gives the key's value. Missing when the file cannot be opened.
enum class FileLookup { Missing, NoMatch, Found, Stop };

FileLookup lookupInFile(const std::string& path, const std::string& key, std::string* value) {
    std::vector<std::string> lines;
    std::string problem;
    if (!readLines(path, lines, &problem)) return FileLookup::Missing;
    const std::string quotedKey = "\"" + key + "\"";
    for (const std::string& line : lines) {
        const LineResult result = lookupLine(line, quotedKey, *value);
        if (result == LineResult::Found) return FileLookup::Found;
        if (result == LineResult::Stop) return FileLookup::Stop;
    }
    return FileLookup::NoMatch;
}

// Adds the key's empty value line directly after every anchor line. The
// caller holds the exclusive lock.
void insertEmptyValueLine(const std::string& home, const std::string& key) {
    const std::string prefix = valuePrefix(key);
    if (prefix.empty()) return;  // nothing to insert for keys the plug-in does not own
    std::vector<std::string> lines;
    std::string problem;
    if (!readLines(home + kSettingsFile, lines, &problem)) return;
    std::string content;
    bool inserted = false;
    for (const std::string& line : lines) {
        content += line;
        content += '\n';
        if (line.find(kAnchor) != std::string::npos) {
            content += prefix + kValueEnd + "\n";
            inserted = true;
        }
    }
    if (inserted) replaceSettingsFile(home, content);
}

}  // namespace

std::string settingsFilePath() {
    const char* home = std::getenv("HOME");
    return home ? std::string(home) + kSettingsFile : std::string();
}

std::string getValueFromReg(std::string key, bool create) {
    const char* homeVariable = std::getenv("HOME");
    if (homeVariable == nullptr) {
        errorBox("Can't get HOME variable", "Error in Quillane Plug-in");
        return {};
    }
    try {
        const std::string home = homeVariable;
        const std::string path = home + kSettingsFile;
        std::string value;
        FileLookup found;
        {
            SettingsLock lock(home, SettingsLock::Shared);
            found = lookupInFile(path, key, &value);
        }
        if (found == FileLookup::Found) return unescapeXml(value);
        if (found == FileLookup::Stop) return {};
        if (found == FileLookup::Missing) {
            errorBox("Error opening file " + path, "getValueFromReg");
            if (create) createSettingsFolders(home);
        }
        // Only our own keys get a line inserted: for any other key there is
        // nothing to write, so no second look under the exclusive lock.
        const bool makesFile = found == FileLookup::Missing && create;
        if (!makesFile && valuePrefix(key).empty()) return {};

        // The insertion is a read-modify-write: look again under the exclusive
        // lock, since another process may have added the line meanwhile.
        SettingsLock lock(home, SettingsLock::Exclusive);
        if (found == FileLookup::Missing && create) createSettingsFile(home);
        value.clear();
        switch (lookupInFile(path, key, &value)) {
        case FileLookup::Found: return unescapeXml(value);
        case FileLookup::Stop:
        case FileLookup::Missing: return {};
        case FileLookup::NoMatch: break;
        }
        insertEmptyValueLine(home, key);
    } catch (const std::exception&) {
    }
    return {};
}

void setValuesInReg(const std::vector<std::pair<std::string, std::string>>& values) {
    const char* homeVariable = std::getenv("HOME");
    if (homeVariable == nullptr) return;
    for (const auto& [key, value] : values)
        if (hasControlCharacter(value)) return;
    try {
        const std::string home = homeVariable;
        SettingsLock lock(home, SettingsLock::Exclusive);
        std::vector<std::string> lines;
        std::string problem;
        if (!readLines(home + kSettingsFile, lines, &problem)) {
            reportNotSaved(home + kSettingsFile, problem);
            return;
        }
        std::string content;
        for (const std::string& line : lines) {
            bool replaced = false;
            for (const auto& [key, value] : values) {
                const std::string prefix = valuePrefix(key);
                if (prefix.empty() || line.find("\"" + key + "\"") == std::string::npos) continue;
                content += prefix + escapeXml(value) + kValueEnd + "\n";
                replaced = true;
                break;
            }
            if (!replaced) content += line + "\n";
        }
        replaceSettingsFile(home, content);
    } catch (const std::exception&) {
    }
}

void saveLoginPassword(std::string email, std::string password) {
    // The lookups make sure the file and both lines exist (and tell the user
    // when HOME is unset, in which case the rewrite touches nothing).
    getValueFromReg("email", true);
    getValueFromReg("PersonalAccountPassword", true);
    setValuesInReg({{"email", std::move(email)}, {"PersonalAccountPassword", std::move(password)}});
}

std::vector<std::string> getLoginPassword() {
    std::string email = getValueFromReg("email", true);
    std::string password = getValueFromReg("PersonalAccountPassword", true);
    return {std::move(email), std::move(password)};
}

std::string getPresetsPath() {
    const std::string program = getValueFromReg("ProgramPath", false);
    if (program.empty()) return {};
    const char separator = program.find('/') != std::string::npos ? '/' : '\\';
    const std::size_t last = program.rfind(separator);
    if (last == std::string::npos) return {};
    return program.substr(0, last) + separator + "Presets";
}
