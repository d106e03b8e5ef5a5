// A simulated machine for testing the capacity search: its own random
// numbers and its own cost model, and the true capacity computed from them
// alone, by what a count playing means: K streams run in lockstep every
// period went through a hold with no more missed periods than the idle
// run's allowance.
//
// Period i of a trial on thread t starts at i · period (its deadline is the
// next start), wakes at the later of its start and the thread's last end,
// plus a lateness, and works
//
//   (a · c + b · k · c · burst) · spread + pause,   c = speed · cold
//
// where k is the thread's share of the streams, spread and pause are the
// thread's own draw, speed and burst are the machine's at that time (every
// thread alike) and cold is the trial's own warming up.
#pragma once

#include <cstdint>
#include <vector>

enum SimFamily : uint32_t {
    FAMILY_EXPONENTIAL = 0, // spread 1 + w · (E - ln 2), w 0.5 to 3 %
    FAMILY_GAUSSIAN,        // spread 1 + w · N, w 5 to 12 %
    FAMILY_PARETO,          // spread with a power-law tail
    FAMILY_TWO_SPEEDS,      // stretches of seconds 1.2 to 1.8 times slower
    FAMILY_BURSTS,          // every N periods each stream costs 2 to 4 times
    FAMILY_SLOW_PHASES,     // a share of each cycle of seconds 1 to 1.6 times slower
    FAMILY_COLD_START,      // each trial's first periods slower
    FAMILY_HOST_PAUSES,     // pauses of 1 to 10 ms in the thread's own time
    FAMILY_COUNT
};

const char* family_name(SimFamily family);

// xoshiro256**, seeded through an LCG.
struct SimRandom {
    uint64_t s[4];
    explicit SimRandom(uint64_t seed);
    uint64_t next();
    double uniform(); // [0, 1)
    double between(double low, double high);
    double normal();
};

struct SimMachine {
    SimFamily family;
    uint32_t frames;
    uint32_t rate;
    uint32_t threads;
    double fixed_ns;      // a
    double per_stream_ns; // b
    double late_ns;       // every wake-up: late_ns + jitter_ns · E
    double jitter_ns;
    double stall_chance; // a period's wake-up later by stall_ns more
    double stall_low_ns, stall_high_ns;
    double tail_width; // the spread's
    double tail_shape; // the power law's exponent
    double pause_chance;
    double slow_factor; // two speeds, slow phases
    double cycle_ns;    // slow phases: a cycle, its slow share, its phase
    double slow_share;
    double cycle_phase_ns;
    uint32_t burst_every; // bursts: the interval in periods, the phase
    uint32_t burst_phase;
    double burst_factor;
    double cold_factor; // cold start: 1 + (cold_factor - 1) · exp(-t / cold_ns)
    double cold_ns;
    uint64_t seed;
};

// Machine `index` of a family, its capacity drawn over 100 to 20000.
SimMachine sim_machine(SimFamily family, uint64_t index);

// Period i's start on the machine's grid, in nanoseconds.
int64_t sim_period_start(const SimMachine* m, uint64_t i);

// The machine-wide state over time: one realisation of its speed.
struct SimTimeline {
    const SimMachine* machine;
    SimRandom random;
    std::vector<double> switches; // two speeds: the times the speed changes, fast first
    SimTimeline(const SimMachine* m, uint64_t seed);
    double speed_at(double at_ns);
    double burst_at(uint64_t period) const; // period: counted on the machine's grid from 0
};

// One thread's own draw for one period.
struct SimDraw {
    double late_ns;
    double spread;
    double pause_ns;
};
SimDraw sim_draw(const SimMachine* m, SimRandom* random);
double sim_cold(const SimMachine* m, uint64_t period_in_trial);

// Periods of a trial: trial-relative factors of every thread alike.
struct SimCommon {
    double all;    // speed · cold
    double stream; // · burst
};
// Periods first_period .. first_period + count - 1 of the machine's grid
// (the trial's first is first_period).
void sim_common(const SimMachine* m, SimTimeline* timeline, uint64_t first_period, uint64_t count,
                SimCommon* common);

// Thread t's streams of `streams` over `threads`: the first streams % threads
// carry one more, the busiest ceil(streams / threads).
uint32_t sim_share(uint32_t streams, uint32_t threads, uint32_t t);

// The work of one period of a thread with `streams` streams.
double sim_work(const SimMachine* m, const SimCommon* common, const SimDraw* draw,
                uint32_t streams);

// What the idle run at the machine's buffer size and threads missed.
struct SimIdle {
    uint64_t periods;
    uint64_t missed;
    double median_ns; // of its periods' work
};
SimIdle sim_idle_run(const SimMachine* m, uint64_t periods, uint64_t warmup, uint64_t seed);

// The smallest m with P(Poisson(mean) <= m) >= 0.9; 0 for a mean of 0.
uint64_t sim_poisson_90(double mean);

// Over `replicas` holds of `periods` after `warmup`, each at an independent
// time, the largest count (at most `bound`) at which each missed no more
// than `allowance` periods, from the smallest to the largest.
std::vector<uint32_t> sim_hold_capacities(const SimMachine* m, uint64_t warmup, uint64_t periods,
                                          uint64_t allowance, uint32_t bound, uint32_t replicas);

// The largest of `capacities` (sorted) that at least `odds` of them reach.
uint32_t sim_true_capacity(const std::vector<uint32_t>& capacities, double odds);
