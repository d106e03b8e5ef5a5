// What every reader's problem must be: one line of printable text.
#pragma once

#include <string>

inline bool printable_line(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return !text.empty();
}
