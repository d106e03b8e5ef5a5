// The comparison of saved reports as one JSON document.
#include "report/compare.h"

#include "engine/test_names.h"

using Json = nlohmann::ordered_json;

namespace {
Json row_json(const std::vector<ReportRecord>& reports, const CompareRow* row) {
    Json object = Json::object();
    object["kind"] = row->realtime ? "realtime" : "throughput";
    if (row->realtime) {
        object["buffer"] = row->key.buffer;
        object["load"] = row->key.load;
        object["cores"] = row->key.cores;
    } else {
        object["test"] = TEST_JSON_NAMES[row->test];
        object["figure"] = row->figure;
    }
    object["label"] = row->label;
    object["base"] = row->base >= 0 ? Json(row->base) : Json(nullptr);
    Json values = Json::array();
    for (size_t r = 0; r < reports.size(); ++r) {
        const CompareCell* cell = &row->cells[r];
        if (!cell->present) {
            values.push_back(nullptr);
            continue;
        }
        Json value{{"value", cell->known ? Json(cell->value) : Json(nullptr)}};
        if (row->realtime) {
            value["state"] = cell->state;
        }
        value["ratio"] = cell->ratio_known ? Json(cell->ratio) : Json(nullptr);
        if (row->realtime) {
            value["dropouts_per_minute"] =
                cell->dropouts_known ? Json(cell->dropouts_per_minute) : Json(nullptr);
        }
        values.push_back(value);
    }
    object["values"] = values;
    return object;
}
} // namespace

Json compared_reports_json(const std::vector<ReportRecord>& reports) {
    Json list = Json::array();
    for (const ReportRecord& report : reports) {
        Json entry = {{"file", report.path},
                      {"name", report.name},
                      {"date", report.date},
                      {"mode", report.session    ? "session"
                               : report.realtime ? "realtime"
                                                 : "throughput"},
                      {"schema_version", report.schema_version},
                      {"runs", report.runs},
                      {"processor", report.processor},
                      {"os", report.os},
                      {"kernel", report.kernel},
                      {"governor", report.governor.empty() ? Json(nullptr) : Json(report.governor)},
                      {"program", report.program}};
        if (report.session) {
            const SessionReportRecord* session = &report.session_report;
            entry["session"] = session->name;
            entry["verdict"] = session->verdict;
            entry["failure"] = session->failure.empty() ? Json(nullptr) : Json(session->failure);
        }
        list.push_back(entry);
    }
    return list;
}

Json differences_json(const std::vector<ReportRecord>& reports,
                      const std::vector<CompareDifference>& differences) {
    Json list = Json::array();
    for (const CompareDifference& difference : differences) {
        Json values = Json::array();
        for (size_t r = 0; r < reports.size(); ++r) {
            values.push_back(difference.present[r] ? Json(difference.values[r]) : Json(nullptr));
        }
        list.push_back({{"name", difference.name}, {"values", values}});
    }
    return list;
}

Json comparison_json(const std::vector<ReportRecord>& reports, const Comparison* comparison) {
    Json rows = Json::array();
    for (const CompareRow& row : comparison->rows) {
        rows.push_back(row_json(reports, &row));
    }
    Json only = Json::array();
    for (const CompareRow& row : comparison->only_in_some) {
        only.push_back(row_json(reports, &row));
    }
    return Json{{"schema_version", NEWEST_SCHEMA_VERSION},
                {"mode", "compare"},
                {"reports", compared_reports_json(reports)},
                {"differences", differences_json(reports, comparison->differences)},
                {"rows", rows},
                {"only_in_some", only}};
}
