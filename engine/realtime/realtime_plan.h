// What a real-time run is to do, as a value resolved once from the command
// line: nothing in it points anywhere else, so it can be copied and kept.
// Also the plan's own rules: its defaults, its limits and what it may ask.
#pragma once

#include "engine/realtime/stream_set.h"

#include <cstdint>
#include <string>
#include <vector>

// Limits of a plan; a command line that asks for more is refused, never cut.
constexpr uint32_t MAX_BUFFERS = 16;
constexpr uint32_t MIN_BUFFER = 16;
constexpr uint32_t MAX_BUFFER = 8192;
constexpr uint32_t MIN_RATE = 8000;
constexpr uint32_t MAX_RATE = 384000;
constexpr uint32_t MAX_CORE_CHOICES = 8;
constexpr uint32_t MAX_RT_THREADS = 64;
constexpr double MIN_RUN_SECONDS = 0.5;       // a hold and the idle run
constexpr double MAX_MEMORY_GB = 1e6;         // far past any machine, within setrlimit's range
constexpr uint32_t ALL_CORES = 0;             // a core choice: one thread per physical core
constexpr uint32_t NO_PROCESSOR = UINT32_MAX; // no core chosen
// Stream memory of one test at most (all threads together).
constexpr uint64_t STREAM_MEMORY_CAP = sizeof(void*) == 8 ? uint64_t{1} << 30 : uint64_t{1} << 28;

// What drives the periods.
enum RtClockKind : int32_t {
    RT_CLOCK_OWN = 0,    // our own threads on the monotonic clock
    RT_CLOCK_SERVER = 1, // an audio server's process cycle
};

// The most loads in one plan: the three tests and five chains of plugins.
constexpr uint32_t MAX_LOADS = 8;

// What a stream is: one of the ZEM tests, or one instance (a track) of a
// chain of plugins. The run measures each load the same way.
struct RtLoad {
    RtTestKind kind;       // RT_ZEM1, RT_ZEM2, RT_ZEMM or RT_PLUGINS
    std::string name;      // "ZEM-1", or the plugins' names joined by " + "
    std::string key;       // in the JSON: "zem1", "zem2", "zemm", "plugins1", ...
    PluginLoadOrder order; // RT_PLUGINS: the chain, its settings, preset and input
    // Validation's word on a chain, before any trial (RT_PLUGINS): failed
    // loads are not run; flagged ones are, and the reports say why.
    bool failed;
    std::string flags; // "" none; else what was seen, e.g. "denormals, allocates in run"
    std::string failure;
    std::string wiring; // how the chain is wired, in words (RT_PLUGINS, once it opened)
    std::string heard;  // what its first plugin hears, notes for an instrument included
    std::string log;    // what validation's child printed, "" nothing
};

// A plan's load of a ZEM test.
RtLoad test_load(RtTestKind test);

struct RtPlan {
    uint32_t rate = 48000;
    std::vector<uint32_t> buffers;      // distinct, in the order given
    std::vector<RtTestKind> tests;      // distinct, ascending
    std::vector<RtLoad> loads;          // the tests', then each chain of plugins; at most MAX_LOADS
    std::vector<uint32_t> core_choices; // ALL_CORES or a number of cores; distinct
    double confirm_seconds = 3.0;
    double idle_seconds = 2.0;
    double allowed_miss_fraction = 0.0;
    uint32_t fixed_streams = 0;   // 0: search the capacity; else run exactly this many
    double memory_gb = 0.0;       // the plugins' children's limit (--memory); 0: MEMORY_SHARE
    bool hold_idle_states = true; // keep the processor out of deep idle states
    RtClockKind clock = RT_CLOCK_OWN;
    std::string server_name;   // the audio server's, as its client names it
    std::string server_output; // the port our output is connected to; "" none
};

bool plan_has_test(const RtPlan* plan, RtTestKind test);
// The loads of the tests asked for, in order, before any chain of plugins.
void plan_set_test_loads(RtPlan* plan);
// The most streams of `test` at `frames` samples per period that fit in
// STREAM_MEMORY_CAP.
uint64_t streams_within_memory(RtTestKind test, uint32_t frames);

// What the command line asked beyond the plan's own fields: which options
// were given, and the plugin loads as written.
struct RtPlanAsk {
    bool tests_given = false;          // --tests: tests run beside the plugin loads
    bool buffers_given = false;        // inside a server: the size it must be running
    bool in_server = false;            // the buffer size and the rate are the server's
    uint64_t streams = 0;              // --streams; 0: search the capacity
    std::vector<std::string> plugins;  // each --plugin: URIs joined by '+'
    std::vector<std::string> settings; // each --set
    std::string preset;
    std::string input = PLUGIN_INPUT_NAMES[PLUGIN_NOISE];
    bool notes = false;
};

// Every test at 64 to 1024 samples, on one core and on all.
void plan_set_defaults(RtPlan* plan);

// The names the command line gives them: "ZEM-1", "all", "4".
std::vector<std::string> plan_test_names(const std::vector<RtTestKind>& tests);
std::vector<std::string> plan_core_names(const std::vector<uint32_t>& choices);

// The plan's rules across its options, applied to a plan whose fields hold
// the values given: its tests sorted, its loads set, its fixed count. On a
// refusal returns false with one line in `problem`.
bool plan_resolve(const RtPlanAsk* ask, RtPlan* plan, std::string* problem);
