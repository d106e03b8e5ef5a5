// The comparison's text table: its head, its blocks and its columns.
#include "report/compare_table.h"

#include <algorithm>

namespace {
constexpr size_t MAX_CELL_WIDTH = 26;

// A long value (a processor's name) over several lines of its column,
// broken at spaces where it can be.
std::vector<std::string> wrapped(const std::string& text, size_t width) {
    std::vector<std::string> pieces;
    size_t at = 0;
    while (text.size() - at > width) {
        size_t space = text.rfind(' ', at + width);
        size_t end = space != std::string::npos && space > at ? space : at + width;
        pieces.push_back(text.substr(at, end - at));
        at = text[end] == ' ' ? end + 1 : end;
    }
    pieces.push_back(text.substr(at));
    return pieces;
}

std::string kind_words(const ReportRecord* report) {
    if (report->session) {
        return "session \"" + report->session_report.name + "\"";
    }
    return report->realtime ? "real-time" : "throughput";
}
} // namespace

std::string ratio_text(double ratio) {
    char text[40];
    std::snprintf(text, sizeof text, "%.2fx", ratio);
    return text;
}

void print_report_list(FILE* out, const std::vector<ReportRecord>& reports) {
    std::fprintf(out, "Comparing %zu reports\n", reports.size());
    for (size_t r = 0; r < reports.size(); ++r) {
        const ReportRecord* report = &reports[r];
        const bool median = !report->realtime && !report->session && report->runs > 1;
        std::fprintf(out, "  [%zu] %s: %s, schema %lld, %s%s\n", r + 1, report->name.c_str(),
                     kind_words(report).c_str(), static_cast<long long>(report->schema_version),
                     report->path.c_str(),
                     median ? (", median of " + std::to_string(report->runs) + " runs").c_str()
                            : "");
    }
}

TextTable report_table(const std::vector<ReportRecord>& reports,
                       const std::vector<CompareDifference>& differences) {
    TextTable table;
    std::vector<std::string> names{""};
    std::vector<std::string> dates{""};
    for (size_t r = 0; r < reports.size(); ++r) {
        names.push_back("[" + std::to_string(r + 1) + "] " + reports[r].name);
        dates.push_back(reports[r].date);
    }
    table.lines = {names, dates};
    add_table_heading(&table, differences.empty()
                                  ? "Differences: none"
                                  : "Differences (only what differs; - : not in that report)");
    for (const CompareDifference& difference : differences) {
        std::vector<std::string> line{"  " + difference.name};
        for (size_t r = 0; r < reports.size(); ++r) {
            line.push_back(difference.present[r] ? difference.values[r] : "-");
        }
        table.lines.push_back(line);
    }
    return table;
}

void add_table_heading(TextTable* table, const std::string& heading) {
    table->headings.push_back(heading);
    table->lines.push_back({});
}

void print_text_table(FILE* out, const TextTable* table, size_t reports) {
    std::vector<size_t> widths(reports + 1, 0);
    for (const auto& line : table->lines) {
        for (size_t c = 0; c < line.size() && c < widths.size(); ++c) {
            widths[c] = std::max(widths[c], c == 0 ? line[c].size()
                                                   : std::min(line[c].size(), MAX_CELL_WIDTH));
        }
    }
    size_t heading = 0;
    for (const auto& line : table->lines) {
        if (line.empty()) {
            std::fprintf(out, "\n%s\n", table->headings[heading++].c_str());
            continue;
        }
        std::vector<std::vector<std::string>> cells;
        size_t height = 1;
        for (size_t c = 0; c < line.size() && c < widths.size(); ++c) {
            cells.push_back(wrapped(line[c], c == 0 ? line[c].size() : MAX_CELL_WIDTH));
            height = std::max(height, cells.back().size());
        }
        for (size_t l = 0; l < height; ++l) {
            std::string row;
            for (size_t c = 0; c < cells.size(); ++c) {
                std::string piece = l < cells[c].size() ? cells[c][l] : "";
                row += piece + std::string(widths[c] - piece.size() + 3, ' ');
            }
            row.erase(row.find_last_not_of(' ') + 1);
            std::fprintf(out, "%s\n", row.c_str());
        }
    }
}
