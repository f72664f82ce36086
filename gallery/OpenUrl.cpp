// Placeholder: the online side of the LUT Manager brings the real handler.
#include "gallery/OpenUrl.h"

void openURL(const std::string&) {}
