// Saved reports side by side: reads the JSON of throughput runs and of the
// real-time mode (schema versions 1 and 2, in any mix) into plain records,
// lines up the figures they share, and prints the comparison as text, JSON
// or an SVG picture.
#pragma once

#include <nlohmann/json.hpp>

#include <compare>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

constexpr int64_t NEWEST_SCHEMA_VERSION = 2;

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

// One throughput figure: the median over the file's runs that stored it.
struct ThroughputFigure {
    uint32_t test;      // 0 ZEM-1, 1 ZEM-2, 2 ZEM-M
    const char* figure; // "cycles_44100", ..., "mfloats_per_s"
    bool known;         // false: null in every run
    int64_t value;
};

struct RtCellKey {
    int64_t buffer;
    uint32_t test; // index into RT_TEST_NAMES
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
    bool realtime;    // else a throughput run
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
};

// Reads a saved report. On failure returns false with `problem` set to one
// line (without the file's name) and `report` left half-read: do not use it.
bool read_report(const std::string& path, ReportRecord* report, std::string* problem);

// One report's value in a row of the comparison.
struct CompareCell {
    bool present; // the report has this figure (null counts as present)
    bool known;   // a figure, not null
    int64_t value;
    std::string state; // real-time rows: the test's state
    bool ratio_known;  // value / the base column's value
    double ratio;
    bool dropouts_known;
    double dropouts_per_minute;
};

struct CompareRow {
    bool realtime;
    uint32_t test;
    const char* figure; // throughput rows
    RtCellKey key;      // real-time rows
    std::string label;
    int base;                       // the column ratios are taken to; -1 in "only in some"
    std::vector<CompareCell> cells; // one per report, in the order given
};

// A setting, machine fact or readiness item on which reports disagree.
struct CompareDifference {
    std::string name;
    std::vector<bool> present;
    std::vector<std::string> values;
};

struct Comparison {
    std::vector<CompareDifference> differences;
    std::vector<CompareRow> rows;         // figures every report of its mode has
    std::vector<CompareRow> only_in_some; // figures only some have: no ratios
};

Comparison compare_reports(const std::vector<ReportRecord>& reports);

void print_comparison_text(FILE* out, const std::vector<ReportRecord>& reports,
                           const Comparison* comparison);
nlohmann::ordered_json comparison_json(const std::vector<ReportRecord>& reports,
                                       const Comparison* comparison);
// Grouped bars, one per report with its own fill pattern and number, so the
// picture reads in black and white.
std::string compare_svg(const std::vector<ReportRecord>& reports, const Comparison* comparison);
