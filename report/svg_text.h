// Writing SVG text: formatted pieces appended to the document (text_add),
// and text escaped for XML.
#pragma once

#include "report/text_add.h"

#include <string>
#include <vector>

std::string svg_escaped(const std::string& text);
// Text broken into lines of at most `width` characters at spaces (a word
// longer than that stands alone on its line).
std::vector<std::string> svg_wrapped(const std::string& text, size_t width);
