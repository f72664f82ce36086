#include "platform/appkit/ModalSession.h"

#include <GLFW/glfw3.h>

namespace appkit {

void runModalSessionTurn() {
    // Without an initialised GLFW this only records a GLFW error; nothing to handle then.
    glfwPollEvents();
}

void abortModal() {}

}  // namespace appkit
