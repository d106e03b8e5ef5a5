// Saved reports compared: every unreadable file refused in one line, every
// field out of its kind or range refused by name, the bounds on what is
// parsed, the rows and ratios of a mix of versions and modes, and the
// picture's structure.
#include "cli/compare_command.h"
#include "report/compare.h"
#include "report/median.h"
#include "tests/unit/printed_text.h"
#include "tests/unit/report_fixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace {
// The text with the first `from` replaced by `to`.
std::string with(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

std::string repeated(const std::string& piece, size_t times, const char* separator) {
    std::string text;
    for (size_t i = 0; i < times; ++i) {
        text += (i == 0 ? "" : separator) + piece;
    }
    return text;
}

// Every tag closed in order, and no bare '<' or '&' in text.
bool well_formed(const std::string& xml) {
    std::vector<std::string> open;
    for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
        size_t end = xml.find('>', at);
        std::string tag = xml.substr(at + 1, end - at - 1);
        std::string name = tag.substr(0, tag.find_first_of(" />", 1));
        if (end == std::string::npos || xml.find('<', at + 1) < end) {
            return false;
        }
        if (name[0] == '/') {
            if (open.empty() || open.back() != name.substr(1)) {
                return false;
            }
            open.pop_back();
        } else if (tag.back() != '/') {
            open.push_back(name);
        }
    }
    return open.empty() &&
           occurrences(xml, "&") == occurrences(xml, "&amp;") + occurrences(xml, "&lt;");
}

// A real-time report of each version and one with an extra buffer size, a
// throughput line of version 1 and three runs of version 2.
struct Mix {
    std::vector<ReportRecord> reports;
    Comparison comparison;
    Mix() {
        for (const char* name : {"realtime_v1.json", "realtime_v2.json", "realtime_v2_extra.json",
                                 "throughput_v1.json", "throughput_v2.json"}) {
            std::string problem;
            reports.emplace_back();
            EXPECT_TRUE(read_report(fixture(name), &reports.back(), &problem)) << problem;
        }
        comparison = compare_reports(reports);
    }
    const CompareRow* row(const std::vector<CompareRow>& rows, const std::string& label) const {
        for (const CompareRow& candidate : rows) {
            if (candidate.label == label) {
                return &candidate;
            }
        }
        ADD_FAILURE() << "no row " << label;
        return &rows.front();
    }
};
} // namespace

TEST(Compare, RefusesEveryUnreadableFileInOneLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"missing_buffer.json", "runs[1].buffer is missing"},
        {"truncated.json", "not a complete JSON document (parse error at line"},
        {"schema_5.json", "written by a newer program (schema_version 5; this program reads "
                          "up to 4)"},
        {"not_report.json", "not a report of test_zem_cli (no \"mode\", no test figures)"},
        {"bad_line.json", "line 2: zem1.cycles_44100 is not an integer"},
        {"absent.json", "cannot be read (No such file or directory)"}};
    for (const auto& [name, expected] : cases) {
        ReportRecord report{};
        std::string problem;
        EXPECT_FALSE(read_report(fixture(name), &report, &problem)) << name;
        EXPECT_EQ(problem.substr(0, std::string(expected).size()), expected) << name;
        EXPECT_EQ(problem.find('\n'), std::string::npos);
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(
        run_compare_command({fixture("realtime_v1.json"), fixture("schema_5.json")}, false, ""), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "test_zem_cli: " + fixture("schema_5.json") +
                  ": written by a newer program (schema_version 5; this program reads up to 4)\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // nothing from a half-read set
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_compare_command({fixture("realtime_v1.json"), fixture("realtime_v2.json")}, true,
                                  "/nonexistent/folder/out.svg"),
              2);
    EXPECT_EQ(occurrences(testing::internal::GetCapturedStderr(), "\n"), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Compare, RefusesAFieldOutOfItsKindOrRangeByName) {
    const std::string v2 = contents(fixture("realtime_v2.json"));
    const std::string streams = "\"streams\": 7500";
    const std::pair<std::string, std::string> cases[] = {
        {"{\"a\":1e400}", "not a complete JSON document (number overflow parsing '1e400')"},
        {with(v2, streams, "\"streams\": 18446744073709551615"),
         "runs[0].tests.zem2.streams is too large (18446744073709551615)"},
        {with(v2, streams, "\"streams\": 9223372036854775808"),
         "runs[0].tests.zem2.streams is too large (9223372036854775808)"},
        {with(v2, streams, "\"streams\": -1"), "runs[0].tests.zem2.streams is negative (-1)"},
        {with(v2, "\"per_minute\": 0.4", "\"per_minute\": -0.5"),
         "runs[0].dropouts.per_minute is negative (-0.5)"},
        {with(v2, "\"rate\": 48000", "\"rate\": 4.8e4"), "plan.rate is not an integer"},
        {with(v2, "\"studio\"", "\"" + std::string(4097, 'x') + "\""),
         "machine.host is longer than 4096 bytes"},
        {with(v2, "\"schema_version\": 2", "\"schema_version\": -2"),
         "schema_version is negative (-2)"},
        // A key's control characters do not break the line.
        {with(v2, "\"zem2\": {\"state\"", "\"zem\\n\\u001b2\": {\"state\""),
         "runs[0].tests.zem??2 is neither a test nor a load of the plan"}};
    for (const auto& [text, expected] : cases) {
        ReportRecord report{};
        std::string problem;
        EXPECT_FALSE(read_report_text(text, "hostile.json", &report, &problem)) << expected;
        EXPECT_EQ(problem, expected);
    }
    ReportRecord largest{};
    std::string problem;
    EXPECT_TRUE(read_report_text(with(v2, streams, "\"streams\": 9223372036854775807"), "",
                                 &largest, &problem))
        << problem;
    EXPECT_EQ(largest.cells.at(RtCellKey{1024, "ZEM-2", 1}).streams, INT64_MAX);
}

// Nesting, the members of an object and the values in all are bounded
// before anything is parsed; a key too long for a line is cut.
TEST(Compare, BoundsWhatIsParsedAndTheProblemsLine) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string(32, '[') + std::string(32, ']'),
         "not a report of test_zem_cli (not a JSON object)"},
        {std::string(33, '[') + std::string(33, ']'), "nests deeper than 32 levels"},
        {"{" + repeated("\"k\":0", 256, ",") + "}", "not a report of test_zem_cli (no \"mode\""},
        {"{" + repeated("\"k\":0", 257, ",") + "}", "has an object of more than 256 members"},
        {"[" + repeated("0", 262144, ",") + "]",
         "not a report of test_zem_cli (not a JSON object)"},
        {"[" + repeated("0", 262145, ",") + "]", "holds more than 262144 values"},
        {repeated("0", 262145, "\n"), "holds more than 262144 values"},
        // Brackets in a string, after an escaped quote, do not nest.
        {"[\"" + std::string(40, '[') + "\\\"" + std::string(40, '{') + "\"]",
         "not a report of test_zem_cli (not a JSON object)"}};
    for (const auto& [text, expected] : cases) {
        ReportRecord report{};
        std::string problem;
        EXPECT_FALSE(read_report_text(text, "bounds.json", &report, &problem));
        EXPECT_EQ(problem.substr(0, expected.size()), expected) << text.substr(0, 40);
    }
    ReportRecord report{};
    std::string problem;
    const std::string v2 = contents(fixture("realtime_v2.json"));
    EXPECT_FALSE(read_report_text(
        with(v2, "\"zem2\": {\"state\"", "\"" + std::string(4000, 'z') + "\": {\"state\""), "",
        &report, &problem));
    EXPECT_LT(problem.size(), 300u);
    EXPECT_EQ(problem.substr(problem.size() - 3), "...");
}

TEST(Compare, MedianOfTheLargestFiguresDoesNotOverflow) {
    EXPECT_EQ(median_of({INT64_MAX, INT64_MAX}), INT64_MAX);
    EXPECT_EQ(median_of({0, INT64_MAX}), INT64_MAX / 2);
    EXPECT_EQ(median_of({INT64_MIN, INT64_MAX}), -1);
    EXPECT_EQ(median_of({9000, 8000, 8600, 8100}), 8350);
}

TEST(Compare, ReadsAChainOfPluginsByItsNameInVersion3) {
    ReportRecord plugins{};
    std::string problem;
    ASSERT_TRUE(read_report(fixture("realtime_v3_plugins.json"), &plugins, &problem)) << problem;
    EXPECT_EQ(plugins.schema_version, 3);
    EXPECT_EQ(plugins.cells.at(RtCellKey{1024, "x42-eq - Parametric Equalizer Mono", 1}).streams,
              390);
}

TEST(Compare, ReadsBothVersionsAndTakesTheMedianOfThroughputRuns) {
    Mix mix;
    const ReportRecord& v1 = mix.reports[0];
    EXPECT_EQ(v1.name, "AMD EPYC"); // no host in version 1: the processor
    EXPECT_EQ(v1.schema_version, 1);
    EXPECT_FALSE(v1.cells.at(RtCellKey{1024, "ZEM-2", 1}).dropouts_known);
    const RtCell& held_back = mix.reports[1].cells.at(RtCellKey{4096, "ZEM-2", 1});
    EXPECT_EQ(mix.reports[1].name, "studio");
    EXPECT_FALSE(held_back.known);
    EXPECT_EQ(held_back.state, "not confirmed");
    EXPECT_EQ(held_back.dropouts_per_minute, 1.5);
    const ReportRecord& runs = mix.reports[4];
    EXPECT_EQ(runs.runs, 3u);
    // Medians of 9000, 8000, 8600; of the one run that stored ZEM-2 at
    // 44100; none stored it at 48000.
    EXPECT_EQ(runs.throughput[0].value, 8600);
    EXPECT_TRUE(runs.throughput[2].known && runs.throughput[2].value == 8100);
    EXPECT_FALSE(runs.throughput[3].known);
}

TEST(Compare, RatiosToTheFirstOfEachModeAndOnlyInSomeApart) {
    Mix mix;
    const CompareRow* held = mix.row(mix.comparison.rows, "1024 samples, ZEM-2, 1 core");
    EXPECT_EQ(held->base, 0);
    EXPECT_DOUBLE_EQ(held->cells[1].ratio, 1.25);
    EXPECT_FALSE(held->cells[3].present); // a throughput report has no capacity
    const CompareRow* not_confirmed = mix.row(mix.comparison.rows, "4096 samples, ZEM-2, 1 core");
    EXPECT_FALSE(not_confirmed->cells[1].ratio_known);
    const CompareRow* zem1 = mix.row(mix.comparison.rows, "ZEM-1 cycles/smp. at 44100 Hz");
    EXPECT_EQ(zem1->base, 3);
    EXPECT_DOUBLE_EQ(zem1->cells[4].ratio, 8600.0 / 5967.0);
    ASSERT_EQ(mix.comparison.only_in_some.size(), 1u);
    EXPECT_EQ(mix.comparison.only_in_some[0].label, "64 samples, ZEM-2, 1 core");
    EXPECT_FALSE(mix.comparison.only_in_some[0].cells[2].ratio_known);
    std::vector<std::string> names;
    for (const CompareDifference& difference : mix.comparison.differences) {
        names.push_back(difference.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"processor", "kernel", "governor", "program",
                                               "plan.hold_idle_states", "setup.idle_states",
                                               "readiness.governor"}));

    const std::string text =
        printed_by([&mix](FILE* out) { print_comparison_text(out, mix.reports, &mix.comparison); });
    size_t line = text.find("\n  1024 samples, ZEM-2, 1 core ");
    std::string held_line = text.substr(line, text.find('\n', line + 1) - line);
    size_t v1 = held_line.find(" 6000  - ");
    size_t v2 = held_line.find(" 7500 1.25x  0.4/min ");
    EXPECT_TRUE(v1 != std::string::npos && v1 < v2 && v2 < held_line.find(" 6900 1.15x  0/min"))
        << text;
    EXPECT_NE(text.find("not confirmed  1.5/min"), std::string::npos);
    EXPECT_NE(text.find("\nOnly in some reports"), std::string::npos);
    EXPECT_NE(text.find("  plan.hold_idle_states"), std::string::npos);

    nlohmann::ordered_json doc = comparison_json(mix.reports, &mix.comparison);
    EXPECT_EQ(doc.begin().key(), "schema_version");
    EXPECT_EQ(doc["mode"], "compare");
    EXPECT_EQ(doc["rows"].size(), mix.comparison.rows.size());
    EXPECT_TRUE(doc["only_in_some"][0]["values"][0].is_null());
    EXPECT_TRUE(doc["differences"][4]["values"][0].is_null());
}

TEST(Compare, PictureHasABarPerReportInEachGroupWithItsPattern) {
    Mix mix;
    mix.reports[0].name = "a<b&c";
    std::string svg = compare_svg(mix.reports, &mix.comparison);
    // Two capacity groups of three real-time reports, seven throughput
    // figures of two throughput reports.
    EXPECT_EQ(occurrences(svg, "class=\"bar\""), 2u * 3u + 7u * 2u);
    EXPECT_EQ(occurrences(svg, "class=\"dropout\""), 2u * 3u);
    for (size_t r = 0; r < mix.reports.size(); ++r) {
        std::string fill = "fill" + std::to_string(r);
        EXPECT_EQ(occurrences(svg, "<pattern id=\"" + fill + "\""), 1u);
        EXPECT_GE(occurrences(svg, "url(#" + fill + ")"), 2u); // the legend and the bars
        EXPECT_NE(svg.find("[" + std::to_string(r + 1) + "] "), std::string::npos);
    }
    EXPECT_NE(svg.find("[1] a&lt;b&amp;c, 2026-12-07"), std::string::npos);
    EXPECT_TRUE(well_formed(svg));
}
