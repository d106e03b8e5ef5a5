#include "cli/compare_command.h"

#include "platform/common/echoed.h"
#include "report/compare.h"
#include "report/session_compare.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
// Session reports compare only with each other: a figure of a session is
// none of a stream count's or a throughput's.
std::string mixed_problem(const std::vector<std::string>& files,
                          const std::vector<ReportRecord>& reports) {
    for (size_t f = 1; f < reports.size(); ++f) {
        if (reports[f].session != reports[0].session) {
            const bool session = reports[f].session;
            const char* kind = reports[f].realtime ? "a real-time" : "a throughput";
            return echoed(files[f]) + ": " + (session ? "a session" : kind) + " report after " +
                   (session ? "one that is not" : "a session report") +
                   ": session reports compare only with session reports";
        }
    }
    return "";
}

void print_json(const nlohmann::ordered_json& document) {
    const std::string text =
        document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::fprintf(stdout, "%s\n", text.c_str());
}

int stdout_status() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "test_zem_cli: could not write the comparison to standard output\n");
        return 1;
    }
    return 0;
}

int compare_sessions_out(const std::vector<ReportRecord>& reports, bool json,
                         const std::string& svg_path) {
    if (!svg_path.empty()) {
        std::fprintf(stderr, "test_zem_cli: --svg draws throughput and real-time reports; session "
                             "reports are compared as text or --json only\n");
        return 2;
    }
    SessionComparison comparison = compare_sessions(reports);
    if (json) {
        print_json(session_comparison_json(reports, &comparison));
    } else {
        print_session_comparison_text(stdout, reports, &comparison);
    }
    return stdout_status();
}
} // namespace

int run_compare_command(const std::vector<std::string>& files, bool json,
                        const std::string& svg_path) {
    if (files.size() < 2) {
        std::fprintf(stderr, "test_zem_cli: compare needs two reports or more\n");
        return 2;
    }
    std::vector<ReportRecord> reports(files.size());
    for (size_t f = 0; f < files.size(); ++f) {
        std::string problem;
        if (!read_report(files[f], &reports[f], &problem)) {
            std::fprintf(stderr, "test_zem_cli: %s: %s\n", echoed(files[f]).c_str(),
                         problem.c_str());
            return 2;
        }
    }
    const std::string problem = mixed_problem(files, reports);
    if (!problem.empty()) {
        std::fprintf(stderr, "test_zem_cli: %s\n", problem.c_str());
        return 2;
    }
    if (reports[0].session) {
        return compare_sessions_out(reports, json, svg_path);
    }
    // Opened first, so a bad path stops the command before it prints.
    FILE* svg = nullptr;
    if (!svg_path.empty()) {
        svg = std::fopen(svg_path.c_str(), "wb");
        if (svg == nullptr) {
            std::fprintf(stderr, "test_zem_cli: cannot write %s: %s\n", echoed(svg_path).c_str(),
                         std::strerror(errno));
            return 2;
        }
    }
    Comparison comparison = compare_reports(reports);
    if (json) {
        print_json(comparison_json(reports, &comparison));
    } else {
        print_comparison_text(stdout, reports, &comparison);
    }
    int status = stdout_status();
    if (svg != nullptr) {
        std::string text = compare_svg(reports, &comparison);
        bool written = std::fwrite(text.data(), 1, text.size(), svg) == text.size();
        if (std::fclose(svg) != 0 || !written) {
            std::fprintf(stderr, "test_zem_cli: could not write %s\n", echoed(svg_path).c_str());
            status = 1;
        }
    }
    return status;
}
