// Text a user gave, as an error message echoes it: long enough to tell
// which, short enough for one line.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t ECHO_CHARS = 80;

// At most `most` characters of `text`, then "..." when it was longer; never
// cut inside a UTF-8 character.
std::string echoed(const std::string& text, size_t most = ECHO_CHARS);
