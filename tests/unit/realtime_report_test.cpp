// The real-time reports: the JSON document's keys and types as
// docs/json-reports.md documents them, and the SVG's structure.
#include "report/realtime_report.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

namespace {
using Json = nlohmann::ordered_json;

std::set<std::string> keys_of(const Json& object) {
    std::set<std::string> keys;
    for (const auto& item : object.items()) {
        keys.insert(item.key());
    }
    return keys;
}

// Two buffer sizes on one core: at 64 the idle system missed, at 1024 ZEM-2
// held 900 streams (one period of its confirm run overflowed the histogram).
struct Sample {
    MachineReport machine{};
    RtPlan plan{};
    std::unique_ptr<RtRunResult> result = std::make_unique<RtRunResult>();
    ReadinessReport readiness;
    Sample() {
        describe_machine(&machine);
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
        test->sustained = test->per_core[0] = 900;
        test->headroom = test->headroom_per_core[0] = 720;
        test->trials = 12;
        test->per_stream_ns = 2000.0;
        test->speed_spread = 1.3; // the host slowed it down for a while
        test->confirm.streams = 900;
        test->confirm.periods = 469;
        histogram_add(&test->confirm.processing, 20000000);
        histogram_add(&test->confirm.lateness, HISTOGRAM_LIMIT_NS + 1);
    }
};
} // namespace

TEST(RealtimeReport, JsonFollowsTheDocumentedSchema) {
    Sample sample;
    Json doc = realtime_json(&sample.machine, &sample.plan, sample.result.get(), &sample.readiness);
    EXPECT_EQ(doc.begin().key(), "schema_version"); // every report starts with it
    EXPECT_EQ(keys_of(doc),
              (std::set<std::string>{"schema_version", "machine", "mode", "plan", "setup",
                                     "readiness", "root_note", "runs", "failure", "signal"}));
    EXPECT_EQ(keys_of(doc["machine"]),
              (std::set<std::string>{"host", "processor", "physical_cores", "logical_cores", "os",
                                     "kernel", "governor", "program", "compiler", "bits", "date"}));
    EXPECT_EQ(doc["plan"]["tests"], Json::array({"zem2"}));
    EXPECT_EQ(doc["plan"]["cores"], Json::array({1}));
    const Json& missed = doc["runs"][0];
    EXPECT_EQ(keys_of(missed),
              (std::set<std::string>{"buffer", "period_ns", "cores", "processors", "idle",
                                     "verdict", "dropouts", "summary", "tests"}));
    EXPECT_EQ(missed["verdict"], NOT_SUSTAINABLE_TEXT);
    EXPECT_EQ(missed["idle"]["missed"], 3);
    EXPECT_EQ(missed["idle"]["lateness_ns"]["max"], 7000000);
    EXPECT_EQ(missed["tests"]["zem2"]["state"], "not run");
    EXPECT_TRUE(missed["tests"]["zem2"]["streams"].is_null());
    const Json& held = doc["runs"][1]["tests"]["zem2"];
    EXPECT_EQ(keys_of(held),
              (std::set<std::string>{
                  "state", "streams", "headroom", "per_core", "kernel_ns_per_sample",
                  "kernel_ns_per_sample_after", "kernel_bound", "search_bound", "memory_capped",
                  "trials", "crash_signal", "stream_ns_offline", "stream_ns_in_confirm", "worker",
                  "log", "denormals_lost", "misses", "model", "confirm"}));
    EXPECT_EQ(held["streams"], 900);
    EXPECT_EQ(held["model"]["speed_spread"], 1.3);
    EXPECT_NE(doc["runs"][1]["summary"].get<std::string>().find("ZEM-2's speed varied 1.30x"),
              std::string::npos);
    EXPECT_EQ(held["per_core"], Json::array({900}));
    EXPECT_EQ(keys_of(held["confirm"]["processing_ns"]),
              (std::set<std::string>{"p50", "p99", "p999", "max"}));
    EXPECT_EQ(held["confirm"]["lateness_ns"]["max"], HISTOGRAM_LIMIT_NS + 1);
    EXPECT_TRUE(doc["signal"].is_null());
}

TEST(RealtimeReport, SvgHasTwoPanelsPerRunEachWithItsDeadline) {
    Sample sample;
    std::string svg =
        realtime_svg(&sample.machine, &sample.plan, sample.result.get(), &sample.readiness);
    ASSERT_EQ(svg.rfind("<svg ", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    auto count = [&svg](const std::string& text) {
        size_t n = 0;
        for (size_t at = svg.find(text); at != std::string::npos; at = svg.find(text, at + 1)) {
            ++n;
        }
        return n;
    };
    // Rows: the two idle runs and ZEM-2's confirm run.
    EXPECT_EQ(count("class=\"heading\""), 4u); // the capacity chart's, then the rows'
    EXPECT_EQ(count("<g class=\"panel\""), 6u);
    EXPECT_EQ(count("</g>"), 7u);
    EXPECT_EQ(count("<polyline class=\"capacity-line\""), 1u);
    EXPECT_EQ(count("class=\"deadline\""), 6u);
    EXPECT_EQ(count("class=\"overflow\""), 1u);
    EXPECT_GE(count("class=\"bar\""), 6u);
    EXPECT_NE(svg.find("ZEM-2, 900 streams"), std::string::npos);
}

TEST(RealtimeReport, InsideAServerItsFiguresStandBesideOurs) {
    Sample sample;
    Json own = realtime_json(&sample.machine, &sample.plan, sample.result.get(), &sample.readiness);
    EXPECT_EQ(own["plan"]["clock"], "own");
    EXPECT_TRUE(own["runs"][1]["tests"]["zem2"]["confirm"]["server"].is_null());

    sample.plan.clock = RT_CLOCK_SERVER;
    sample.plan.server_name = "JACK";
    sample.result->configs[1].tests[0].confirm.server =
        ServerFigures{true, 2, 40.0, 60.0, 45.0, 70.0, false, 0};
    Json in = realtime_json(&sample.machine, &sample.plan, sample.result.get(), &sample.readiness);
    EXPECT_EQ(in["plan"]["clock"], "jack");
    EXPECT_EQ(in["runs"][1]["processors"], Json::array());
    const Json& server = in["runs"][1]["tests"]["zem2"]["confirm"]["server"];
    EXPECT_EQ(keys_of(server), (std::set<std::string>{"our_load_percent", "load_percent", "xruns",
                                                      "missed_by_stated_end"}));
    EXPECT_EQ(server["load_percent"]["max"], 60.0);
    EXPECT_EQ(server["our_load_percent"]["mean"], 45.0);
    EXPECT_TRUE(server["missed_by_stated_end"].is_null()); // the server stated no end
}
