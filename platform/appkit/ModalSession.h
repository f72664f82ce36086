#pragma once
// Stand-in for the application object's modal sessions. On Linux a session is
// a loop on the caller's thread: each turn handles the window system's pending
// events; the caller decides after every turn whether to go on.
struct GLFWwindow;

namespace appkit {

class ModalSession {
public:
    // window may be null (the application's main window): the events of every
    // GLFW window are handled either way.
    explicit ModalSession(GLFWwindow* window) : window_(window) {}
    ModalSession(const ModalSession&) = delete;
    ModalSession& operator=(const ModalSession&) = delete;

    // One turn: handle the pending events without waiting for new ones.
    void runTurn();
    GLFWwindow* window() const { return window_; }

private:
    GLFWwindow* window_;
};

// Asking the application to leave its modal run: nothing runs one here, so
// this has nothing to stop.
void abortModal();

}  // namespace appkit
