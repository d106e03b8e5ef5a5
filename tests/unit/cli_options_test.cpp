// The console runner's command line: defaults, good values at their edges,
// and each refusal's one line. (Exit statuses: tests/e2e.)
#include "cli/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {
bool parse(std::vector<std::string> args, CliOptions* options, std::string* problem) {
    std::vector<const char*> argv{"test_zem_cli"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    return parse_cli_options(static_cast<int>(argv.size()), argv.data(), options, problem);
}

// "first,first+step,..." with `count` values.
std::string series(uint32_t first, uint32_t step, uint32_t count) {
    std::string text = std::to_string(first);
    for (uint32_t i = 1; i < count; ++i) {
        text += "," + std::to_string(first + i * step);
    }
    return text;
}
} // namespace

TEST(CliOptions, DefaultsAndGoodValues) {
    CliOptions o{};
    std::string problem;
    ASSERT_TRUE(parse({}, &o, &problem));
    EXPECT_EQ(o.command, CLI_THROUGHPUT);
    EXPECT_EQ(o.filter_ms, 20000);
    EXPECT_EQ(o.repeat, 1u);
    EXPECT_FALSE(o.json);
    EXPECT_EQ(o.plan.buffers, (std::vector<uint32_t>{64, 128, 256, 512, 1024}));
    EXPECT_EQ(o.plan.tests, (std::vector<RtTestKind>{RT_ZEM1, RT_ZEM2, RT_ZEMM}));
    EXPECT_EQ(o.plan.core_choices, (std::vector<uint32_t>{1, ALL_CORES}));
    EXPECT_EQ(o.plan.fixed_streams, 0u);
    EXPECT_TRUE(o.plan.hold_idle_states);
    ASSERT_TRUE(parse({"--seconds", "0.25", "--repeat", "1000", "--json"}, &o, &problem));
    EXPECT_EQ(o.filter_ms, 250);
    EXPECT_EQ(o.repeat, 1000u);
    EXPECT_TRUE(o.json);
    ASSERT_TRUE(parse({"--seconds", "3600"}, &o, &problem));
    EXPECT_EQ(o.filter_ms, 3600000);
    ASSERT_TRUE(parse({"--seconds", "0.0001"}, &o, &problem));
    EXPECT_EQ(o.filter_ms, 1);
}

TEST(CliOptions, RealtimeValuesLandInThePlan) {
    CliOptions o{};
    std::string problem;
    // Numbers are decimal: 0100 is a hundred, not octal 64.
    ASSERT_TRUE(parse({"realtime", "--buffers", "0100,16,8192", "--tests", "zem-m,ZEM1", "--cores",
                       "ALL,3", "--rate", "44100", "--streams", "12", "--allow-idle-states",
                       "--allowed-misses", "0.5", "--json", "--svg", "x.svg"},
                      &o, &problem))
        << problem;
    EXPECT_EQ(o.command, CLI_REALTIME);
    EXPECT_EQ(o.plan.buffers, (std::vector<uint32_t>{100, 16, 8192}));
    EXPECT_EQ(o.plan.tests, (std::vector<RtTestKind>{RT_ZEM1, RT_ZEMM}));
    EXPECT_EQ(o.plan.core_choices, (std::vector<uint32_t>{ALL_CORES, 3}));
    EXPECT_EQ(o.plan.rate, 44100u);
    EXPECT_EQ(o.plan.fixed_streams, 12u);
    EXPECT_FALSE(o.plan.hold_idle_states);
    EXPECT_EQ(o.plan.allowed_miss_fraction, 0.5);
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.svg_path, "x.svg");
    EXPECT_EQ(o.expect_frames, 0u);
    ASSERT_TRUE(parse({"realtime", "--buffers", series(16, 16, MAX_BUFFERS), "--cores",
                       series(1, 1, MAX_CORE_CHOICES)},
                      &o, &problem))
        << problem;
    ASSERT_TRUE(parse({"realtime", "--server", "JACK", "--buffers", "256", "--rate", "44100",
                       "--connect", "system:playback_1"},
                      &o, &problem));
    EXPECT_EQ(o.server, "jack");
    EXPECT_EQ(o.connect, "system:playback_1");
    EXPECT_EQ(o.expect_frames, 256u);
    EXPECT_EQ(o.expect_rate, 44100u);
    ASSERT_TRUE(parse({"realtime", "--server", "jack"}, &o, &problem));
    EXPECT_EQ(o.expect_frames + o.expect_rate, 0u);
    ASSERT_TRUE(parse({"check", "--json"}, &o, &problem));
    EXPECT_EQ(o.command, CLI_CHECK);
    EXPECT_TRUE(o.json);
    ASSERT_TRUE(parse({"compare", "a.json", "b.json", "c.json", "--svg", "c.svg"}, &o, &problem));
    EXPECT_EQ(o.command, CLI_COMPARE);
    EXPECT_EQ(o.compare_files, (std::vector<std::string>{"a.json", "b.json", "c.json"}));
    EXPECT_EQ(o.svg_path, "c.svg");
    ASSERT_TRUE(parse({"realtime", "--help"}, &o, &problem));
    EXPECT_TRUE(o.help);
    EXPECT_NE(o.help_text.find("--allow-idle-states"), std::string::npos);
}

TEST(CliOptions, RefusalsSayInOneLineWhatIsWrong) {
    const std::string cores = " to " + std::to_string(MAX_RT_THREADS) + ", not '";
    const std::string memory =
        " samples (at most " + std::to_string(streams_within_memory(RT_ZEM1, MAX_BUFFER)) + ")";
    const struct {
        std::vector<std::string> args;
        std::string problem;
    } refusals[] = {
        {{"--seconds", "0"},
         "--seconds takes a number of seconds more than 0 and at most 3600, "
         "not '0'"},
        {{"--seconds", "-1"}, "not '-1'"},
        {{"--seconds", "abc"}, "not 'abc'"},
        {{"--seconds", "3601"}, "not '3601'"},
        {{"--seconds", "1e3"}, "not '1e3'"},
        {{"--seconds", "nan"}, "not 'nan'"},
        {{"--seconds", "1.2.3"}, "not '1.2.3'"},
        {{"--seconds"}, "--seconds"},
        {{"--repeat", "0"}, "--repeat takes a whole number from 1 to 1000, not '0'"},
        {{"--repeat", "1001"}, "not '1001'"},
        {{"--repeat", "2.5"}, "not '2.5'"},
        {{"--repeat", "99999999999999999999"}, "not '99999999999999999999'"},
        {{"--bogus"}, "--bogus"},
        {{"realtime", "--rate", "44100.5"},
         "--rate takes a whole number from 8000 to 384000, "
         "not '44100.5'"},
        {{"realtime", "--buffers", "8"}, "--buffers takes a whole number from 16 to 8192, not"},
        {{"realtime", "--buffers", "0x40"}, "not '0x40'"},
        {{"realtime", "--buffers", "64,x"}, "not 'x'"},
        {{"realtime", "--buffers", series(16, 16, 18)}, "--buffers takes at most 16 sizes, not 18"},
        {{"realtime", "--buffers", "64,128,64"}, "--buffers names 64 twice"},
        {{"realtime", "--tests", "zem1,ZEM-1"}, "--tests names ZEM-1 twice"},
        {{"realtime", "--tests", "ZEM-3"}, "--tests takes ZEM-1, ZEM-2 or ZEM-M, not 'ZEM-3'"},
        {{"realtime", "--tests", "1"}, "not '1'"},
        {{"realtime", "--cores", "1,1"}, "--cores names 1 twice"},
        {{"realtime", "--cores", "all,2,ALL"}, "--cores names all twice"},
        {{"realtime", "--cores", series(1, 1, 9) + ",all"},
         "--cores takes at most 8 core counts, "
         "not 10"},
        {{"realtime", "--cores", "0"}, "--cores takes all or a whole number from 1" + cores + "0'"},
        {{"realtime", "--cores", std::to_string(MAX_RT_THREADS + 1)}, cores},
        {{"realtime", "--streams", "0"}, "--streams takes a whole number of at least 1, not '0'"},
        {{"realtime", "--streams", "1.5"}, "not '1.5'"},
        {{"realtime", "--streams", "50000000"},
         "--streams 50000000 is more than memory allows "
         "for ZEM-1 at 1024 samples (at most "},
        {{"realtime", "--server", "jack", "--buffers", "8192", "--streams", "50000000"},
         "for ZEM-1 at 8192" + memory},
        {{"realtime", "--allowed-misses", "2"},
         "--allowed-misses takes a fraction from 0 to 1, "
         "not '2'"},
        {{"realtime", "--confirm", "0.1"}, "--confirm takes a number of seconds from 0.5 to 3600"},
        {{"realtime", "--seconds", "2"}, "realtime excludes --seconds"},
        {{"--repeat", "2", "realtime"}, "realtime excludes --repeat"},
        {{"check", "--seconds", "2"}, "check excludes --seconds"},
        {{"realtime", "--connect", "system:playback_1"}, "--connect requires --server"},
        {{"realtime", "--server", "jack", "--cores", "1"}, "excludes --cores"},
        {{"realtime", "--server", "jack", "--buffers", "64,128"}, "give at most one --buffers"},
        {{"realtime", "--server", "pulse"}, "--server pulse not in {jack}"},
        {{"compare", "a.json"}, "compare takes at least two reports, not 1"},
    };
    for (const auto& refusal : refusals) {
        CliOptions o{};
        std::string problem;
        std::string args;
        for (const std::string& arg : refusal.args) {
            args += arg + " ";
        }
        EXPECT_FALSE(parse(refusal.args, &o, &problem)) << args;
        EXPECT_NE(problem.find(refusal.problem), std::string::npos) << args << ": " << problem;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << args << ": " << problem;
    }
}

TEST(CliOptions, LongInputIsEchoedCut) {
    const std::string text(10000, '7');
    const std::vector<std::vector<std::string>> lines{{"realtime", "--buffers", text},
                                                      {"realtime", text},
                                                      {"realtime", "--server", text},
                                                      {"realtime", "--plugin", "+" + text}};
    for (const std::vector<std::string>& args : lines) {
        CliOptions o{};
        std::string problem;
        EXPECT_FALSE(parse(args, &o, &problem));
        EXPECT_NE(problem.find(std::string(79, '7') + "..."), std::string::npos) << problem;
        EXPECT_EQ(std::count(problem.begin(), problem.end(), '\'') % 2, 0) << problem;
        EXPECT_LT(problem.size(), 200u) << problem;
    }
}
