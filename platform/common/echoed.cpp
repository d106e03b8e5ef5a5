#include "platform/common/echoed.h"

std::string echoed(const std::string& text, size_t most) {
    size_t characters = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        // A character starts at every byte that does not continue one.
        const bool starts = (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
        if (starts && characters++ == most) {
            return text.substr(0, at) + "...";
        }
    }
    return text;
}
