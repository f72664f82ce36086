#pragma once
// Hands a web address to the system's default handler (the browser).
#include <string>

void openURL(const std::string& url);
