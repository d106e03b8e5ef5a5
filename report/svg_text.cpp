#include "report/svg_text.h"

#include <cstdarg>
#include <cstdio>

void svg_add(std::string* svg, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char text[640];
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length >= 0 && static_cast<size_t>(length) >= sizeof text) {
        std::string longer(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(longer.data(), longer.size(), format, again);
        longer.resize(static_cast<size_t>(length));
        *svg += longer;
    } else if (length > 0) {
        *svg += text;
    }
    va_end(again);
}

std::string svg_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}
