// A whole real-time run: for each core count and buffer size, the idle
// system first, then the capacity search of each test, with every figure the
// reports need. What drives the periods is a PeriodDriver (our own clock or
// an audio server's cycle); the run knows only that contract.
#pragma once

#include "engine/realtime/capacity_search.h"
#include "engine/realtime/histogram.h"
#include "engine/realtime/period_driver.h"
#include "engine/realtime/realtime_plan.h"
#include "engine/realtime/stream_set.h"
#include "platform/platform_engine.h"
#include "platform/platform_realtime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Probes: a quarter of a second, at least 16 periods.
constexpr double SHORT_TRIAL_SECONDS = 0.25;
constexpr uint64_t SHORT_TRIAL_MIN_PERIODS = 16;
// Before every trial counts, its streams run this long: caches, the
// plugins' first blocks and the thread's wake-ups settle.
constexpr double WARMUP_SECONDS = 0.1;
constexpr uint64_t WARMUP_MIN_PERIODS = 8;
constexpr uint32_t MAX_SEARCH_TRIALS = 60;
// Holds a cell may run, and of them those that play their whole length:
// a failed hold stops at its first miss past the allowance, so most cost
// a fraction of the confirm's length.
constexpr uint32_t MAX_HOLDS = 5;
constexpr uint32_t MAX_PLAYED_HOLDS = 3;
// The run's time for its searches: each may spend its probes and this
// many holds' lengths with their warm-ups, and what one leaves unspent
// goes to those after it; a search whose share ran out reports the
// largest count that played. The default plan's 30 searches at 3 s
// holds so spend at most about 5 minutes. A plan of fewer searches gives
// each more, up to MAX_HOLDS, within what those 30 would have spent.
constexpr double SEARCH_HOLD_LENGTHS = 3.0;
constexpr uint32_t DEFAULT_PLAN_SEARCHES = 30;

// One trial as the reports show it.
struct RtFigures {
    uint32_t streams;
    uint64_t periods;
    uint64_t missed;
    Histogram processing;
    Histogram lateness;
    ServerFigures server; // inside an audio server only
    MissCounts misses;    // `missed` by cause
    uint32_t mark_count;
    MissMark marks[MAX_MISS_MARKS];
};

// What a report keeps of a chain's log: its first lines (the whole log is
// bounded by the host; a test's result is plain memory a child hands back).
constexpr uint32_t LOG_EXCERPT = 512;
// The search's ceiling over the kernel-alone bound: the streams do not run
// faster than the kernel alone in the cache, but one timing of it in a
// slow spell of the host (up to 1.8x here) must not cap the count.
constexpr double CEILING_OVER_BOUND = 1.5;
// Instances of a chain of plugins a thread prepares at most: some 3 GB of
// the largest plugins' buffers here, far past what a core runs of any.
constexpr uint64_t MAX_PLUGIN_INSTANCES = 16384;
// The children that run plugins may allocate this share of the memory the
// system had available when the run began (--memory sets it instead): the
// rest is left to the system and the parent, which a kill must not reach.
constexpr double MEMORY_SHARE = 0.75;
constexpr double BYTES_PER_GB = 1e9;
// A chain's instances are opened in batches as the trials ask for them:
// this many a thread first, then at least twice as many each batch.
constexpr uint32_t FIRST_PREPARED = 16;
// A batch whose estimate (the memory the instances so far took, each) comes
// past this share of the limit is cut to what fits: instances take more as
// they first run than as they open (ir.lv2 some 15 % more), and a plugin
// refused memory in instantiate may crash rather than fail.
constexpr double MEMORY_MARGIN = 0.75;

enum RtTestState : int32_t {
    RT_NOT_RUN = 0,       // not asked for, or the idle system already missed
    RT_DONE = 1,          // searched: a hold played
    RT_NONE_PLAYS = 2,    // no hold played, not even of one stream
    RT_INTERRUPTED = 3,   // stopped by a signal
    RT_NO_MEMORY = 4,     // the streams could not be allocated
    RT_FAILED = 5,        // the driver could not go on (the audio server went away...)
    RT_PLAYS = 6,         // a fixed count (--streams) played its hold
    RT_DOES_NOT_PLAY = 7, // a fixed count missed more periods than the idle allowance
};

// The terms a hold was judged on (hold_rule.h): its length asked, the
// periods it ran first uncounted, its allowance, and the idle run's.
struct HoldTerms {
    double seconds;
    uint64_t warmup_periods;
    uint64_t allowance;
    uint64_t idle_periods;
    uint64_t idle_missed;
};

struct RtTestResult {
    RtTestState state;
    double kernel_ns_per_sample; // the kernel alone, one stream in the cache
    double kernel_ns_after;      // the same, timed again after the search (0: not timed)
    uint32_t kernel_bound;       // all threads: threads / (rate * kernel_ns_per_sample)
    uint32_t search_bound;       // the search's ceiling: kernel_bound, or less for memory
    bool memory_capped;          // the ceiling cut to the streams' memory cap
    bool instances_capped;       // the ceiling cut to MAX_PLUGIN_INSTANCES a thread
    uint32_t plays;              // the count that played (RT_DONE), or the fixed count asked
    uint32_t headroom;
    uint32_t median_fits; // the hold's median period would just fit here (hold_shape.h)
    uint32_t per_core[MAX_RT_THREADS];          // sustained, as the threads split it
    uint32_t headroom_per_core[MAX_RT_THREADS]; // headroom, likewise
    uint32_t trials;
    RtFigures hold;  // the hold the count rests on, the last that failed, or the fixed count's
    HoldTerms terms; // what `hold` was judged on
    HoldShape shape; // what `hold`'s periods show
    // A search's hold at failed_at, and what its periods show.
    RtFigures failed_hold;
    HoldShape failed_shape;
    uint32_t holds;               // holds run
    double harness_ns_per_stream; // our own cost a stream a period, with the load's work left out
    MissCounts misses;            // of every trial, by cause
    uint64_t periods;             // of every trial
    uint64_t spent_periods;       // of every trial, warm-ups included: what its search spent
    double fixed_ns; // processing time ≈ fixed_ns + per_stream_ns · streams a thread
    double per_stream_ns;
    double tail_ratio;    // the spread's tail at the confirm's odds over its median
    SearchEnd search_end; // why the search stopped
    uint32_t resolution;  // what `sustained` is known to, in streams
    // One stream's time a period: offline (the kernel alone, or one instance
    // of a chain block after block), and inside the confirm that held (its
    // median work over the busiest thread's streams, less the fixed part).
    double stream_ns_offline;
    double stream_ns_in_confirm;
    // A chain of plugins, before its offline timing: the blocks it ran to
    // settle (plugin_cost.h), whether it did, and what it gave then.
    uint64_t offline_settle_blocks;
    bool offline_settled;
    PluginOutputShape offline_output;
    // A chain of plugins: its workers over every trial, on their own threads
    // outside the periods (all threads' loads together), and the start of
    // what its plugins logged.
    PluginWorkerStats worker;
    char log[LOG_EXCERPT];
    // Trials after which a measuring thread found flush-to-zero or
    // denormals-are-zero cleared (the streams' code, a plugin, turned it off).
    uint32_t denormals_lost;
    // A chain of plugins whose trials' process failed: the signal that
    // ended it (ours for a hang); -1 when it ended early by itself; 0 none.
    // `failure` says how, naming the stage: "no answer in trial after 13 s".
    int32_t crash_signal;
    char failure[160];
    uint32_t failed_at; // the smallest count whose confirm failed; 0: none
    // A chain of plugins stopped by the memory limit: the count that could
    // not be prepared (0: none was refused), and the memory the child held
    // at the most instances it prepared (0: not measured).
    uint32_t memory_refused_at;
    uint32_t memory_prepared;
    uint64_t memory_used_bytes;
    uint64_t memory_base_bytes; // the child's before the first instance
    double speed_spread; // the trials' slowest time a stream over their fastest (capacity_search.h)
};

// The idle run's length: as long as a hold at least, so that its misses
// give a hold's allowance.
double idle_seconds(const RtPlan* plan);
// The periods of a search's trials at `frames`: a probe, the warm-up
// before every trial, and a hold.
struct SearchPeriods {
    uint64_t probe;
    uint64_t warmup;
    uint64_t hold;
};
SearchPeriods search_periods(const RtPlan* plan, uint32_t frames);

// How far the machine's speed moved during a test's search: the larger of
// its trials' spread and the kernel alone after the search against before
// (1: steady; 0: not measured). From SPEED_SPREAD_NOTE the figure moves with it.
double test_speed_change(const RtTestResult* test);

struct RtConfigResult {
    uint32_t frames;
    uint32_t threads;
    uint32_t processors[MAX_RT_THREADS];
    int64_t period_ns;
    bool idle_done;   // the idle run completed
    bool sustainable; // the idle system held
    RtFigures idle;
    int64_t harness_cpu_ns_per_period; // processor time per period of the idle loop, -1 unknown
    RtTestResult tests[MAX_LOADS];     // each of the plan's loads, in its order
    HoldShape idle_shape; // the idle run's periods: the host's pauses where no load can cause them
    // The system's own dropouts: the idle run's misses, where no load can
    // cause one; a loaded hold's misses are the load's.
    MissCounts dropouts;
    double dropout_minutes;
    double dropouts_per_minute;
};

// The idle floor at one buffer size with the processor held out of its deep
// idle states and without, for the readiness item it backs.
struct IdleStateEffect {
    bool measured;
    uint32_t frames;
    RtFigures held;
    RtFigures free;
};

struct RtRunResult {
    RtStep memory_lock;
    RtStep cores;
    RtStep idle_states;
    ThreadSteps thread_steps; // of the first measuring thread of the first trial
    bool thread_steps_known;
    uint32_t physical_cores;
    uint32_t processors[MAX_RT_THREADS];
    std::vector<RtConfigResult> configs;
    int stop_signal;     // 0 when the run was not stopped
    std::string failure; // "", or why the run could not go on
    // For the readiness items: the hypervisor's steal on the run's cores
    // before and after it (-1: not counted), and the run's length (0: it
    // ended before it began).
    int64_t steal_before_ns;
    int64_t steal_after_ns;
    int64_t elapsed_ns;
    IdleStateEffect idle_effect;
    uint64_t memory_limit_bytes; // what each child that runs plugins may allocate; 0 none
};

// The system calls a run makes outside its periods: RT_SYSTEM is the
// machine's own; a test passes a scripted one (a memory cap that bites, a
// child that crashes) without touching the machine.
struct RtRunSystem {
    void (*lock_memory)(RtStep* step);
    void (*hold_idle_states)(RtStep* step);
    void (*release_idle_states)();
    void (*stall_counters)(uint32_t processor, int64_t thread_id, RtStallCounters* counters);
    double (*throttle_share)();
    void* (*shared_alloc)(size_t bytes);
    void (*shared_free)(void* block, size_t bytes);
    // Runs entry(parameter) in a child process and says how it ended
    // (platform_run_in_child).
    void (*run_in_child)(const ChildTask* task, ChildEnd* end, int* stop_signal);
    uint64_t (*memory_available)();       // platform_memory_available
    uint64_t (*memory_used)();            // platform_memory_used
    bool (*limit_memory)(uint64_t bytes); // platform_limit_memory
};
extern const RtRunSystem RT_SYSTEM;

// The machine's physical cores, found once before the run (the command
// line checks --cores against them): one logical processor of each.
struct RtCores {
    uint32_t count;
    uint32_t processors[MAX_RT_THREADS];
    RtStep step; // the report's line on how they were found
};
void find_cores(RtCores* cores);

struct RtHost {
    StopWait wait_for_stop;
    void (*progress)(void* context, const char* text); // may be nullptr
    void* progress_context;
    PluginHost* plugins;       // the plugin host of the plan's chains; nullptr when it has none
    const RtCores* cores;      // the machine's, found by find_cores
    const RtRunSystem* system; // nullptr: RT_SYSTEM
};

// Threads of a core choice on a machine with `physical` cores.
uint32_t threads_of_choice(uint32_t choice, uint32_t physical);

// Locks memory and runs the plan on `driver`; on a stop
// signal returns with what was measured and stop_signal set.
void realtime_run(const RtPlan* plan, PeriodDriver* driver, const RtHost* host,
                  RtRunResult* result);
