// A session's picture, from a run built by hand (a size that plays, one
// that does not, one the idle system could not sustain, one whose process
// failed): well-formed, each size's words in it and inside its width, its
// histograms counting every period; and the judge's bins of period ends.
#include "report/session_report.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <iterator>
#include <numeric>

namespace {
constexpr int64_t PERIOD_NS = 1'000'000;

SessionVerdict size_of(uint32_t frames, uint64_t missed, uint64_t allowance, bool sustainable) {
    SessionVerdict v{};
    v.frames = frames;
    v.period_ns = PERIOD_NS;
    v.threads = 2;
    v.idle = {400, allowance};
    v.idle_sustainable = sustainable;
    v.asked = v.ran = 400;
    v.missed = missed;
    v.allowance = allowance;
    v.plays = sustainable && missed <= allowance;
    v.critical = {{0, 13}, 500'000.0};
    for (uint32_t r = 0; r < 14; ++r) {
        v.routes.push_back({r, 300'000 - 20'000 * r, 400'000 - 20'000 * r, 900'000, 0.0, {}});
    }
    v.hold_ends.bins[8] = 400 - missed;
    v.hold_ends.bins[END_BINS - 1] = missed;
    v.idle_ends.bins[0] = 400 - allowance;
    v.idle_ends.bins[END_BINS_IN_PERIOD + 1] = allowance;
    return v;
}

SessionRun run_of() {
    SessionRun run;
    for (uint32_t r = 0; r < 14; ++r) {
        run.route_names.push_back("Track " + std::to_string(r));
        run.plugin_names.emplace_back();
    }
    run.route_names[0] = "Drums & the longest route name a session could give";
    run.verdicts = {size_of(64, 90, 3, false), size_of(128, 5, 1, true), size_of(256, 0, 1, true)};
    run.failure = "route " + run.route_names[0] +
                  ", plugin ZEM test crash later: crashed with signal 11 (SIGSEGV) in the hold at "
                  "512 samples, in its period 13 of 188";
    run.failed_frames = 512;
    return run;
}

size_t characters(const char* text) {
    size_t count = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        count += (static_cast<unsigned char>(*c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

uint64_t bar_counts(const pugi::xml_node& size, const char* bar) {
    uint64_t total = 0;
    for (const pugi::xpath_node& rect :
         size.select_nodes((std::string(".//rect[@class='") + bar + "']").c_str())) {
        total += std::stoull(rect.node().child_value("title"));
    }
    return total;
}
} // namespace

TEST(SessionSvg, EachSizeSaysItsVerdictInsideThePictureAndCountsEveryPeriod) {
    const SessionRun run = run_of();
    Session session;
    session.name = "song";
    MachineReport machine{};
    const std::string svg = session_svg(&machine, &session, &run);
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(svg.c_str())) << svg.substr(0, 400);
    const pugi::xml_node root = document.child("svg");
    const double width = root.attribute("width").as_double();
    std::string words;
    for (const pugi::xpath_node& found : root.select_nodes("//text")) {
        const pugi::xml_node text = found.node();
        words += std::string(text.child_value()) + " ";
        const double x = text.attribute("x").as_double();
        const double wide = 0.6 * text.attribute("font-size").as_double(11.0) *
                            static_cast<double>(characters(text.child_value()));
        const std::string anchor = text.attribute("text-anchor").as_string("start");
        const double left = anchor == "end" ? x - wide : anchor == "middle" ? x - wide / 2 : x;
        EXPECT_GE(left, 0.0) << text.child_value();
        EXPECT_LE(left + wide, width) << text.child_value();
    }
    for (const char* said :
         {"At 64 samples (1.00 ms, 2 threads): not sustainable at this buffer on this system",
          "At 128 samples (1.00 ms, 2 threads): does not play",
          "missed 5 of 400 periods (the idle system's allows 1; it missed 1 of 400)",
          "At 256 samples (1.00 ms, 2 threads): plays", "At 512 samples: no verdict",
          "in its period 13 of 188", "Drums & the longest", "(2 more in the text report)"}) {
        EXPECT_NE(words.find(said), std::string::npos) << said << "\n" << words;
    }
    EXPECT_NE(words.find("Session song: " + session_verdict(&run) + "."), std::string::npos)
        << words;
    const pugi::xpath_node_set sizes = root.select_nodes("//g[@class='size']");
    ASSERT_EQ(sizes.size(), run.verdicts.size());
    for (size_t s = 0; s < sizes.size(); ++s) {
        const SessionVerdict& v = run.verdicts[s];
        EXPECT_EQ(bar_counts(sizes[s].node(), "hold-bar"), v.ran);
        EXPECT_EQ(bar_counts(sizes[s].node(), "idle-bar"), v.idle.periods);
        EXPECT_EQ(sizes[s].node().select_nodes(".//rect[@class='median']").size(), 12u);
    }
}

TEST(SessionSvg, TheJudgeBinsEveryEndAndPastThePeriodOnlyTheMissed) {
    // Ends at the start, at a bin's edge and just past it, at the period's
    // end and just past it, and far past it.
    const int64_t ends[] = {0, 50'000, 50'001, PERIOD_NS, PERIOD_NS + 1, 5 * PERIOD_NS};
    const uint64_t periods = std::size(ends);
    std::vector<uint64_t> memory[2];
    SessionHold holds[2];
    for (int h = 0; h < 2; ++h) {
        memory[h].resize(session_hold_bytes(periods, 1, 0, 1) / 8 + 1);
        session_hold_place(&holds[h], memory[h].data(), periods, 1, 0, 1);
        for (uint64_t k = 0; k < periods; ++k) {
            holds[h].end_ns[k] = h == 0 ? ends[k] : 1000;
            holds[h].route_ns[k] = PERIOD_NS / 10;
            holds[h].wake_ns[k] = 0;
        }
        session_hold_count(&holds[h], PERIOD_NS);
    }
    // The last miss woke too late for its route's usual tenth of the period.
    holds[0].wake_ns[periods - 1] = PERIOD_NS - PERIOD_NS / 20;
    RouteGraph graph;
    graph.feeds.resize(1);
    const SessionVerdict v =
        judge_session(&holds[1], &holds[0], &graph, {0, 0}, periods, PERIOD_NS, 1, 0.01);
    const uint64_t* bins = v.hold_ends.bins;
    EXPECT_EQ(bins[0], 2u);
    EXPECT_EQ(bins[1], 1u);
    EXPECT_EQ(bins[END_BINS_IN_PERIOD - 1], 1u);
    EXPECT_EQ(bins[END_BINS_IN_PERIOD], 1u);
    EXPECT_EQ(bins[END_BINS - 1], 1u);
    EXPECT_EQ(std::accumulate(bins, bins + END_BINS, uint64_t{0}), v.ran);
    EXPECT_EQ(std::accumulate(bins + END_BINS_IN_PERIOD, bins + END_BINS, uint64_t{0}), v.missed);
    EXPECT_EQ(v.idle_ends.bins[0], periods);
    EXPECT_EQ(v.missed_begun_late, 1u);
}
