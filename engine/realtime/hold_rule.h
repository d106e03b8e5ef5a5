// The one rule by which a count plays: K streams or instances, run every
// period in lockstep, went through a hold with no more missed periods,
// whatever their causes, than the idle system misses in the same time.
//
// The idle run at the same buffer size had idle_periods periods and missed
// idle_missed of them; a hold of n periods plays when its misses are at
// most the ALLOWANCE_QUANTILE quantile of a Poisson distribution of mean
// idle_missed · n / idle_periods (none at all when the idle run missed
// none). A cause explains a miss; it never excuses one. The search,
// a fixed count and the run inside an audio server judge by this alone.
#pragma once

#include <cstdint>

constexpr double ALLOWANCE_QUANTILE = 0.9;

// What the idle system missed at one buffer size and core count.
struct IdleFloor {
    uint64_t periods;
    uint64_t missed;
};

// Missed periods a hold of `periods` may have and still play; `fraction`
// (--allowed-misses) raises it to that share of the periods when larger.
uint64_t hold_allowance(const IdleFloor* idle, uint64_t periods, double fraction);

// The idle gate, judged as a rate: a system that alone misses more than
// `limit` of its periods shows nothing of the processor, but a short idle
// run cannot tell 1 % apart from none. It fails only when it ran short or
// its misses would come less often than once in IDLE_GATE_ODDS runs at
// that rate: one late wake-up among a few dozen periods decides nothing.
constexpr double IDLE_GATE_ODDS = 0.01;
bool idle_sustainable(uint64_t asked, uint64_t ran, uint64_t missed, double limit);

// The hold ran every period asked and missed no more than its allowance.
bool hold_plays(const IdleFloor* idle, uint64_t asked, uint64_t ran, uint64_t missed,
                double fraction);
