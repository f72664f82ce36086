#pragma once
// Text from outside (names a service lists, file names) in a line that a person reads, on a
// terminal or in a window: a control character in it must neither move the cursor nor start
// a terminal escape, and it must still be seen. Used for every such line; the text itself
// (a LUT's name in a project) stays as it came.
#include <string>
#include <string_view>

// text with each control character (C0, DEL and C1) written as its JSON escape ("\n", "\t",
// "\u001b", ...), and each byte that is no part of UTF-8 as U+FFFD. With keepLineEnds a "\n"
// stays a line end (a box's text has lines of its own).
std::string escapeControls(std::string_view text, bool keepLineEnds = false);

// text as a JSON string: in double quotes, with '"' and '\' escaped as well.
std::string quotedForPeople(std::string_view text);
