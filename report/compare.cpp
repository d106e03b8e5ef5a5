// Saved reports lined up: the figures they share, their ratios to the first
// of each mode, and what differs between them.
#include "report/compare.h"

#include "engine/test_names.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace {
// Files the row as compared when every report of its mode has the figure,
// with the ratio of each to the first of them; else as "only in some".
void file_row(const std::vector<ReportRecord>& reports, CompareRow row, Comparison* comparison) {
    bool in_every = true;
    row.base = -1;
    for (size_t r = 0; r < reports.size(); ++r) {
        if (reports[r].realtime == row.realtime) {
            in_every = in_every && row.cells[r].present;
            row.base = row.base < 0 && row.cells[r].present ? static_cast<int>(r) : row.base;
        }
    }
    if (!in_every) {
        row.base = -1;
        comparison->only_in_some.push_back(row);
        return;
    }
    const CompareCell base = row.cells[static_cast<size_t>(row.base)];
    for (CompareCell& cell : row.cells) {
        cell.ratio_known = cell.known && base.known && base.value > 0;
        cell.ratio = cell.ratio_known
                         ? static_cast<double>(cell.value) / static_cast<double>(base.value)
                         : 0.0;
    }
    comparison->rows.push_back(row);
}
} // namespace

std::vector<CompareDifference> compare_differences(const std::vector<ReportRecord>& reports) {
    std::vector<CompareDifference> differences;
    std::vector<CompareDifference> all;  // in the order first met
    std::map<std::string, size_t> index; // a report may hold thousands of names
    auto note = [&](size_t r, const std::string& name, const std::string& value) {
        auto [found, added] = index.emplace(name, all.size());
        if (added) {
            all.push_back({name, std::vector<bool>(reports.size()),
                           std::vector<std::string>(reports.size())});
        }
        all[found->second].present[r] = true;
        all[found->second].values[r] = value;
    };
    for (size_t r = 0; r < reports.size(); ++r) {
        const ReportRecord* report = &reports[r];
        note(r, "processor", report->processor);
        note(r, "os", report->os);
        note(r, "kernel", report->kernel);
        note(r, "governor", report->governor.empty() ? "not readable" : report->governor);
        note(r, "program", report->program);
        for (const ReportSetting& setting : report->settings) {
            note(r, setting.name, setting.text);
        }
        for (const ReadinessEntry& item : report->readiness) {
            note(r, "readiness." + item.name, item.state + ", " + item.value);
        }
    }
    // Compared among the reports that have it: one missing is no difference.
    for (const CompareDifference& difference : all) {
        std::set<std::string> values;
        for (size_t r = 0; r < reports.size(); ++r) {
            if (difference.present[r]) {
                values.insert(difference.values[r]);
            }
        }
        if (values.size() > 1) {
            differences.push_back(difference);
        }
    }
    return differences;
}

Comparison compare_reports(const std::vector<ReportRecord>& reports) {
    Comparison comparison;
    comparison.differences = compare_differences(reports);
    for (const ThroughputName& name : THROUGHPUT_NAMES) {
        CompareRow row{false, name.test, name.figure, {}, "", -1, {}};
        row.label = std::string(TEST_NAMES[name.test]) + " " + name.label;
        bool any = false;
        for (const ReportRecord& report : reports) {
            CompareCell cell{};
            for (const ThroughputFigure& figure : report.throughput) {
                if (figure.test == name.test && std::strcmp(figure.figure, name.figure) == 0) {
                    cell =
                        CompareCell{true, figure.known, figure.value, "", false, 0.0, false, 0.0};
                }
            }
            any = any || cell.present;
            row.cells.push_back(cell);
        }
        if (any) {
            file_row(reports, row, &comparison);
        }
    }
    std::set<RtCellKey> keys;
    for (const ReportRecord& report : reports) {
        for (const auto& [key, cell] : report.cells) {
            keys.insert(key);
        }
    }
    for (const RtCellKey& key : keys) {
        CompareRow row{true, 0, nullptr, key, "", -1, {}};
        row.label = std::to_string(key.buffer) + " samples, " + key.load + ", " +
                    std::to_string(key.cores) + (key.cores == 1 ? " core" : " cores");
        for (const ReportRecord& report : reports) {
            auto found = report.cells.find(key);
            CompareCell cell{};
            if (found != report.cells.end()) {
                const RtCell* rt = &found->second;
                cell = CompareCell{true,  rt->known, rt->streams,        rt->state,
                                   false, 0.0,       rt->dropouts_known, rt->dropouts_per_minute};
            }
            row.cells.push_back(cell);
        }
        file_row(reports, row, &comparison);
    }
    return comparison;
}

std::string dropouts_figure(double per_minute) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", per_minute);
    return text;
}
