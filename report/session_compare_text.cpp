// The comparison of session reports as a text table.
#include "report/compare_table.h"
#include "report/session_compare.h"

namespace {
std::string ms_text(double ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", ns / 1e6);
    return text;
}

std::string percent_text(double percent) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f %%", percent);
    return text;
}

std::string plugins_text(const ReportRecord* report, const SessionCell* cell) {
    std::string text;
    for (const std::string& name : session_plugin_names(report, cell)) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text.empty() ? "no plugins" : text;
}

std::string cell_text(const ReportRecord* report, const SessionRow* row, size_t column) {
    const SessionCell* cell = &row->cells[column];
    if (!cell->present) {
        return "-";
    }
    if (row->figure == SESSION_PLUGINS) {
        return plugins_text(report, cell);
    }
    const SessionSizeFigures* size = &report->session_report.sizes[cell->size];
    switch (row->figure) {
    case SESSION_VERDICT:
        return !size->idle_sustainable ? "not sustainable"
               : size->plays           ? "plays"
                                       : "does not play";
    case SESSION_MISSED:
        return std::to_string(size->missed) + " of " + std::to_string(size->periods) + ", allows " +
               std::to_string(size->allowance);
    case SESSION_USE_MEDIAN:
    case SESSION_USE_WORST:
        return percent_text(cell->value);
    default:
        break;
    }
    if (!cell->known) {
        return "not held";
    }
    const bool ratio = cell->ratio_known && static_cast<int>(column) != row->base;
    return ms_text(cell->value) + (ratio ? " " + ratio_text(cell->ratio) : "");
}

void add_row(TextTable* table, const std::vector<ReportRecord>& reports, const SessionRow* row,
             const std::string& label) {
    std::vector<std::string> line{"  " + label};
    for (size_t r = 0; r < reports.size(); ++r) {
        line.push_back(cell_text(&reports[r], row, r));
    }
    table->lines.push_back(line);
}
} // namespace

void print_session_comparison_text(FILE* out, const std::vector<ReportRecord>& reports,
                                   const SessionComparison* comparison) {
    print_report_list(out, reports);
    TextTable table = report_table(reports, comparison->differences);
    if (!comparison->routes.empty()) {
        add_table_heading(&table, "Routes in every report: the plugins that ran, in chain order");
    }
    for (const SessionRow& row : comparison->routes) {
        add_row(&table, reports, &row, session_figure_words(&row));
    }
    const SessionSizeKey none{0, 0};
    SessionSizeKey heading = none;
    for (const SessionRow& row : comparison->rows) {
        if (row.size != heading) {
            heading = row.size;
            const SessionSizeFigures* first = &reports[0].session_report.sizes[row.cells[0].size];
            add_table_heading(&table, "At " + session_size_words(row.size) + ": " +
                                          ms_text(static_cast<double>(first->period_ns)) +
                                          " a period (ratio to [1]: above 1.00x is slower)");
        }
        add_row(&table, reports, &row, session_figure_words(&row));
    }
    if (comparison->rows.empty()) {
        add_table_heading(&table, "No buffer size held in every report: nothing compared");
    }
    if (!comparison->only_in_some.empty()) {
        add_table_heading(&table, "Only in some reports (not compared; - : not in that report)");
    }
    heading = none;
    for (const SessionRow& row : comparison->only_in_some) {
        if (row.figure == SESSION_PLUGINS) {
            add_row(&table, reports, &row, session_row_label(&row));
            continue;
        }
        if (row.size != heading) {
            heading = row.size;
            std::vector<std::string> line(reports.size() + 1);
            line[0] = "  At " + session_size_words(row.size);
            table.lines.push_back(line);
        }
        add_row(&table, reports, &row, "  " + session_figure_words(&row));
    }
    print_text_table(out, &table, reports.size());
    std::fprintf(out, "\nVerdicts\n");
    for (size_t r = 0; r < reports.size(); ++r) {
        const SessionReportRecord* session = &reports[r].session_report;
        std::string words = session->verdict.empty() ? "no size was held" : session->verdict;
        if (!session->failure.empty()) {
            words += "; the run could not go on: " + session->failure;
        } else if (session->stop_signal != 0) {
            words += "; stopped by signal " + std::to_string(session->stop_signal);
        }
        std::fprintf(out, "  [%zu] %s\n", r + 1, words.c_str());
    }
}
