// The text table every comparison prints: the list of reports, a column a
// report headed by its machine's name and date, what differs between them,
// then blocks of rows under their headings, long cells wrapped.
#pragma once

#include "report/compare.h"

#include <cstdio>
#include <string>
#include <vector>

struct TextTable {
    std::vector<std::vector<std::string>> lines; // label, then a cell per report; {} : a heading
    std::vector<std::string> headings;
};

// "Comparing 2 reports", then a line a report: its name, kind, schema and file.
void print_report_list(FILE* out, const std::vector<ReportRecord>& reports);
// The table's first lines: the names and dates, then the Differences block.
TextTable report_table(const std::vector<ReportRecord>& reports,
                       const std::vector<CompareDifference>& differences);
void add_table_heading(TextTable* table, const std::string& heading);
void print_text_table(FILE* out, const TextTable* table, size_t reports);
// A ratio as every table prints it ("1.25x").
std::string ratio_text(double ratio);
