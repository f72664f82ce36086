#include "host/HostCli.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "desktop/FileDescriptor.h"
#include "host/Host.h"
#include "host/HostFrame.h"
#include "host/HostRender.h"
#include "host/Project.h"
#include "lut/LutFile.h"
#include "lut/TextForPeople.h"
#include "platform/nfd/nfd.h"
#include "plugin/FxQuillaneInspection.h"

#ifndef QUILLANE_DEFAULT_EFFECT_MODULE
#define QUILLANE_DEFAULT_EFFECT_MODULE "quillane_effect.so"
#endif

namespace host {
namespace {

struct Session {
    std::unique_ptr<Host> host;
    std::size_t selected = 0;
    std::ostream& out;
    std::ostream& err;
    CurrentFrame frame;
    std::unique_ptr<Renderer> renderer;  // one OpenGL context for the whole command line
    bool actionFailed = false;           // a press whose action failed: the line goes on, the exit fails
    std::string command;                 // the command running, named in its messages

    // Starts a line of standard error about the running command.
    std::ostream& fail() { return err << "quillane-host: " << command << ": "; }

    // The effects delete their GL names in the renderer's context: they go first.
    ~Session() { host.reset(); }

    Renderer* renderContext() {
        if (!renderer) {
            std::string error;
            renderer = Renderer::create(&error);
            if (!renderer) fail() << "no OpenGL: " << error << '\n';
        }
        return renderer.get();
    }

    // The selected instance; a new one when the project has none.
    EffectInstance* current() {
        if (host->instances().empty()) {
            std::string error;
            if (!host->newInstance(kAllServices, &error)) {
                fail() << error << '\n';
                return nullptr;
            }
            selected = 0;
        }
        EffectInstance* instance = host->instance(selected);
        if (!instance) fail() << "there is no instance " << selected << '\n';
        return instance;
    }
};

struct Command {
    const char* name;
    int argumentCount;
    const char* usage;
    std::function<bool(Session&, const std::vector<std::string>&)> run;
};

bool parseId(const std::string& text, FxParameterId* id) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *id = static_cast<FxParameterId>(std::stoul(text));
    return true;
}

std::uint64_t fnv1a(const void* data, std::size_t length) {
    std::uint64_t h = 1469598103934665603ull;
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

std::string hex64(std::uint64_t v) {
    char text[20];
    std::snprintf(text, sizeof text, "%016" PRIx64, v);
    return text;
}

std::string describeValue(const FxValue& v) {
    switch (v.kind()) {
    case FxValue::Kind::None: return "none";
    case FxValue::Kind::Data: return "data " + std::to_string(v.dataValue().size()) + " bytes";
    case FxValue::Kind::Integer: return "integer " + std::to_string(v.integerValue());
    case FxValue::Kind::Double: return "double " + hexFloatFromDouble(v.doubleValue());
    case FxValue::Kind::String: {
        const std::string& s = v.stringValue();
        return "string \"" + (s.size() > 80 ? s.substr(0, 77) + "..." : s) + "\"";
    }
    }
    return "?";
}

std::string describeRect(const NSRect& r) {
    std::ostringstream text;
    text << r.x << ',' << r.y << ',' << r.width << ',' << r.height;
    return text.str();
}

void describeView(std::ostream& out, const NSView& view) {
    out << "    view " << describeRect(view.frame()) << '\n';
    for (const auto& sub : view.subviews()) {
        out << "      ";
        if (auto* button = dynamic_cast<const NSButton*>(sub.get())) {
            out << "button \"" << button->title() << "\" bezel " << button->bezelStyle();
        } else if (auto* field = dynamic_cast<const NSTextField*>(sub.get())) {
            out << "text \"" << field->stringValue() << "\"" << (field->isEditable() ? " editable" : "");
        } else {
            out << "view";
        }
        out << " at " << describeRect(sub->frame());
        if (auto* control = dynamic_cast<const NSControl*>(sub.get()))
            out << " font " << control->fontSize() << (control->isEnabled() ? " enabled" : " disabled")
                << (control->hasAction() ? " action" : "");
        out << '\n';
    }
}

bool list(Session& s, const std::vector<std::string>&) {
    if (!s.current()) return false;
    for (std::size_t i = 0; i < s.host->instances().size(); ++i) {
        const EffectInstance& instance = *s.host->instances()[i];
        s.out << "instance " << i;
        if (const FxQuillaneInspection* state = instance.inspection()) s.out << " id " << state->instanceId();
        s.out << '\n';
        for (const Parameter& p : instance.parameters()) {
            char flags[16];
            std::snprintf(flags, sizeof flags, "0x%x", p.flags);
            s.out << "  " << p.id << " \"" << p.name << "\" " << (p.isString ? "string" : "custom") << " flags "
                  << flags << " value " << describeValue(p.value) << '\n';
            if (p.view) describeView(s.out, *p.view);
        }
    }
    return true;
}

bool state(Session& s, const std::vector<std::string>&) {
    EffectInstance* instance = s.current();
    if (!instance) return false;
    const FxQuillaneInspection* st = instance->inspection();
    if (!st) {
        s.fail() << "the effect does not show its state\n";
        return false;
    }
    const Lut& lut = st->currentLut();
    const std::size_t nodeBytes = lut.getData() ? static_cast<std::size_t>(lut.totalSize()) * 16 : 0;
    const std::vector<char>& preset = st->currentPreset();
    s.out << "id " << st->instanceId() << '\n'
          << "name " << quotedForPeople(st->currentName()) << '\n'
          << "loaded " << (lut.isLoaded() ? 1 : 0) << '\n'
          << "dimSize " << lut.getDimSize() << '\n'
          << "range " << hexFloatFromDouble(lut.getInputRange0()) << ' ' << hexFloatFromDouble(lut.getInputRange1())
          << '\n'
          << "nodes " << hex64(fnv1a(lut.getData(), nodeBytes)) << '\n'
          << "preset " << preset.size() << ' ' << hex64(fnv1a(preset.data(), preset.size())) << '\n'
          << "exchange " << (st->exchangeAvailable() ? "available" : "unavailable") << '\n';
    return true;
}

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path made = std::filesystem::absolute(path, ec);
    return ec ? path : made.lexically_normal().string();
}

// ".png" alone names no picture.
bool hasPngName(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    return name.size() > 4 && ends_with(name, ".png");
}

// Reads IN (its header judged before any pixel memory is taken), renders it
// in place and writes OUT only when the render succeeded.
bool renderFile(Session& s, EffectInstance& instance, const std::string& in, const std::string& out) {
    Renderer* renderer = s.renderContext();
    if (!renderer) return false;
    FrameLimits limits;
    limits.maxSide = static_cast<std::uint32_t>(renderer->maxTextureSize());
    Frame frame;
    std::string error;
    if (!readPngFrame(in, &frame, &error, limits)) {
        s.fail() << error << '\n';
        return false;
    }
    s.frame.setFile(absolutePath(in));  // the editor's playhead is on this frame now
    if (!renderer->renderInPlace(instance, frame, &error)) {
        s.fail() << in << ": " << error << "; " << out << " not written\n";
        return false;
    }
    if (!writePngFrame(out, frame, &error)) {
        s.fail() << error << '\n';
        return false;
    }
    return true;
}

// Standard error of the whole process while `run` runs, kept in a file and
// then passed on: the effect module writes there (its boxes too, when no
// display shows them). Standard error comes back however `run` ends.
template <class F>
std::string capturingStandardError(F&& run) {
    std::fflush(stderr);
    struct Capture {
        std::FILE* file = std::tmpfile();
        int saved = file ? ::dup(2) : -1;
        bool active = saved >= 0 && ::dup2(::fileno(file), 2) >= 0;
        ~Capture() {
            if (active) {
                std::fflush(stderr);
                ::dup2(saved, 2);
            }
            if (saved >= 0) ::close(saved);
            if (file) std::fclose(file);
        }
        std::string release() {
            std::fflush(stderr);
            ::dup2(saved, 2);
            active = false;
            std::string text;
            std::rewind(file);
            char chunk[4096];
            for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, got);
            return text;
        }
    } capture;
    run();
    if (!capture.active) return {};
    const std::string text = capture.release();
    writeAll(2, text.data(), text.size());
    return text;
}

bool press(Session& s, const std::vector<std::string>& a) {
    // Every line about a press names the button as the user gave it.
    s.command = "press " + a[0];
    FxParameterId id = 0;
    EffectInstance* instance = s.current();
    if (!instance) return false;
    if (!parseId(a[0], &id) || !instance->parameter(id) || !instance->parameter(id)->view) {
        s.fail() << "that parameter has no button to press\n";
        return false;
    }
    PressObservation seen;
    seen.button = id;
    const char* display = std::getenv("DISPLAY");
    seen.displayAvailable = display && *display;
    seen.dialogScripted = std::getenv(nfd::kAnswerVariable) != nullptr;
    instance->setFrameProvider(s.frame.provider());
    s.frame.resetRequests();
    const std::size_t callsBefore = instance->calls().size();
    bool pressed = false;
    seen.boxes = boxTitlesIn(capturingStandardError([&] { pressed = instance->pressButton(id); }));
    if (!pressed) {
        s.fail() << "the button of parameter " << a[0] << " cannot be pressed\n";
        return false;
    }
    const auto& calls = instance->calls();
    for (std::size_t i = callsBefore; i < calls.size(); ++i)
        if (calls[i].rfind("setCustomParameterValue", 0) == 0 || calls[i].rfind("setStringParameterValue", 0) == 0)
            seen.saved = true;
    seen.framesAsked = s.frame.requests().asked;
    seen.framesGiven = s.frame.requests().given;
    seen.frameProblem = s.frame.requests().problem;
    if (const FxQuillaneInspection* effect = instance->inspection()) seen.actionFailure = effect->actionFailure();
    const std::string failure = pressFailure(seen);
    if (failure.empty()) return true;
    // As in an editor, the user carries on after the box: the effect kept its
    // state, so the commands after the press (a save, a render) still run.
    s.fail() << failure << '\n';
    s.actionFailed = true;
    return true;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"new", 0, "new                add an instance of the effect and select it",
         [](Session& s, const std::vector<std::string>&) {
             std::string error;
             if (!s.host->newInstance(kAllServices, &error)) {
                 s.fail() << error << '\n';
                 return false;
             }
             s.selected = s.host->instances().size() - 1;
             return true;
         }},
        {"select", 1, "select INDEX       work on instance INDEX (0 is the first)",
         [](Session& s, const std::vector<std::string>& a) {
             FxParameterId index = 0;
             if (!parseId(a[0], &index) || index >= s.host->instances().size()) {
                 s.fail() << "no instance " << a[0] << '\n';
                 return false;
             }
             s.selected = index;
             return true;
         }},
        {"open", 1, "open PROJECT       open a project (replaces the instances)",
         [](Session& s, const std::vector<std::string>& a) {
             std::string error;
             // A project that cannot be read whole stops the line: a later
             // save must not write it back with less than it held.
             if (!s.host->openProject(a[0], &error)) {
                 s.fail() << error << '\n';
                 return false;
             }
             s.selected = 0;
             return true;
         }},
        {"save", 1, "save PROJECT       save every instance's parameters",
         [](Session& s, const std::vector<std::string>& a) {
             std::string error;
             if (s.host->saveProject(a[0], &error)) return true;
             s.fail() << error << '\n';
             return false;
         }},
        {"close", 0, "close              close every instance",
         [](Session& s, const std::vector<std::string>&) {
             s.host->closeAll();
             s.selected = 0;
             return true;
         }},
        {"list", 0, "list               parameters and row views of every instance", list},
        {"press", 1, "press ID           click the button of parameter ID (when its action fails, the\n"
                               "                     line goes on and the exit status is 1)",
         press},
        {"change", 1, "change ID          report a change of parameter ID to the effect",
         [](Session& s, const std::vector<std::string>& a) {
             FxParameterId id = 0;
             EffectInstance* instance = s.current();
             if (!instance) return false;
             if (!parseId(a[0], &id) || !instance->parameter(id)) {
                 s.fail() << "no parameter " << a[0] << '\n';
                 return false;
             }
             return instance->notifyParameterChanged(id);
         }},
        {"state", 0, "state              the LUT, name and preset the effect holds", state},
        {"choose-file", 1, "choose-file FILE   answer the file dialog with FILE and press Choose LUT File (4)",
         [](Session& s, const std::vector<std::string>& a) {
             EffectInstance* instance = s.current();
             std::string error;
             // A file dialog gives absolute paths; the effect steps through
             // the folder of the name it keeps.
             const std::string path = absolutePath(a[0]);
             if (instance && chooseLutFile(*instance, path, &error)) return true;
             if (instance) s.fail() << error << '\n';
             return false;
         }},
        {"frame", 1, "frame IN           make PNG frame IN (8- or 16-bit) the current frame",
         [](Session& s, const std::vector<std::string>& a) {
             Frame frame;
             std::string error;
             if (!readPngFrame(a[0], &frame, &error)) {
                 s.fail() << error << '\n';
                 return false;
             }
             s.frame.setFile(absolutePath(a[0]));
             return true;
         }},
        {"render", 2, "render IN OUT      render PNG frame IN (8- or 16-bit) through the effect into OUT",
         [](Session& s, const std::vector<std::string>& a) {
             // The file is PNG whatever its name says; a name that says
             // otherwise would mislead every program that opens it.
             if (!hasPngName(a[1])) {
                 s.fail() << a[1] << ": the output is written as PNG, so its name must end in \".png\"\n";
                 return false;
             }
             EffectInstance* instance = s.current();
             return instance && renderFile(s, *instance, a[0], a[1]);
         }},
    };
    return table;
}

void usage(std::ostream& out) {
    out << "usage: quillane-host [--effect MODULE] COMMAND [ARGS]... [COMMAND [ARGS]...]...\n"
        << "commands:\n";
    for (const Command& c : commands()) out << "  " << c.usage << '\n';
}

}  // namespace

std::vector<std::string> boxTitlesIn(const std::string& text) {
    std::vector<std::string> titles;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        for (const char* style : {"[critical] ", "[warning] ", "[information] "})
            if (line.rfind(style, 0) == 0) titles.push_back(line.substr(std::strlen(style)));
    return titles;
}

std::string pressFailure(const PressObservation& seen) {
    if (seen.framesAsked > seen.framesGiven)
        return "the action needs the current frame, but " +
               (seen.frameProblem.empty() ? std::string("the host gave none") : seen.frameProblem);
    const bool needsDisplay = seen.button == 3 || (seen.button == 4 && !seen.dialogScripted);
    if (needsDisplay && !seen.displayAvailable)
        return seen.button == 3 ? "the LUT Manager needs a display (DISPLAY is not set)"
                                : "the file dialog needs a display (DISPLAY is not set)";
    const bool choice = seen.button == 4 || seen.button == 5 || seen.button == 6;
    if (!seen.actionFailure.empty())
        return choice ? "no LUT was taken, the effect kept its LUT: " + seen.actionFailure : seen.actionFailure;
    // The last box is the one that ended the action.
    const std::string shown = seen.boxes.empty() ? "" : "\"" + seen.boxes.back() + "\"";
    if (seen.button == 2 && !seen.boxes.empty()) return "the desktop program was not started (box " + shown + ")";
    // The window could not be made (a display named but not reachable): the
    // LUT Manager's start says so in its box.
    const bool startFailed = std::find(seen.boxes.begin(), seen.boxes.end(), "Exception") != seen.boxes.end();
    if (seen.button == 3 && startFailed) return "the LUT Manager could not open (box \"Exception\")";
    // A frame it cannot show (one far taller than wide) opens no window.
    const bool frameRefused = std::find(seen.boxes.begin(), seen.boxes.end(), "LUT Manager") != seen.boxes.end();
    if (seen.button == 3 && frameRefused)
        return "the LUT Manager cannot show the current frame (box \"LUT Manager\")";
    // A LUT chosen in the LUT Manager that could not be taken says so in a box too.
    if ((choice || seen.button == 3) && !seen.saved && !seen.boxes.empty())
        return "no LUT was taken, the effect kept its LUT (box " + shown + ")";
    return {};
}

namespace {

int runLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string modulePath = QUILLANE_DEFAULT_EFFECT_MODULE;
    std::size_t i = 0;
    if (i < args.size() && (args[i] == "--help" || args[i] == "-h" || args[i] == "help")) {
        usage(out);
        return 0;
    }
    if (i + 1 < args.size() && args[i] == "--effect") {
        modulePath = args[i + 1];
        i += 2;
    }
    if (i >= args.size()) {
        usage(err);
        return 2;
    }
    // Check the whole line before running anything.
    std::vector<std::pair<const Command*, std::vector<std::string>>> plan;
    while (i < args.size()) {
        const Command* found = nullptr;
        for (const Command& c : commands())
            if (args[i] == c.name) found = &c;
        if (!found) {
            err << "quillane-host: unknown command " << args[i] << '\n';
            usage(err);
            return 2;
        }
        if (args.size() - i - 1 < static_cast<std::size_t>(found->argumentCount)) {
            err << "quillane-host: " << found->name << " needs " << found->argumentCount << " argument(s)\n";
            return 2;
        }
        std::vector<std::string> arguments(args.begin() + i + 1, args.begin() + i + 1 + found->argumentCount);
        plan.emplace_back(found, std::move(arguments));
        i += 1 + found->argumentCount;
    }
    std::string error;
    Session session{Host::load(modulePath, &error), 0, out, err, {}, nullptr, false, {}};
    if (!session.host) {
        err << "quillane-host: " << error << '\n';
        return 1;
    }
    for (const auto& [command, arguments] : plan) {
        session.command = command->name;
        // Whatever a command runs into (a library's exception included) ends
        // the line with one message, never the process.
        try {
            if (!command->run(session, arguments)) return 1;
        } catch (const std::exception& e) {
            session.fail();
            for (const std::string& a : arguments) err << a << ": ";
            err << e.what() << '\n';
            return 1;
        } catch (...) {
            session.fail() << "failed\n";
            return 1;
        }
    }
    return session.actionFailed ? 1 : 0;
}

// Every line the host writes is read by a person on a terminal. Names and
// paths in it come from outside (files, projects, the online library), so
// its control characters are written escaped, line by line, whichever
// command wrote it.
class EscapedLines : public std::streambuf {
public:
    explicit EscapedLines(std::ostream& to) : to_(to) {}
    ~EscapedLines() override { sync(); }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        line_.push_back(traits_type::to_char_type(c));
        if (line_.back() == '\n') sync();
        return c;
    }
    int sync() override {
        if (!line_.empty()) to_ << escapeControls(line_, true);
        line_.clear();
        to_.flush();
        return 0;
    }

private:
    std::ostream& to_;
    std::string line_;
};

}  // namespace

int runHostCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    EscapedLines outLines(out), errLines(err);
    std::ostream escapedOut(&outLines), escapedErr(&errLines);
    return runLine(args, escapedOut, escapedErr);
}

}  // namespace host
