#include "cli/output.h"

#include "platform/common/echoed.h"

#include <cerrno>
#include <cstring>

namespace {
void complain(const char* what, int error) {
    std::fprintf(stderr, "test_zem_cli: could not write %s: %s\n", echoed(what).c_str(),
                 error != 0 ? std::strerror(error) : "write error");
}
} // namespace

bool output_open(OutputFile* output, const std::string& path) {
    output->path = path;
    output->file = nullptr;
    if (path.empty()) {
        return true;
    }
    output->file = std::fopen(path.c_str(), "wb");
    if (output->file == nullptr) {
        complain(path.c_str(), errno);
        return false;
    }
    return true;
}

bool output_finish(OutputFile* output, const std::string& text) {
    if (output->file == nullptr) {
        return true;
    }
    errno = 0;
    bool written = std::fwrite(text.data(), 1, text.size(), output->file) == text.size();
    int error = errno;
    bool closed = std::fclose(output->file) == 0;
    error = error != 0 ? error : errno;
    output->file = nullptr;
    if (!written || !closed) {
        complain(output->path.c_str(), error);
        return false;
    }
    return true;
}

void output_abandon(OutputFile* output) {
    if (output->file != nullptr) {
        std::fclose(output->file);
        std::remove(output->path.c_str());
        output->file = nullptr;
    }
}

bool stdout_finish() {
    errno = 0;
    bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (!flushed) {
        complain("the standard output", errno);
    }
    return flushed;
}
