// The session's verdict sentence over the cases a run can end in: every
// size plays, only the larger ones, a gap, none, and an idle system that
// alone misses too much.
#include "report/session_report.h"

#include <gtest/gtest.h>

namespace {
SessionVerdict size_of(uint32_t frames, bool plays, bool sustainable = true) {
    SessionVerdict v{};
    v.frames = frames;
    v.period_ns = 1'000'000;
    v.plays = plays;
    v.idle_sustainable = sustainable;
    v.threads = 2;
    v.critical = {{0, 1}, 510'000.0};
    v.span_ns = {510'000.0, 510'000.0};
    v.routes = {{1, 410'000, 0, 0, 0.0, {}}, {0, 100'000, 0, 0, 0.0, {}}};
    return v;
}

std::string verdict_of(std::vector<SessionVerdict> sizes) {
    SessionRun run;
    run.route_names = {"Guitar", "Reverb"};
    run.plugin_names = {{}, {"Dragonfly Room Reverb"}};
    run.verdicts = std::move(sizes);
    return session_verdict(&run);
}
} // namespace

TEST(SessionReport, TheVerdictNamesTheSmallestSizeAndWhatBoundsTheOneBelow) {
    EXPECT_EQ(verdict_of({size_of(128, true), size_of(256, true)}), "plays at 128 and above");
    EXPECT_EQ(
        verdict_of({size_of(128, false), size_of(256, true), size_of(1024, true)}),
        "plays at 256 and above; at 128 the route Reverb (Dragonfly Room Reverb) takes 41 % of "
        "the period");
    EXPECT_EQ(verdict_of({size_of(256, true), size_of(512, false), size_of(128, false)}),
              "plays at 256; at 128 the route Reverb (Dragonfly Room Reverb) takes 41 % of the "
              "period");
    EXPECT_EQ(verdict_of({size_of(64, false), size_of(128, false)}),
              "plays at none of the sizes held; at 128 the route Reverb (Dragonfly Room Reverb) "
              "takes 41 % of the period");
    EXPECT_EQ(verdict_of({size_of(64, false, false), size_of(128, true)}),
              "plays at 128 and above; at 64 the idle system alone misses too many periods");
    // On one thread the routes beside the critical path wait for it too.
    SessionVerdict alone = size_of(128, false);
    alone.threads = 1;
    alone.span_ns = {900'000.0, 510'000.0};
    EXPECT_EQ(verdict_of({alone, size_of(256, true)}),
              "plays at 256 and above; at 128 the 2 routes together take 90 % of the period on 1 "
              "thread (the costliest on the critical path, Reverb (Dragonfly Room Reverb), 41 %)");
    // Misses the system began too late still count; the sentence says whose they were.
    SessionVerdict late = size_of(128, false);
    late.missed = 24;
    late.allowance = 9;
    late.missed_begun_late = 13;
    EXPECT_EQ(verdict_of({late, size_of(256, true)}),
              "plays at 256 and above; at 128 it missed 24 periods (9 allowed); the system began "
              "13 of them too late for its routes' usual 51 % of the period to end in time");
    late.missed_begun_late = 12;
    EXPECT_EQ(verdict_of({late, size_of(256, true)}),
              "plays at 256 and above; at 128 the route Reverb (Dragonfly Room Reverb) takes 41 % "
              "of the period");
}
