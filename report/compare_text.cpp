// The comparison of saved reports as a text table.
#include "report/compare.h"

#include "engine/realtime/stream_set.h"

#include <algorithm>

namespace {
std::string ratio_text(double ratio) {
    char text[40];
    std::snprintf(text, sizeof text, "%.2fx", ratio);
    return text;
}

std::string dropouts_text(const CompareCell* cell) {
    return cell->dropouts_known ? dropouts_figure(cell->dropouts_per_minute) + "/min" : "-";
}

// A figure, its ratio to the base column and, in real time, the dropouts;
// empty for a report of the other mode, "-" for one without the figure.
std::string cell_text(const ReportRecord* report, const CompareRow* row, size_t column) {
    const CompareCell* cell = &row->cells[column];
    if (report->realtime != row->realtime) {
        return "";
    }
    if (!cell->present) {
        return "-";
    }
    std::string text = !cell->known ? (row->realtime ? cell->state : "no figure")
                       : cell->ratio_known && static_cast<int>(column) != row->base
                           ? std::to_string(cell->value) + " " + ratio_text(cell->ratio)
                           : std::to_string(cell->value);
    return row->realtime ? text + "  " + dropouts_text(cell) : text;
}

constexpr size_t MAX_CELL_WIDTH = 26;

struct TextTable {
    std::vector<std::vector<std::string>> lines; // label, then a cell per report; {} : a heading
    std::vector<std::string> headings;
};

// The rows of one mode (`modes` 1: throughput, 2: real time, 3: both)
// under their heading, when there are any.
void add_rows(TextTable* table, const std::vector<ReportRecord>& reports,
              const std::vector<CompareRow>& rows, int modes, const std::string& heading) {
    bool headed = false;
    for (const CompareRow& row : rows) {
        if ((modes & (row.realtime ? 2 : 1)) == 0) {
            continue;
        }
        if (!headed) {
            table->headings.push_back(heading);
            table->lines.push_back({});
            headed = true;
        }
        std::vector<std::string> line{"  " + row.label};
        for (size_t r = 0; r < reports.size(); ++r) {
            line.push_back(cell_text(&reports[r], &row, r));
        }
        table->lines.push_back(line);
    }
}

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

std::string base_name(const std::vector<CompareRow>& rows, bool realtime) {
    for (const CompareRow& row : rows) {
        if (row.realtime == realtime) {
            return "[" + std::to_string(row.base + 1) + "]";
        }
    }
    return "";
}
} // namespace

void print_comparison_text(FILE* out, const std::vector<ReportRecord>& reports,
                           const Comparison* comparison) {
    std::fprintf(out, "Comparing %zu reports\n", reports.size());
    TextTable table;
    std::vector<std::string> names{""};
    std::vector<std::string> dates{""};
    for (size_t r = 0; r < reports.size(); ++r) {
        const ReportRecord* report = &reports[r];
        std::fprintf(out, "  [%zu] %s: %s, schema %lld, %s%s\n", r + 1, report->name.c_str(),
                     report->realtime ? "real-time" : "throughput",
                     static_cast<long long>(report->schema_version), report->path.c_str(),
                     report->realtime || report->runs == 1
                         ? ""
                         : (", median of " + std::to_string(report->runs) + " runs").c_str());
        names.push_back("[" + std::to_string(r + 1) + "] " + report->name);
        dates.push_back(report->date);
    }
    table.lines = {names, dates};
    table.headings.push_back(comparison->differences.empty()
                                 ? "Differences: none"
                                 : "Differences (only what differs; - : not in that report)");
    table.lines.push_back({});
    for (const CompareDifference& difference : comparison->differences) {
        std::vector<std::string> line{"  " + difference.name};
        for (size_t r = 0; r < reports.size(); ++r) {
            line.push_back(difference.present[r] ? difference.values[r] : "-");
        }
        table.lines.push_back(line);
    }
    add_rows(&table, reports, comparison->rows, 1,
             "Throughput (median over each file's runs; higher is better; ratio to " +
                 base_name(comparison->rows, false) + ")");
    add_rows(&table, reports, comparison->rows, 2,
             "Real-time capacity: streams held, ratio to " + base_name(comparison->rows, true) +
                 ", dropouts per minute (- : not in a version-1 report)");
    add_rows(&table, reports, comparison->only_in_some, 3,
             "Only in some reports (not compared; - : not in that report)");
    std::vector<size_t> widths(reports.size() + 1, 0);
    for (const auto& line : table.lines) {
        for (size_t c = 0; c < line.size(); ++c) {
            widths[c] = std::max(widths[c], c == 0 ? line[c].size()
                                                   : std::min(line[c].size(), MAX_CELL_WIDTH));
        }
    }
    size_t heading = 0;
    for (const auto& line : table.lines) {
        if (line.empty()) {
            std::fprintf(out, "\n%s\n", table.headings[heading++].c_str());
            continue;
        }
        std::vector<std::vector<std::string>> cells;
        size_t height = 1;
        for (size_t c = 0; c < line.size(); ++c) {
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
