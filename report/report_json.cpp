// A saved report's JSON taken in safely: the file, the bounds on what is
// parsed and the one check of every field.
#include "report/report_json.h"

#include "platform/common/bounded_read.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {
// A problem names a field and says what is wrong in far less; the rest of
// a long key or parser message is cut.
constexpr size_t MAX_PROBLEM_BYTES = 240;

const ReportJson NOTHING;

std::string too_large(const std::string& size) {
    return "is larger than the " + std::to_string(MAX_REPORT_BYTES >> 20) + " MB a report can be" +
           size;
}

bool blank(const char* begin, const char* end) {
    for (const char* at = begin; at < end; ++at) {
        if (*at != ' ' && *at != '\t' && *at != '\r' && *at != '\n') {
            return false;
        }
    }
    return true;
}

// nlohmann's message without its "[json.exception...] " prefix.
std::string parse_message(const ReportJson::exception& error) {
    std::string text = error.what();
    size_t end = text.find("] ");
    return end == std::string::npos ? text : text.substr(end + 2);
}

// One document, or why not. The parser's exceptions, every one of them (a
// number out of range is one), stop here.
bool parse_one(const char* begin, const char* end, ReportJson* doc, std::string* problem) {
    try {
        *doc = ReportJson::parse(begin, end);
    } catch (const ReportJson::exception& error) {
        *problem = parse_message(error);
        return false;
    }
    return true;
}

std::string items_problem() {
    return "holds more than " + std::to_string(MAX_REPORT_ITEMS) +
           " values, more than any report does";
}

// Bounds the tree before it is built, in one pass over the text: the
// nesting, the members of each object, and the values and members in all
// (each opening bracket and each comma outside strings; a string never
// spans lines), counted into `items`. False, with `problem` set, beyond
// MAX_REPORT_DEPTH, MAX_OBJECT_MEMBERS or MAX_REPORT_ITEMS.
bool within_bounds(const char* begin, const char* end, size_t* items, std::string* problem) {
    int depth = 0;
    bool object[MAX_REPORT_DEPTH + 1] = {};    // the container open at each depth is an object
    size_t members[MAX_REPORT_DEPTH + 1] = {}; // its members so far
    bool in_string = false;
    for (const char* at = begin; at < end; ++at) {
        const char c = *at;
        if (in_string && c == '\\' && at + 1 < end && at[1] != '\n') {
            ++at; // an escaped character
        } else if (in_string) {
            in_string = c != '"' && c != '\n';
        } else if ((c == '[' || c == '{') && depth == MAX_REPORT_DEPTH) {
            *problem = "nests deeper than " + std::to_string(MAX_REPORT_DEPTH) +
                       " levels, as no report does";
            return false;
        } else if (c == '[' || c == '{') {
            ++depth;
            ++*items;
            object[depth] = c == '{';
            members[depth] = 1;
        } else if (c == ']' || c == '}') {
            depth = depth > 0 ? depth - 1 : 0;
        } else if (c == ',') {
            ++*items;
            if (object[depth] && ++members[depth] > MAX_OBJECT_MEMBERS) {
                *problem = "has an object of more than " + std::to_string(MAX_OBJECT_MEMBERS) +
                           " members, as no report does";
                return false;
            }
        } else {
            in_string = c == '"';
        }
        if (*items > MAX_REPORT_ITEMS) {
            *problem = items_problem();
            return false;
        }
    }
    return true;
}

bool fault(FieldReader* reader, const std::string& problem) {
    reader->problem = problem;
    return false;
}

// The one check of every value read: its kind and its range.
bool acceptable(FieldReader* reader, const ReportJson& value, const std::string& name,
                FieldKind kind) {
    switch (kind) {
    case FIELD_TEXT:
        if (!value.is_string()) {
            return fault(reader, name + " is not a string");
        }
        return value.get_ref<const std::string&>().size() <= MAX_REPORT_TEXT ||
               fault(reader,
                     name + " is longer than " + std::to_string(MAX_REPORT_TEXT) + " bytes");
    case FIELD_COUNT:
        if (value.is_number_unsigned()) {
            return value.get<uint64_t>() <= uint64_t{INT64_MAX} ||
                   fault(reader, name + " is too large (" + value.dump() + ")");
        }
        if (value.is_number_integer()) {
            return value.get<int64_t>() >= 0 ||
                   fault(reader, name + " is negative (" + value.dump() + ")");
        }
        return fault(reader, name + " is not an integer");
    case FIELD_NUMBER:
        if (!value.is_number()) {
            return fault(reader, name + " is not a number");
        }
        if (!std::isfinite(value.get<double>())) {
            return fault(reader, name + " is not a finite number");
        }
        return value.get<double>() >= 0.0 ||
               fault(reader, name + " is negative (" + value.dump() + ")");
    case FIELD_BOOLEAN:
        return value.is_boolean() || fault(reader, name + " is not true or false");
    case FIELD_OBJECT:
        return value.is_object() || fault(reader, name + " is not an object");
    case FIELD_ARRAY:
        return value.is_array() || fault(reader, name + " is not an array");
    }
    return fault(reader, name + " is of no kind a report has");
}
} // namespace

bool read_report_file(const std::string& path, std::string* text, std::string* problem) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) {
        *problem = "cannot be read (" + error.message() + ")";
        return false;
    }
    if (std::filesystem::is_directory(status)) {
        *problem = "is a folder, not a report";
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        *problem = "is not a regular file (a device, a pipe or a socket), not a report";
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > MAX_REPORT_BYTES) {
        *problem = too_large(" (" + std::to_string(size) + " bytes)");
        return false;
    }
    // One byte past the limit at most, whatever the size said: the file may
    // have grown since.
    int error_number = 0;
    switch (read_bounded(path, MAX_REPORT_BYTES, text, &error_number)) {
    case READ_WHOLE:
        return true;
    case READ_TOO_LARGE:
        *problem = too_large("");
        return false;
    case READ_NOT_OPENED:
    case READ_FAILED:
        break;
    }
    *problem = std::string("cannot be read (") +
               (error_number != 0 ? std::strerror(error_number) : "read error") + ")";
    return false;
}

bool parse_report_documents(const std::string& text,
                            std::vector<std::pair<size_t, ReportJson>>* documents,
                            std::string* problem) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (blank(begin, end)) {
        *problem = "is empty";
        return false;
    }
    size_t items = 0;
    if (!within_bounds(begin, end, &items, problem)) {
        return false;
    }
    std::string why;
    documents->emplace_back(0, ReportJson());
    if (parse_one(begin, end, &documents->back().second, &why)) {
        return true;
    }
    documents->clear();
    const std::string whole_problem = "not a complete JSON document (" + why + ")";
    size_t number = 0;
    for (const char* line = begin; line < end;) {
        const char* line_end = std::find(line, end, '\n');
        const char* next = line_end + (line_end < end ? 1 : 0);
        ++number;
        if (blank(line, line_end)) {
            line = next;
            continue;
        }
        if (++items > MAX_REPORT_ITEMS) { // a document a line, each an item
            *problem = items_problem();
            documents->clear();
            return false;
        }
        documents->emplace_back(number, ReportJson());
        if (!parse_one(line, line_end, &documents->back().second, &why)) {
            // A document that does not even open on a line of its own is one
            // broken document, not broken lines.
            *problem = documents->size() == 1 ? whole_problem
                                              : "line " + std::to_string(number) +
                                                    " is not a complete JSON object (" + why + ")";
            documents->clear();
            return false;
        }
        line = next;
    }
    return true;
}

const ReportJson& field(FieldReader* reader, const ReportJson& object, const std::string& where,
                        const std::string& key, FieldKind kind, FieldPresence presence) {
    if (!reader->problem.empty() || !object.is_object()) {
        return NOTHING;
    }
    if (key.size() > MAX_REPORT_TEXT) {
        fault(reader,
              where + " has a key longer than " + std::to_string(MAX_REPORT_TEXT) + " bytes");
        return NOTHING;
    }
    const std::string name = where.empty() ? key : where + "." + key;
    auto found = object.find(key);
    if (found == object.end()) {
        if (presence != FIELD_OPTIONAL) {
            fault(reader, name + " is missing");
        }
        return NOTHING;
    }
    if (found->is_null() && presence != FIELD_REQUIRED) {
        return NOTHING;
    }
    return acceptable(reader, *found, name, kind) ? *found : NOTHING;
}

const ReportJson& element(FieldReader* reader, const ReportJson& array, size_t index,
                          const std::string& where, FieldKind kind) {
    if (!reader->problem.empty() || !array.is_array() || index >= array.size()) {
        return NOTHING;
    }
    const std::string name = where + "[" + std::to_string(index) + "]";
    return acceptable(reader, array[index], name, kind) ? array[index] : NOTHING;
}

int64_t count_of(const ReportJson& value) {
    return value.is_number_integer() ? value.get<int64_t>() : 0;
}

double number_of(const ReportJson& value) {
    return value.is_number() ? value.get<double>() : 0.0;
}

std::string text_of(const ReportJson& value) {
    return value.is_string() ? value.get<std::string>() : value.is_null() ? "" : value.dump();
}

std::string one_line(const std::string& text) {
    std::string line;
    for (size_t at = 0; at < text.size();) {
        if (line.size() >= MAX_PROBLEM_BYTES) {
            line += "...";
            break;
        }
        const auto byte = static_cast<unsigned char>(text[at]);
        const size_t length = byte < 0x80                    ? 1
                              : byte >= 0xC2 && byte <= 0xDF ? 2
                              : byte >= 0xE0 && byte <= 0xEF ? 3
                              : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                             : 0;
        bool whole = length > 0 && at + length <= text.size();
        for (size_t k = 1; whole && k < length; ++k) {
            whole = (static_cast<unsigned char>(text[at + k]) & 0xC0) == 0x80;
        }
        if (!whole || byte < 0x20 || byte == 0x7F) {
            line += '?';
            ++at;
            continue;
        }
        line.append(text, at, length);
        at += length;
    }
    return line;
}
