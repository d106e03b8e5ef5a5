// The comparison of session reports as one JSON document.
#include "report/session_compare.h"

using Json = nlohmann::ordered_json;

namespace {
const char* const FIGURE_KEYS[] = {"plugins", "verdict", "missed", "use_median", "use_worst",
                                   "span_1",  "span_2",  "median", "p999"};

Json value_json(const ReportRecord* report, const SessionRow* row, const SessionCell* cell) {
    if (row->figure == SESSION_PLUGINS) {
        return {{"plugins", session_plugin_names(report, cell)}};
    }
    const SessionSizeFigures* size = &report->session_report.sizes[cell->size];
    switch (row->figure) {
    case SESSION_VERDICT:
        return {{"verdict", !size->idle_sustainable ? "not sustainable"
                            : size->plays           ? "plays"
                                                    : "does not play"},
                {"plays", size->plays}};
    case SESSION_MISSED:
        return {{"missed", size->missed},
                {"periods", size->periods},
                {"allowance", size->allowance},
                {"idle_periods", size->idle_periods},
                {"idle_missed", size->idle_missed}};
    case SESSION_USE_MEDIAN:
    case SESSION_USE_WORST:
        return {
            {"ns", row->figure == SESSION_USE_MEDIAN ? size->use_median_ns : size->use_worst_ns},
            {"percent", cell->value}};
    default:
        break;
    }
    // A route's times are whole nanoseconds; the spans, sums of them, may not be.
    const bool whole = row->figure == SESSION_ROUTE_MEDIAN || row->figure == SESSION_ROUTE_P999;
    const Json ns = whole ? Json(static_cast<int64_t>(cell->value)) : Json(cell->value);
    return {{"ns", cell->known ? ns : Json(nullptr)},
            {"ratio", cell->ratio_known ? Json(cell->ratio) : Json(nullptr)}};
}

Json row_json(const std::vector<ReportRecord>& reports, const SessionRow* row) {
    const bool sized = row->figure != SESSION_PLUGINS;
    Json object = {{"kind", "session"},
                   {"figure", FIGURE_KEYS[row->figure]},
                   {"frames", sized ? Json(row->size.frames) : Json(nullptr)},
                   {"threads", sized ? Json(row->size.threads) : Json(nullptr)},
                   {"route", row->routed ? Json(row->route.name) : Json(nullptr)},
                   {"route_kind", row->routed ? Json(row->route.kind) : Json(nullptr)},
                   {"route_nth", row->routed ? Json(row->route.nth) : Json(nullptr)},
                   {"label", session_row_label(row)},
                   {"base", row->base >= 0 ? Json(row->base) : Json(nullptr)}};
    Json values = Json::array();
    for (size_t r = 0; r < reports.size(); ++r) {
        const SessionCell* cell = &row->cells[r];
        values.push_back(cell->present ? value_json(&reports[r], row, cell) : Json(nullptr));
    }
    object["values"] = values;
    return object;
}

Json rows_json(const std::vector<ReportRecord>& reports, const std::vector<SessionRow>& rows) {
    Json list = Json::array();
    for (const SessionRow& row : rows) {
        list.push_back(row_json(reports, &row));
    }
    return list;
}
} // namespace

Json session_comparison_json(const std::vector<ReportRecord>& reports,
                             const SessionComparison* comparison) {
    return Json{{"schema_version", NEWEST_SCHEMA_VERSION},
                {"mode", "compare"},
                {"reports", compared_reports_json(reports)},
                {"differences", differences_json(reports, comparison->differences)},
                {"routes", rows_json(reports, comparison->routes)},
                {"rows", rows_json(reports, comparison->rows)},
                {"only_in_some", rows_json(reports, comparison->only_in_some)}};
}
