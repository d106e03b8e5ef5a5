// Writing SVG text: formatted pieces appended to the document, and text
// escaped for XML.
#pragma once

#include <string>
#include <vector>

// gnu_printf: MinGW's printf checks would refuse %zu, which its C++ stdio takes.
__attribute__((format(gnu_printf, 2, 3))) void svg_add(std::string* svg, const char* format, ...);
std::string svg_escaped(const std::string& text);
// Text broken into lines of at most `width` characters at spaces (a word
// longer than that stands alone on its line).
std::vector<std::string> svg_wrapped(const std::string& text, size_t width);
