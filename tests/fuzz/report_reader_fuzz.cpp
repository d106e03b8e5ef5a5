// The report reader fed any bytes: it either refuses them in one printable
// line or gives a record, and a record it gives goes through the comparison
// and its outputs without a fault (a session's beside a copy holding half
// its sizes, so that some rows fall apart).
#include "report/compare.h"
#include "report/session_compare.h"
#include "tests/fuzz/printable_line.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* nowhere = std::fopen("/dev/null", "w");
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<ReportRecord> reports(2);
    std::string problem;
    if (!read_report_text(text, "fuzzed.json", &reports[0], &problem)) {
        if (!printable_line(problem)) {
            std::abort();
        }
        return 0;
    }
    reports[1] = reports[0];
    reports[1].name += " again";
    if (reports[0].session) {
        reports[1].session_report.sizes.resize(reports[0].session_report.sizes.size() / 2);
        const SessionComparison sessions = compare_sessions(reports);
        print_session_comparison_text(nowhere, reports, &sessions);
        const std::string json =
            session_comparison_json(reports, &sessions)
                .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        return json.empty() ? -1 : 0;
    }
    const Comparison comparison = compare_reports(reports);
    print_comparison_text(nowhere, reports, &comparison);
    const std::string json =
        comparison_json(reports, &comparison)
            .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    const std::string svg = compare_svg(reports, &comparison);
    return json.empty() || svg.empty() ? -1 : 0;
}
