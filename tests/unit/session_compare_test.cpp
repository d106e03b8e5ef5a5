// Session reports compared: read into their record (an older report without
// its mode too), lined up by route and size with what only one has apart,
// refused when mixed with other kinds or drawn, refused by name when their
// indexes or bounds are wrong, and cut or garbled copies refused in one line.
#include "cli/compare_command.h"
#include "report/session_compare.h"
#include "tests/fuzz/printable_line.h"
#include "tests/unit/printed_text.h"
#include "tests/unit/report_fixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace {
// The text with the first `from` replaced by `to`.
std::string with(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    return at == std::string::npos ? "" : text.replace(at, from.size(), to);
}

struct Pair {
    std::vector<ReportRecord> reports{2};
    SessionComparison comparison;
    Pair() {
        std::string problem;
        EXPECT_TRUE(read_report(fixture("session_studio.json"), &reports[0], &problem)) << problem;
        EXPECT_TRUE(read_report(fixture("session_laptop.json"), &reports[1], &problem)) << problem;
        comparison = compare_sessions(reports);
    }
};

const SessionRow* find_row(const std::vector<SessionRow>& rows, const std::string& label) {
    for (const SessionRow& row : rows) {
        if (session_row_label(&row) == label) {
            return &row;
        }
    }
    ADD_FAILURE() << "no row " << label;
    return &rows.front();
}

std::string problem_of(const std::string& text) {
    ReportRecord report{};
    std::string problem;
    EXPECT_FALSE(read_report_text(text, "hostile.json", &report, &problem)) << text.substr(0, 80);
    return problem;
}
} // namespace

TEST(SessionCompare, ReadsASessionReportAndOneWithoutItsMode) {
    const std::string text = contents(fixture("session_studio.json"));
    const std::string versions[] = {
        text, with(with(text, "\"schema_version\": 4,", ""), "\"mode\": \"session\",", "")};
    for (size_t v = 0; v < 2; ++v) {
        ReportRecord report{};
        std::string problem;
        ASSERT_TRUE(read_report_text(versions[v], "studio.json", &report, &problem)) << problem;
        const SessionReportRecord* session = &report.session_report;
        EXPECT_TRUE(report.session && !report.realtime);
        EXPECT_EQ(report.name, "studio");
        EXPECT_EQ(session->name, "evening mix");
        ASSERT_EQ(session->routes.size(), 5u);
        EXPECT_EQ(session->routes[1].uris.size(), 2u);
        ASSERT_EQ(session->sizes.size(), 3u);
        const SessionSizeFigures* size = &session->sizes[1];
        EXPECT_EQ(size->frames, 128);
        EXPECT_EQ(size->threads, 2);
        EXPECT_EQ(size->periods_asked, 1125);
        EXPECT_EQ(size->span_ns.size(), 2u);
        EXPECT_EQ(session->routes[size->routes[0].route].name, "Reverb"); // the costliest
        EXPECT_EQ(size->routes[0].plugins[0].name, "Dragonfly Room Reverb");
        EXPECT_EQ(report.settings.back().name, "session.hold_seconds");
        EXPECT_EQ(report.settings.back().text, "3");
        EXPECT_EQ(report.schema_version, v == 0 ? 4 : 1);
    }
}

TEST(SessionCompare, LinesUpRoutesAndSizesAndKeepsWhatOnlyOneHasApart) {
    Pair pair;
    // Five routes in both; the laptop's Bass only in it.
    ASSERT_EQ(pair.comparison.routes.size(), 5u);
    const SessionRow* bass = find_row(pair.comparison.only_in_some, "route Bass (audio track)");
    EXPECT_FALSE(bass->cells[0].present);
    const SessionRow* reverb =
        find_row(pair.comparison.rows, "128 samples, 2 threads: Reverb median");
    EXPECT_EQ(reverb->base, 0);
    const double studio = reverb->cells[0].value;
    EXPECT_DOUBLE_EQ(reverb->cells[1].ratio, reverb->cells[1].value / studio);
    // The laptop's route order differs (Bass is its sixth route): lined up by name.
    EXPECT_EQ(pair.reports[1].session_report.routes[reverb->cells[1].route].name, "Reverb");
    const SessionRow* verdict = find_row(pair.comparison.rows, "128 samples, 2 threads: verdict");
    EXPECT_FALSE(verdict->cells[0].ratio_known);
    // 64 only in the studio's, 512 only in the laptop's; the Bass's times apart at 128.
    for (const char* label :
         {"64 samples, 2 threads: verdict", "512 samples, 2 threads: span on 1 thread",
          "128 samples, 2 threads: Bass median"}) {
        const SessionRow* apart = find_row(pair.comparison.only_in_some, label);
        EXPECT_EQ(apart->base, -1);
        EXPECT_FALSE(apart->cells[0].ratio_known || apart->cells[1].ratio_known);
    }
    for (const SessionRow& row : pair.comparison.rows) {
        EXPECT_TRUE(row.size.frames == 128 || row.size.frames == 256) << session_row_label(&row);
    }

    const std::string text = printed_by(
        [&pair](FILE* out) { print_session_comparison_text(out, pair.reports, &pair.comparison); });
    EXPECT_NE(text.find("\nAt 128 samples, 2 threads: 2.667 ms a period"), std::string::npos);
    EXPECT_NE(text.find("  verdict                     plays                        does not play"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  At 512 samples, 2 threads\n"), std::string::npos);
    EXPECT_NE(text.find("  [2] plays at 256 and above; at 128 the route Reverb"),
              std::string::npos);
    const nlohmann::ordered_json doc = session_comparison_json(pair.reports, &pair.comparison);
    EXPECT_EQ(doc["reports"][1]["mode"], "session");
    EXPECT_EQ(doc["rows"].size(), pair.comparison.rows.size());
    EXPECT_TRUE(doc["only_in_some"][0]["values"][0].is_null());

    // Two routes of one name and kind are told apart by their place.
    std::vector<ReportRecord> twice = pair.reports;
    twice[1].session_report.routes[2].name = "Vocal";
    const SessionComparison renamed = compare_sessions(twice);
    find_row(renamed.only_in_some, "route Vocal #2 (audio track)");
}

TEST(SessionCompare, RefusesAMixOfKindsAndAPictureInOneLine) {
    const std::vector<std::vector<std::string>> cases = {
        {fixture("session_studio.json"), fixture("realtime_v2.json")},
        {fixture("throughput_v1.json"), fixture("session_laptop.json")}};
    for (const std::vector<std::string>& files : cases) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(run_compare_command(files, false, ""), 2);
        const std::string error = testing::internal::GetCapturedStderr();
        EXPECT_EQ(occurrences(error, "\n"), 1u);
        EXPECT_NE(error.find("session reports compare only with session reports"),
                  std::string::npos);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_compare_command({fixture("session_studio.json"), fixture("session_laptop.json")},
                                  false, "/tmp/never-drawn.svg"),
              2);
    EXPECT_EQ(occurrences(testing::internal::GetCapturedStderr(), "\n"), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(SessionCompare, RefusesAMalformedSessionReportByName) {
    const std::string text = contents(fixture("session_studio.json"));
    const std::string first_size = "\"frames\": 64,";
    const std::pair<std::string, std::string> cases[] = {
        {with(text, "\"route\": 4,", "\"route\": 5,"),
         "sizes[0].routes[0].route is 5, not a route of the session's 5"},
        {with(text, "\"route\": 4,", "\"route\": 1,"), "sizes[0].routes[2].route repeats route 1"},
        {with(text, first_size, "\"frames\": 128,"),
         "sizes[1] holds 128 samples on 2 threads again"},
        {with(text, first_size, "\"frames\": 0,"), "sizes[0].frames is 0, not from 16 to 8192"},
        {with(text, "\"threads\": 2,", "\"threads\": 0,"),
         "sizes[0].threads is 0, not from 1 to 64"},
        {with(text, "\"routes\": [\n          1,", "\"routes\": [\n          9,"),
         "sizes[0].critical_path.routes[0] is 9, not a route of the session's 5"},
        {with(text, "\"span_ns\"", "\"spans\""), "sizes[0].span_ns is missing"},
        {with(text, "\"mode\": \"session\"", "\"mode\": \"sessions\""),
         "a \"sessions\" report, not a throughput, real-time or session one"},
        // A session's one document among throughput lines.
        {contents(fixture("throughput_v1.json")) + "{\"mode\": \"session\"}\n",
         "line 2: a session report among throughput lines"}};
    for (const auto& [hostile, expected] : cases) {
        ASSERT_FALSE(hostile.empty()) << expected;
        EXPECT_EQ(problem_of(hostile), expected);
    }
    // A named miss's plugin must be one that ran in its route.
    const std::string laptop = contents(fixture("session_laptop.json"));
    EXPECT_EQ(problem_of(with(laptop, "\"plugin\": 0,", "\"plugin\": 1,")),
              "sizes[0].misses[0].plugin is 1, not a plugin that ran in route 4");
}

// Cut at every length step and with digits made nines (valid JSON, hostile
// figures), each copy is refused in one printable line or read and compared.
TEST(SessionCompare, CutOrGarbledCopiesAreRefusedInOneLineOrCompared) {
    size_t refused = 0;
    size_t compared = 0;
    for (const char* name : {"session_studio.json", "session_laptop.json"}) {
        const std::string text = contents(fixture(name));
        std::vector<std::string> copies;
        for (size_t at = 0; at < text.size(); at += 61) {
            copies.push_back(text.substr(0, at));
            std::string garbled = text;
            for (size_t digit = text.find_first_of("0123456789", at);
                 digit != std::string::npos && digit < at + 61;
                 digit = text.find_first_of("0123456789", digit + 1)) {
                garbled[digit] = '9';
            }
            copies.push_back(garbled);
        }
        for (const std::string& copy : copies) {
            std::vector<ReportRecord> reports(2);
            std::string problem;
            if (!read_report_text(copy, "copy.json", &reports[0], &problem)) {
                EXPECT_TRUE(printable_line(problem) && problem.size() < 300) << problem;
                ++refused;
                continue;
            }
            std::string second;
            ASSERT_TRUE(read_report(fixture("session_laptop.json"), &reports[1], &second));
            const SessionComparison comparison = compare_sessions(reports);
            const std::string shown = printed_by(
                [&](FILE* out) { print_session_comparison_text(out, reports, &comparison); });
            EXPECT_FALSE(shown.empty() || session_comparison_json(reports, &comparison).empty());
            ++compared;
        }
    }
    EXPECT_GT(refused, 100u);
    EXPECT_GT(compared, 10u);
}
