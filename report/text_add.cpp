#include "report/text_add.h"

#include <cstdarg>
#include <cstdio>

void text_add(std::string* text_out, const char* format, ...) {
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
        *text_out += longer;
    } else if (length > 0) {
        *text_out += text;
    }
    va_end(again);
}
