// SVG text: formatted pieces appended, and text escaped for XML.
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

std::vector<std::string> svg_wrapped(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::string line;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        end = end == std::string::npos ? text.size() : end;
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}
