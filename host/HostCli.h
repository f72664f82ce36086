#pragma once
// The host's command line: a chain of commands run in order on one host.
//
//   quillane-host [--effect MODULE] COMMAND [ARGS]... [COMMAND [ARGS]...]...
//
// Commands that work on an instance use the selected one (the first by
// default) and create one when there is none.
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/fxplug/FxPlug.h"

namespace host {

// Runs the command line; the exit status (0 when every command succeeded).
int runHostCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// What the host saw of one button press.
struct PressObservation {
    FxParameterId button = 0;
    int framesAsked = 0;     // requests for the current frame
    int framesGiven = 0;     // of which the host answered
    std::string frameProblem;
    bool saved = false;      // the effect wrote its parameters
    bool displayAvailable = false;
    bool dialogScripted = false;  // the file dialog's answer comes from the environment
    std::vector<std::string> boxes;  // titles of the boxes shown (seen when boxes go to standard error)
    std::string actionFailure;       // the effect's own word on why its action did not do its work
};

// Why the press failed, or empty when it did what it was for. Decided by what
// the action did, never by a box's style:
//  - an action that asked for the current frame and got none could not run;
//  - the LUT Manager (3) and the file dialog (4, unless its answer is
//    scripted) cannot run without a display;
//  - an action the effect itself says did not do its work failed, for the
//    effect's reason (whether or not a box was seen: with a display, boxes
//    are windows the host cannot read); for an effect that says nothing:
//  - the LUT Manager (3) failed when its start showed the "Exception" box
//    (no window could be made, though a display was named) or its
//    "LUT Manager" box (it cannot show the current frame);
//  - the desktop exchange (2) failed when it showed a box (its only boxes say
//    that the program cannot be started);
//  - a LUT choice (3, 4, 5, 6) failed when it kept the LUT (saved nothing)
//    and showed a box saying why (the LUT Manager saves nothing only when
//    the LUT chosen in it could not be taken); a quiet no-op (a cancelled
//    dialog, no other LUT to step to) is no failure;
//  - boxes of every other action (About, the LUT Manager's notices) inform.
std::string pressFailure(const PressObservation& seen);

// Lines of the box stand-in's standard-error form ("[style] title") in text.
std::vector<std::string> boxTitlesIn(const std::string& text);

}  // namespace host
