// The real-time reports: the JSON document read back as written, what it
// says of a hold, the text's details and the SVG's structure.
#include "report/buffer_summary.h"
#include "report/hold_words.h"
#include "report/offline_words.h"
#include "report/realtime_report.h"
#include "report/realtime_words.h"
#include "report/report_reader.h"
#include "tests/unit/printed_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {
using Json = nlohmann::ordered_json;

// Two buffer sizes on one core: at 64 the idle system missed, at 1024 ZEM-2
// held 900 streams (one period of its hold overflowed the histogram, one
// missed: its allowance), cut by the host's pauses.
struct Sample {
    MachineReport machine{};
    RtPlan plan{};
    std::unique_ptr<RtRunResult> result = std::make_unique<RtRunResult>();
    ReadinessReport readiness;
    Sample() {
        describe_machine(&machine);
        readiness.items = {{"smt", READY_OK, "off", "Fine.", ""},
                           {"steal", READY_UNKNOWN, "no /proc/stat", "Look.", "12 more"}};
        plan.buffers = {64, 1024};
        plan.tests = {RT_ZEM2};
        plan_set_test_loads(&plan);
        plan.core_choices = {1};
        for (uint32_t frames : {64u, 1024u}) {
            result->configs.emplace_back();
            RtConfigResult* config = &result->configs.back();
            *config = RtConfigResult{};
            config->frames = frames;
            config->threads = 1;
            config->period_ns = grid_period_ns(frames, 48000);
            config->idle_done = true;
            config->sustainable = frames == 1024;
            config->idle.periods = 100;
            config->idle.missed = frames == 64 ? 3 : 0;
            histogram_add(&config->idle.lateness, 7000000);
            histogram_add(&config->idle.processing, 500);
            config->harness_cpu_ns_per_period = 2000;
        }
        RtTestResult* test = &result->configs[1].tests[0];
        *test = RtTestResult{};
        test->state = RT_DONE;
        test->kernel_ns_per_sample = 1.8;
        test->kernel_bound = test->search_bound = 11574;
        test->plays = test->per_core[0] = 900;
        test->headroom = test->headroom_per_core[0] = 720;
        test->trials = 12;
        test->per_stream_ns = 2000.0;
        test->speed_spread = 1.3; // the host slowed it down for a while
        test->hold.streams = 900;
        test->hold.periods = 469;
        test->hold.missed = 1;
        test->terms = HoldTerms{3.0, 9, 1, 300, 1};
        test->median_fits = 1500;
        test->shape.periods = 469;
        test->shape.spread = HoldSpread{20000000, 1.4, 2.0, 2.5};
        test->shape.limits.pauses = 3;
        test->shape.limits.pause_longest_ms = 9.0;
        test->shape.limits.pauses_per_minute = 4.0;
        histogram_add(&test->hold.processing, 20000000);
        histogram_add(&test->hold.lateness, HISTOGRAM_LIMIT_NS + 1);
    }
};
} // namespace

TEST(RealtimeReport, JsonReadsBackAndSaysPlaysOnlyOfAHoldWithinItsAllowance) {
    Sample sample;
    Json doc = realtime_json(&sample.machine, &sample.plan, sample.result.get(), &sample.readiness);
    EXPECT_EQ(doc.begin().key(), "schema_version"); // every report starts with it
    const Json& missed = doc["runs"][0];
    EXPECT_EQ(missed["verdict"], NOT_SUSTAINABLE_TEXT);
    EXPECT_TRUE(missed["tests"]["zem2"]["plays"].is_null());
    const Json& held = doc["runs"][1]["tests"]["zem2"];
    EXPECT_EQ(held["plays"], 900);
    EXPECT_EQ(held["streams"], held["plays"]); // older readers read the same count
    EXPECT_EQ(held["hold"]["allowance"], 1);
    EXPECT_EQ(held["hold"]["spread"]["p99"], 1.4);
    // The host's pauses cut the count far below where the median would fit.
    EXPECT_EQ(held["median_fits"], 1500);
    ASSERT_EQ(held["hold"]["limits"].size(), 1u);
    EXPECT_NE(held["median_gap"].get<std::string>().find("900 plays, 0.60 of the 1,500"),
              std::string::npos);
    EXPECT_NE(held["median_gap"].get<std::string>().find("expect up to 1,500"), std::string::npos);
    // A count that stopped at the ceiling is a floor, whatever the gap.
    RtTestResult ceiling = sample.result->configs[1].tests[0];
    ceiling.search_end = END_CEILING;
    ceiling.search_bound = 900;
    EXPECT_EQ(median_gap_sentence(&ceiling, nullptr),
              "900 plays: the search's ceiling itself played (900 prepared), so more may play");
    sample.result->configs[1].tests[0] = ceiling; // and the verdict says so too
    EXPECT_NE(buffer_summary(&sample.plan, &sample.result->configs[1], &sample.readiness)
                  .find("ZEM-2 900 plays: the search's ceiling itself played"),
              std::string::npos);
    // No count it held played, but its holds ran out above one: not "none plays".
    sample.result->configs[1].tests[0].state = RT_NONE_PLAYS;
    sample.result->configs[1].tests[0].search_end = END_HOLDS;
    sample.result->configs[1].tests[0].failed_at = 57;
    EXPECT_NE(buffer_summary(&sample.plan, &sample.result->configs[1], &sample.readiness)
                  .find("ZEM-2 no count it held played, the fewest 57 (the search's holds ran out"),
              std::string::npos);
    sample.result->configs[1].tests[0] = RtTestResult(ceiling);
    sample.result->configs[1].tests[0].search_end = END_NONE;
    EXPECT_NE(doc["runs"][1]["summary"].get<std::string>().find("ZEM-2's speed varied 1.30x"),
              std::string::npos);
    // Holds that ran out where the count that played and the one that
    // failed met: the failed hold names what cut the count; far apart,
    // what lies between is not known, but what failed the hold is said.
    RtTestResult& met = sample.result->configs[1].tests[0];
    met.state = RT_DONE;
    met.search_end = END_HOLDS;
    met.shape.limits = HoldLimits{};
    met.failed_at = 905;
    met.failed_hold.streams = 905;
    met.failed_hold.periods = 412;
    met.failed_hold.missed = 1;
    met.failed_shape.periods = 412;
    met.failed_shape.spread = HoldSpread{20000000, 1.2, 1.5, 1.93};
    EXPECT_NE(median_gap_sentence(&met, nullptr)
                  .find("a hold of 905 failed (1 period missed in 412, the slowest 1.93x the "
                        "median)"),
              std::string::npos);
    const Json failed = realtime_json(&sample.machine, &sample.plan, sample.result.get(),
                                      &sample.readiness)["runs"][1]["tests"]["zem2"]["failed_hold"];
    EXPECT_EQ(failed["streams"], 905);
    EXPECT_EQ(failed["spread"]["max"], 1.93);
    met.failed_at = 1200;
    met.failed_shape.limits.pauses = 2;
    met.failed_shape.limits.pause_longest_ms = 9.5;
    EXPECT_NE(median_gap_sentence(&met, nullptr)
                  .find("holds ran out before it met 1,200, the lowest count that failed, so "
                        "between the two is not known; at 1,200 the host paused it 2 times"),
              std::string::npos);

    // What the writer writes, the reader reads back: every test of every
    // run, a count only where one was held, and every readiness item.
    ReportRecord record{};
    std::string problem;
    ASSERT_TRUE(read_report_text(doc.dump(), "sample.json", &record, &problem)) << problem;
    for (const Json& run : doc["runs"]) {
        for (const auto& [key, test] : run["tests"].items()) {
            const Json& name = doc["plan"]["loads"][0]["name"]; // the sample's one load
            const RtCell& cell = record.cells.at(RtCellKey{run["buffer"], name, run["cores"]});
            EXPECT_EQ(cell.state, test["state"]);
            EXPECT_EQ(cell.known, test["state"] == "done" && !test["streams"].is_null());
            EXPECT_EQ(Json(cell.streams), cell.known ? test["streams"] : Json(0));
            EXPECT_EQ(cell.dropouts_per_minute, run["dropouts"]["per_minute"]);
        }
    }
    ASSERT_EQ(record.readiness.size(), doc["readiness"].size());
    Json read = doc["readiness"]; // with what the reader keeps of each item
    for (size_t i = 0; i < read.size(); ++i) {
        const ReadinessEntry* entry = &record.readiness[i];
        read[i].update({{"name", entry->name}, {"state", entry->state}, {"value", entry->value}});
    }
    EXPECT_EQ(read, doc["readiness"]);
    EXPECT_EQ(doc["readiness"][0]["effect"], nullptr); // none measured: null, never ""

    // A fixed count whose hold missed more than its allowance: nothing in
    // the report says it plays.
    RtTestResult* test = &sample.result->configs[1].tests[0];
    test->state = RT_DOES_NOT_PLAY;
    test->hold.missed = 2;
    sample.plan.fixed_streams = 900;
    doc = realtime_json(&sample.machine, &sample.plan, sample.result.get(), &sample.readiness);
    const Json& fixed = doc["runs"][1]["tests"]["zem2"];
    EXPECT_TRUE(fixed["plays"].is_null());
    EXPECT_EQ(fixed["asked"], 900);
    const std::string summary = doc["runs"][1]["summary"];
    EXPECT_EQ(summary.find(" plays"), std::string::npos) << summary;
    EXPECT_NE(summary.find("900 does not play"), std::string::npos) << summary;
}

TEST(RealtimeReport, SvgHasTwoPanelsPerRunEachWithItsDeadline) {
    Sample sample;
    std::string svg =
        realtime_svg(&sample.machine, &sample.plan, sample.result.get(), &sample.readiness);
    ASSERT_EQ(svg.rfind("<svg ", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    // Rows: the two idle runs and ZEM-2's confirm run.
    EXPECT_EQ(occurrences(svg, "class=\"heading\""), 4u); // the capacity chart's, then the rows'
    EXPECT_EQ(occurrences(svg, "<g class=\"panel\""), 6u);
    EXPECT_EQ(occurrences(svg, "</g>"), 7u);
    EXPECT_EQ(occurrences(svg, "<polyline class=\"capacity-line\""), 1u);
    EXPECT_EQ(occurrences(svg, "class=\"deadline\""), 6u);
    EXPECT_EQ(occurrences(svg, "class=\"overflow\""), 1u);
    EXPECT_GE(occurrences(svg, "class=\"bar\""), 6u);
    EXPECT_NE(svg.find("ZEM-2, 900 play: 1 of 469 periods missed, 1 allowed"), std::string::npos);
    // The verdicts wrap inside the picture: no line runs past the chart.
    for (size_t at = svg.find("class=\"dropouts\""); at != std::string::npos;
         at = svg.find("class=\"dropouts\"", at + 1)) {
        const size_t start = svg.find('>', at) + 1;
        EXPECT_LE(svg.find("</text>", start) - start, 150u);
    }
}

TEST(RealtimeReport, InsideAServerItsFiguresStandBesideOurs) {
    Sample sample;
    Json own = realtime_json(&sample.machine, &sample.plan, sample.result.get(), &sample.readiness);
    EXPECT_EQ(own["plan"]["clock"], "own");
    EXPECT_TRUE(own["runs"][1]["tests"]["zem2"]["hold"]["server"].is_null());

    sample.plan.clock = RT_CLOCK_SERVER;
    sample.plan.server_name = "JACK";
    sample.result->configs[1].tests[0].hold.server =
        ServerFigures{true, 2, 40.0, 60.0, 45.0, 70.0, false, 0};
    Json in = realtime_json(&sample.machine, &sample.plan, sample.result.get(), &sample.readiness);
    EXPECT_EQ(in["plan"]["clock"], "jack");
    EXPECT_EQ(in["runs"][1]["processors"], Json::array());
    const Json& server = in["runs"][1]["tests"]["zem2"]["hold"]["server"];
    EXPECT_EQ(server["load_percent"]["max"], 60.0);
    EXPECT_EQ(server["our_load_percent"]["mean"], 45.0);
    EXPECT_TRUE(server["missed_by_stated_end"].is_null()); // the server stated no end
}

TEST(RealtimeReport, APluginsLogStaysOneBlockOfItsDetail) {
    Sample sample;
    std::snprintf(sample.result->configs[1].tests[0].log, LOG_EXCERPT,
                  "first\r\n\nsecond\x1b[2J\n");
    const std::string text = printed_by([&sample](FILE* out) {
        print_realtime_text(out, &sample.machine, &sample.plan, sample.result.get(),
                            &sample.readiness);
    });
    EXPECT_NE(text.find("the plugins logged: first\n             second\\x1b[2J\n    "),
              std::string::npos)
        << text;
}

// A chain's offline timing flags what its count alone would hide, and only
// that: a plugin that gave nothing of its own for a signal it heard, one
// timed before it settled, one whose cost in the hold was not its offline
// cost by more than our own bookkeeping could make it.
TEST(RealtimeReport, OfflineFlagsNameWhatTheCountAloneWouldHide) {
    struct Case {
        PluginOutputShape output;
        PluginInput input;
        bool settled;
        double offline_ns, inside_ns;
        const char* expected; // a part of the flags; "" none at all
    } cases[] = {
        {PLUGIN_OUTPUT_SILENT, PLUGIN_NOISE, true, 50, 900, "gave silence: did it do any work"},
        {PLUGIN_OUTPUT_SILENT, PLUGIN_SILENCE, true, 50, 60, ""},
        {PLUGIN_OUTPUT_SCALED, PLUGIN_SINE, true, 4000, 8100, "times a constant"},
        {PLUGIN_OUTPUT_INPUT, PLUGIN_NOISE, true, 500, 600, "its input unchanged"},
        {PLUGIN_OUTPUT_SOUND, PLUGIN_NOISE, false, 500, 600, "had not settled after 1,000"},
        {PLUGIN_OUTPUT_SOUND, PLUGIN_NOISE, true, 40000, 90000, "cost 2.25x its offline"},
        {PLUGIN_OUTPUT_SOUND, PLUGIN_NOISE, true, 9000, 3000, "cost 0.33x its offline"},
        {PLUGIN_OUTPUT_NONE, PLUGIN_NOISE, true, 500, 1900, ""}, // 3.8x, but 1.4 us apart
        {PLUGIN_OUTPUT_SOUND, PLUGIN_NOISE, true, 40000, 79000, ""},
    };
    for (const Case& c : cases) {
        RtLoad load{};
        load.kind = RT_PLUGINS;
        load.name = "Kit";
        load.order.input = c.input;
        RtTestResult test{};
        test.state = RT_DONE;
        test.offline_settle_blocks = 1000;
        test.offline_settled = c.settled;
        test.offline_output = c.output;
        test.stream_ns_offline = c.offline_ns;
        test.stream_ns_in_confirm = c.inside_ns;
        const std::string flags = offline_flags(&load, &test);
        if (c.expected[0] == '\0') {
            EXPECT_EQ(flags, "") << c.output;
        } else {
            EXPECT_NE(flags.find(c.expected), std::string::npos) << flags;
            EXPECT_EQ(flags.find("cost"),
                      c.output == PLUGIN_OUTPUT_SOUND ? flags.find("cost") : std::string::npos)
                << "a chain that may have done nothing is not judged on its cost: " << flags;
        }
        test.state = RT_NOT_RUN;
        EXPECT_EQ(offline_flags(&load, &test), "");
    }
}
