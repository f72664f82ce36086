#pragma once
// Stand-in for the system service that opens a URL with the user's default
// handler. On Linux the desktop's URL opener does this: "xdg-open", run with
// the address as its only argument (no shell), in a process of its own that
// is reaped at once, so the caller neither waits for the browser nor leaves a
// zombie behind.
//
// Tests replace the opener in two ways: a hook (setURLOpener) for code linked
// into the test itself, and the environment variable QUILLANE_URL_OPENER,
// naming the program to run in place of xdg-open, for the copy of this code
// inside the loaded effect module.
#include <functional>
#include <string>

namespace launchservices {

// Results, as the system service numbers them.
constexpr int kNoErr = 0;
constexpr int kLSApplicationNotFoundErr = -10814;  // no opener installed
constexpr int kLSLaunchFailedErr = -10810;         // it could not be started
constexpr int kParamErr = -50;                     // not something to hand to an opener

constexpr const char* kDefaultURLOpener = "xdg-open";
constexpr const char* kURLOpenerVariable = "QUILLANE_URL_OPENER";

// The program that opens addresses: QUILLANE_URL_OPENER when set and not
// empty, else xdg-open (looked up in PATH).
std::string urlOpenerProgram();

// Opens url with the default handler; returns one of the codes above. An
// empty url or one that begins with "-" (it would read as an option) is
// refused with kParamErr.
int LSOpenURL(const std::string& url);

// Replaces what LSOpenURL does for the whole process (an empty function puts
// the real opener back); returns the hook that was in place.
using URLOpener = std::function<int(const std::string&)>;
URLOpener setURLOpener(URLOpener opener);

}  // namespace launchservices
