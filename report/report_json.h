// A saved report's JSON, taken in safely whatever the file holds: only a
// regular file of at most MAX_REPORT_BYTES is read, and no more than that
// is ever read from it; its text is parsed only when its nesting and its
// count of values are within bounds, and no exception escapes the parser;
// every field is read through field(), which checks its kind and its range.
// A problem is one printable line.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using ReportJson = nlohmann::ordered_json;

// A report of the default plan is under 100 KB: forty times that leaves room
// for long plans and many runs, and keeps the parsed tree (some ten times
// the text) well under 100 MB.
constexpr uint64_t MAX_REPORT_BYTES = uint64_t{4} << 20;
// Our reports nest seven levels deep; a document far deeper is not one.
constexpr int MAX_REPORT_DEPTH = 32;
// A real-time report holds a value every 34 bytes or so, some 125,000 in
// 4 MB: twice that bounds the parsed tree to some 20 MB whatever the text
// (a string or an object costs 60 to 80 bytes parsed, "" or {} three in the
// text).
constexpr size_t MAX_REPORT_ITEMS = size_t{1} << 18;
// Our objects have a few dozen members at most. The parser looks up each
// member among those before it, so an object's cost grows with the square
// of its members: this keeps the worst file to a fraction of a second.
constexpr size_t MAX_OBJECT_MEMBERS = 256;
// The longest string our reports hold, a readiness value, is a few hundred
// bytes; a key or a string beyond this is not ours.
constexpr size_t MAX_REPORT_TEXT = 4096;

// The whole file. False, with `problem` set, when it is not a regular file
// (a folder, a device, a pipe), is larger than MAX_REPORT_BYTES, or cannot
// be read.
bool read_report_file(const std::string& path, std::string* text, std::string* problem);

// One JSON document (a real-time report, pretty-printed or not), or one per
// line (the throughput run, a line per run of --repeat), each with its line
// number (0 for a whole-file document). False, with `problem` set, when the
// text is empty, is not JSON, nests deeper than MAX_REPORT_DEPTH or holds
// more than MAX_REPORT_ITEMS values.
bool parse_report_documents(const std::string& text,
                            std::vector<std::pair<size_t, ReportJson>>* documents,
                            std::string* problem);

enum FieldKind {
    FIELD_TEXT,    // a string of at most MAX_REPORT_TEXT bytes
    FIELD_COUNT,   // a whole number from 0 to INT64_MAX
    FIELD_NUMBER,  // a finite number, 0 or more (times, rates, fractions)
    FIELD_BOOLEAN, // true or false
    FIELD_OBJECT,
    FIELD_ARRAY,
};
enum FieldPresence { FIELD_REQUIRED, FIELD_NULLABLE, FIELD_OPTIONAL };

struct FieldReader {
    std::string problem; // the first problem met, naming the field; empty while none
};

// object[key] when it is of the kind asked and in its range, else null:
// absent or null where allowed, or a problem noted. A null parent (an
// optional object that was absent) has no fields; after a problem every
// field reads null. `where` names the parent ("runs[0].tests").
const ReportJson& field(FieldReader* reader, const ReportJson& object, const std::string& where,
                        const std::string& key, FieldKind kind, FieldPresence presence);
// array[index], which must be of the kind asked; the same checks.
const ReportJson& element(FieldReader* reader, const ReportJson& array, size_t index,
                          const std::string& where, FieldKind kind);

// A value field() accepted (null reads 0 or "").
int64_t count_of(const ReportJson& value);
double number_of(const ReportJson& value);
std::string text_of(const ReportJson& value);

// `text` made one printable line: control characters and bytes that are not
// UTF-8 become '?', and it is cut after some 200 bytes.
std::string one_line(const std::string& text);
