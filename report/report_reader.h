// Saved reports read back: the JSON of throughput runs, of the real-time
// mode (schema versions 1 to 4, in any mix) and of sessions into plain
// records, every field checked (report/report_json.h), for `compare`.
#pragma once

#include "report/session_record.h"

#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr int64_t NEWEST_SCHEMA_VERSION = 4;

// A plan setting or a set-up step as text ("plan.rate" → "48000",
// "setup.pinning" → "done"), compared as text.
struct ReportSetting {
    std::string name;
    std::string text;
};

struct ReadinessEntry {
    std::string name;
    std::string state; // "ok", "warn", "unknown"
    std::string value;
};

// The figures of a throughput report, in the order they are compared.
struct ThroughputName {
    uint32_t test;      // 0 ZEM-1, 1 ZEM-2, 2 ZEM-M
    const char* figure; // its key in the report
    const char* label;  // its words in the comparison
};
constexpr size_t THROUGHPUT_FIGURES = 7;
extern const ThroughputName THROUGHPUT_NAMES[THROUGHPUT_FIGURES];

// One throughput figure: the median over the file's runs that stored it.
struct ThroughputFigure {
    uint32_t test;      // 0 ZEM-1, 1 ZEM-2, 2 ZEM-M
    const char* figure; // "cycles_44100", ..., "mfloats_per_s"
    bool known;         // false: null in every run
    int64_t value;      // 0 or more
};

struct RtCellKey {
    int64_t buffer;
    std::string load; // "ZEM-1", or a chain of plugins by its plugins' names
    int64_t cores;
    auto operator<=>(const RtCellKey&) const = default;
};

struct RtCell {
    bool known; // streams held; false unless the state is "done"
    int64_t streams;
    std::string state;
    bool dropouts_known; // false in version-1 reports
    double dropouts_per_minute;
};

struct ReportRecord {
    std::string path;
    int64_t schema_version;
    bool realtime;    // else a throughput run or a session
    bool session;     // a session's report: its figures in session_report
    uint32_t runs;    // throughput: the lines the figures are the median of
    std::string name; // machine.host, else a short form of the processor
    std::string date;
    std::string processor;
    std::string os;
    std::string kernel;
    std::string governor; // empty when the report could not read it
    std::string program;
    std::vector<ReportSetting> settings; // plan.*, then setup.*
    std::vector<ReadinessEntry> readiness;
    std::vector<ThroughputFigure> throughput;
    std::map<RtCellKey, RtCell> cells;
    SessionReportRecord session_report;
};

// Reads a saved report. On failure returns false with `problem` set to one
// printable line (without the file's name) that names the field at fault,
// and `report` left half-read: do not use it.
bool read_report(const std::string& path, ReportRecord* report, std::string* problem);
// The same from the file's text, `path` only kept as its name.
bool read_report_text(const std::string& text, const std::string& path, ReportRecord* report,
                      std::string* problem);
