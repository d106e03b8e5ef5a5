// The parts of Ardour's XML read strictly, whatever the file holds: its
// nesting, and attributes as bounded UTF-8 text, whole numbers and finite
// numbers. A problem is one line naming the element and the attribute.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <string>

// False when elements nest deeper than MAX_SESSION_DEPTH; walks the tree
// without recursion.
bool within_depth(const pugi::xml_document& document);

// Strict UTF-8, as the JSON writer demands: no overlong form, no surrogate,
// nothing past U+10FFFF.
bool utf8(const std::string& text);

// The attribute's text ("" when absent), of at most MAX_SESSION_TEXT bytes
// of UTF-8.
bool xml_text(pugi::xml_node node, const char* attribute, std::string* text, std::string* problem);
// A whole number of 0 or more, all of the attribute.
bool xml_count(pugi::xml_node node, const char* attribute, int64_t* count, std::string* problem);
// A finite number, all of the attribute.
bool xml_number(pugi::xml_node node, const char* attribute, double* number, std::string* problem);
