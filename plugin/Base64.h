#pragma once
// Base64 of the effect's hidden preset parameter: standard RFC 4648 text with
// the '+' '/' alphabet and '=' filling, and a lenient decoder that stops at
// the first '=' or character outside the alphabet and keeps what it read.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

std::string base64Encode(const unsigned char* bytes, std::size_t length);
std::string base64Encode(const std::vector<char>& bytes);
std::vector<char> base64Decode(std::string_view text);
