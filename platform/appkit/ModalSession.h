#pragma once
// Stand-in for the application object's modal sessions. On Linux a session is
// a loop on the caller's thread: each turn handles the window system's pending
// events (of every GLFW window, so the session's window needs no registration)
// and the caller decides after every turn whether to go on.
namespace appkit {

// One turn: handle the pending events without waiting for new ones.
void runModalSessionTurn();

// Asking the application to leave its modal run: nothing runs one here, so
// this has nothing to stop.
void abortModal();

}  // namespace appkit
