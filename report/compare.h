// Saved reports side by side (read by report/report_reader.h): the figures
// they share lined up, with ratios to the first report of each mode, and the
// comparison printed as text (compare_text.cpp), JSON (compare_json.cpp) or
// an SVG picture (compare_svg.cpp).
#pragma once

#include "report/report_reader.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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
// The machine facts, settings and readiness items on which the reports
// disagree, in the order first met.
std::vector<CompareDifference> compare_differences(const std::vector<ReportRecord>& reports);

void print_comparison_text(FILE* out, const std::vector<ReportRecord>& reports,
                           const Comparison* comparison);
nlohmann::ordered_json comparison_json(const std::vector<ReportRecord>& reports,
                                       const Comparison* comparison);
// The "reports" and "differences" of every comparison's JSON.
nlohmann::ordered_json compared_reports_json(const std::vector<ReportRecord>& reports);
nlohmann::ordered_json differences_json(const std::vector<ReportRecord>& reports,
                                        const std::vector<CompareDifference>& differences);
// Dropouts per minute as every output prints them ("0.4", "1.5").
std::string dropouts_figure(double per_minute);

// Grouped bars, one per report with its own fill pattern and number, so the
// picture reads in black and white.
std::string compare_svg(const std::vector<ReportRecord>& reports, const Comparison* comparison);
