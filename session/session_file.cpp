#include "session/session_file.h"

#include "session/ardour_session.h"
#include "session/session_json.h"

#include "platform/common/bounded_read.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {
bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
} // namespace

bool read_session_file(const std::string& path, std::string* text, std::string* problem) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) {
        *problem = "the file cannot be read (" + error.message() + ")";
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        *problem = "the path is not a regular file: a folder, a device or a pipe is not a session";
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && !within_size(size, problem)) {
        return false;
    }
    int error_number = 0;
    switch (read_bounded(path, MAX_SESSION_BYTES, text, &error_number)) {
    case READ_WHOLE:
    case READ_TOO_LARGE:
        return within_size(text->size(), problem);
    case READ_NOT_OPENED:
        *problem = std::string("the file cannot be read (") + std::strerror(error_number) + ")";
        return false;
    case READ_FAILED:
        break;
    }
    *problem = "the file cannot be read (a read error)";
    return false;
}

bool read_session_path(const std::string& path, Session* session, std::string* problem) {
    std::string text;
    if (!read_session_file(path, &text, problem)) {
        return false;
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (ends_with(path, ".ardour")) {
        return read_ardour_session(text, folder.string(), session, problem);
    }
    if (!read_session_json(text, session, problem)) {
        return false;
    }
    // A saved state's folder given relative is relative to the file, as in
    // an Ardour session, wherever the program is run from.
    for (SessionRoute& route : session->routes) {
        for (SessionPlugin& plugin : route.plugins) {
            if (!plugin.state_path.empty() &&
                std::filesystem::path(plugin.state_path).is_relative()) {
                plugin.state_path = (folder / plugin.state_path).string();
            }
        }
    }
    return true;
}
