// A printer's output as a string, and how often a piece occurs in it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

template <typename Print> std::string printed_by(Print print) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    print(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

inline size_t occurrences(const std::string& text, const std::string& piece) {
    size_t found = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++found;
    }
    return found;
}
