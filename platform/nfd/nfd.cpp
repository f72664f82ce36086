#include "platform/nfd/nfd.h"

#include <gtk/gtk.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <utility>

namespace nfd {
namespace {

Answerer& currentAnswerer() {
    static Answerer answerer;
    return answerer;
}

thread_local std::string lastError;

struct GFree {
    void operator()(gchar* p) const { g_free(p); }
};
using GText = std::unique_ptr<gchar, GFree>;

// GTK's patterns are case-sensitive; a LUT named LOOK.CUBE must still show.
std::string caseFreePattern(const std::string& extension) {
    std::string pattern = "*.";
    for (char c : extension) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalpha(u)) {
            pattern += '[';
            pattern += static_cast<char>(std::tolower(u));
            pattern += static_cast<char>(std::toupper(u));
            pattern += ']';
        } else if (c == '*' || c == '?' || c == '[' || c == ']') {
            pattern += '[';
            pattern += c;
            pattern += ']';
        } else {
            pattern += c;
        }
    }
    return pattern;
}

std::string joined(const std::vector<std::string>& extensions) {
    std::string text;
    for (const auto& e : extensions) text += (text.empty() ? "" : ", ") + e;
    return text;
}

GtkFileFilter* makeFilter(const std::string& name, const std::vector<std::string>& extensions) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, name.c_str());
    for (const auto& e : extensions) gtk_file_filter_add_pattern(filter, caseFreePattern(e).c_str());
    return filter;
}

void addFilters(GtkFileChooser* chooser, const std::vector<std::vector<std::string>>& groups) {
    if (groups.empty()) return;
    if (groups.size() > 1) {
        std::vector<std::string> all;
        for (const auto& g : groups) all.insert(all.end(), g.begin(), g.end());
        gtk_file_chooser_add_filter(chooser, makeFilter(joined(all), all));
    }
    for (const auto& g : groups) gtk_file_chooser_add_filter(chooser, makeFilter(joined(g), g));
    GtkFileFilter* any = gtk_file_filter_new();
    gtk_file_filter_set_name(any, "All files");
    gtk_file_filter_add_pattern(any, "*");
    gtk_file_chooser_add_filter(chooser, any);
}

DialogAnswer runGtkDialog(const DialogRequest& request) {
    if (!gtk_init_check(nullptr, nullptr)) return {NFD_ERROR, "", "no display to show the file dialog on"};
    const bool folder = request.kind == DialogKind::PickFolder;
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        folder ? "Select Folder" : "Open File", nullptr,
        folder ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
        GTK_RESPONSE_CANCEL, folder ? "_Select" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    if (!folder) addFilters(chooser, parseFilterList(request.filterList.c_str()));
    if (!request.defaultPath.empty()) gtk_file_chooser_set_current_folder(chooser, request.defaultPath.c_str());
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);

    DialogAnswer answer{NFD_CANCEL, "", ""};
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        GText name(gtk_file_chooser_get_filename(chooser));
        if (name)
            answer = {NFD_OKAY, name.get(), ""};
        else
            answer = {NFD_ERROR, "", "the chosen item is not a local file"};
    }
    gtk_widget_destroy(dialog);
    // Let the dialog disappear before the caller goes on.
    while (gtk_events_pending()) gtk_main_iteration();
    return answer;
}

DialogAnswer answerFor(const DialogRequest& request) {
    if (const Answerer& answerer = currentAnswerer()) return answerer(request);
    if (const char* scripted = std::getenv(kAnswerVariable)) {
        DialogAnswer answer;
        if (parseScriptedAnswer(scripted, &answer)) return answer;
        return {NFD_ERROR, "", std::string(kAnswerVariable) + " holds no answer: " + scripted};
    }
    return runGtkDialog(request);
}

nfdresult_t ask(DialogKind kind, const char* filterList, const char* defaultPath, std::string* outPath) {
    lastError.clear();
    if (!outPath) {
        lastError = "no place for the chosen path";
        return NFD_ERROR;
    }
    const DialogAnswer answer = answerFor({kind, filterList ? filterList : "", defaultPath ? defaultPath : ""});
    switch (answer.result) {
    case NFD_OKAY:
        if (answer.path.empty()) {
            lastError = "the dialog chose an empty path";
            return NFD_ERROR;
        }
        *outPath = answer.path;
        return NFD_OKAY;
    case NFD_CANCEL:
        return NFD_CANCEL;
    case NFD_ERROR:
    default:
        lastError = answer.error.empty() ? "the file dialog failed" : answer.error;
        return NFD_ERROR;
    }
}

}  // namespace

Answerer setAnswerer(Answerer answerer) { return std::exchange(currentAnswerer(), std::move(answerer)); }

bool parseScriptedAnswer(const std::string& text, DialogAnswer* answer) {
    if (!answer) return false;
    if (text.rfind("okay:", 0) == 0 && text.size() > 5) {
        *answer = {NFD_OKAY, text.substr(5), ""};
        return true;
    }
    if (text == "cancel") {
        *answer = {NFD_CANCEL, "", ""};
        return true;
    }
    if (text == "error" || text.rfind("error:", 0) == 0) {
        *answer = {NFD_ERROR, "", text.size() > 6 ? text.substr(6) : std::string("the file dialog failed")};
        return true;
    }
    return false;
}

std::vector<std::vector<std::string>> parseFilterList(const char* filterList) {
    std::vector<std::vector<std::string>> groups;
    if (!filterList) return groups;
    std::vector<std::string> group;
    std::string extension;
    auto endExtension = [&] {
        if (!extension.empty()) group.push_back(extension);
        extension.clear();
    };
    auto endGroup = [&] {
        endExtension();
        if (!group.empty()) groups.push_back(group);
        group.clear();
    };
    for (const char* p = filterList; *p; ++p) {
        if (*p == ';')
            endGroup();
        else if (*p == ',')
            endExtension();
        else if (*p != ' ')
            extension += *p;
    }
    endGroup();
    return groups;
}

}  // namespace nfd

nfdresult_t NFD_OpenDialog(const char* filterList, const char* defaultPath, std::string* outPath) {
    return nfd::ask(nfd::DialogKind::OpenFile, filterList, defaultPath, outPath);
}

nfdresult_t NFD_PickFolder(const char* defaultPath, std::string* outPath) {
    return nfd::ask(nfd::DialogKind::PickFolder, nullptr, defaultPath, outPath);
}

const char* NFD_GetError() { return nfd::lastError.c_str(); }
