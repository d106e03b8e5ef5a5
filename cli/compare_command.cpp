#include "cli/compare_command.h"

#include "platform/common/echoed.h"
#include "report/compare.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
        std::string text =
            comparison_json(reports, &comparison)
                .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        std::fprintf(stdout, "%s\n", text.c_str());
    } else {
        print_comparison_text(stdout, reports, &comparison);
    }
    int status = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "test_zem_cli: could not write the comparison to standard output\n");
        status = 1;
    }
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
