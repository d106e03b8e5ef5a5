// The saved reports under tests/fixtures/reports, by name and whole.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

inline std::string fixture(const char* name) {
    return std::string(ZEM_REPORT_FIXTURES) + "/" + name;
}

inline std::string contents(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
