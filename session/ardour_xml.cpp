#include "session/ardour_xml.h"

#include "session/session.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {
std::string where(pugi::xml_node node, const char* attribute) {
    return std::string("the ") + attribute + " of a " + node.name() + " element";
}

// The attribute's whole text made a number of type T, or false.
template <typename T> bool whole(pugi::xml_node node, const char* attribute, T* value) {
    const char* text = node.attribute(attribute).value();
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, *value);
    return error == std::errc() && stop == end;
}
} // namespace

bool within_depth(const pugi::xml_document& document) {
    pugi::xml_node node = document.first_child();
    int depth = 1;
    while (node) {
        if (depth > MAX_SESSION_DEPTH) {
            return false;
        }
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        node = node.next_sibling();
    }
    return true;
}

bool utf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        size_t tail = 0;
        unsigned char low = 0x80; // the range of the byte after the lead
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            ++at;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            tail = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            tail = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            tail = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (at + tail >= text.size()) {
            return false;
        }
        for (size_t next = 1; next <= tail; ++next) {
            const auto byte = static_cast<unsigned char>(text[at + next]);
            if (byte < (next == 1 ? low : 0x80) || byte > (next == 1 ? high : 0xBF)) {
                return false;
            }
        }
        at += tail + 1;
    }
    return true;
}

bool xml_text(pugi::xml_node node, const char* attribute, std::string* text, std::string* problem) {
    *text = node.attribute(attribute).value();
    if (text->size() > MAX_SESSION_TEXT) {
        *problem = where(node, attribute) + " is longer than " + std::to_string(MAX_SESSION_TEXT) +
                   " bytes";
        return false;
    }
    if (!utf8(*text)) {
        *problem = where(node, attribute) + " is not UTF-8 text";
        return false;
    }
    return true;
}

bool xml_count(pugi::xml_node node, const char* attribute, int64_t* count, std::string* problem) {
    if (!whole(node, attribute, count) || *count < 0) {
        *problem = where(node, attribute) + " is not a whole number of 0 or more";
        return false;
    }
    return true;
}

bool xml_number(pugi::xml_node node, const char* attribute, double* number, std::string* problem) {
    if (!whole(node, attribute, number) || !std::isfinite(*number)) {
        *problem = where(node, attribute) + " is not a finite number";
        return false;
    }
    return true;
}
