#pragma once
#include <string>

// Opens a web address with the desktop's default handler. When no program to
// open addresses is installed, or it cannot be started, a box says so.
void openURL(const std::string& url);
