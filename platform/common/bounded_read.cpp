#include "platform/common/bounded_read.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

BoundedRead read_bounded(const std::string& path, uint64_t limit, std::string* text,
                         int* error_number) {
    *error_number = 0;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error_number = errno;
        return READ_NOT_OPENED;
    }
    text->clear();
    char chunk[65536];
    for (;;) {
        const uint64_t left = limit + 1 - text->size();
        const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, left));
        const size_t got = want > 0 ? std::fread(chunk, 1, want, file) : 0;
        if (got == 0) {
            break;
        }
        text->append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    *error_number = failed ? errno : 0;
    std::fclose(file);
    if (failed) {
        return READ_FAILED;
    }
    return text->size() > limit ? READ_TOO_LARGE : READ_WHOLE;
}
