// Reading the readiness facts' small files under a root folder (this
// system's, or a test's fixture tree), each into a fact that is read,
// missing or unknown with why.
#include "platform/posix/readiness_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr size_t MAX_FILE = 1 << 20;
} // namespace

std::string trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\n");
    size_t last = text.find_last_not_of(" \t\n");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

int read_all(const std::string& path, std::string* text) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return errno;
    }
    text->clear();
    char buffer[4096];
    size_t got = 0;
    int error = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text->size() < MAX_FILE) {
        text->append(buffer, got);
    }
    if (std::ferror(file) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    std::fclose(file);
    return error;
}

// A file's text, trimmed; missing, or unknown with why.
Fact Reader::text(const std::string& relative) const {
    Fact fact;
    std::string content;
    int error = read_all(path(relative), &content);
    if (error == ENOENT || error == ENOTDIR) {
        fact.state = FACT_MISSING;
        fact.text = "no /" + relative;
    } else if (error != 0) {
        fact.text = "/" + relative + ": " + std::strerror(error);
    } else if (trim(content).empty()) {
        fact.text = "/" + relative + " is empty";
    } else {
        fact.state = FACT_READ;
        fact.text = trim(content);
    }
    return fact;
}

Fact Reader::number(const std::string& relative) const {
    Fact fact = text(relative);
    if (fact.state != FACT_READ) {
        return fact;
    }
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(fact.text.c_str(), &end, 10);
    if (errno != 0 || end == fact.text.c_str() || *end != '\0') {
        fact.state = FACT_UNKNOWN;
        fact.text = "/" + relative + " is not a number: \"" + fact.text.substr(0, 40) + "\"";
    } else {
        fact.number = value;
    }
    return fact;
}
