// The comparison of saved reports as a text table.
#include "report/compare.h"
#include "report/compare_table.h"

#include "engine/realtime/stream_set.h"

#include <algorithm>

namespace {
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
            add_table_heading(table, heading);
            headed = true;
        }
        std::vector<std::string> line{"  " + row.label};
        for (size_t r = 0; r < reports.size(); ++r) {
            line.push_back(cell_text(&reports[r], &row, r));
        }
        table->lines.push_back(line);
    }
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
    print_report_list(out, reports);
    TextTable table = report_table(reports, comparison->differences);
    add_rows(&table, reports, comparison->rows, 1,
             "Throughput (median over each file's runs; higher is better; ratio to " +
                 base_name(comparison->rows, false) + ")");
    add_rows(&table, reports, comparison->rows, 2,
             "Real-time capacity: streams held, ratio to " + base_name(comparison->rows, true) +
                 ", dropouts per minute (- : not in a version-1 report)");
    add_rows(&table, reports, comparison->only_in_some, 3,
             "Only in some reports (not compared; - : not in that report)");
    print_text_table(out, &table, reports.size());
}
