// The cause of each missed period, decided once its trial has ended, from
// the period's own times, the verdict the loop gave it at the miss (the
// thread's processor time against what the period left: period_loop.h),
// and the core's counters the observer sampled around it (observer.h).
//
//   chained      it started late because the period before it overran:
//                that period's cause, unless its own work stood apart (its
//                own time overran too, or it was long off the core).
//   late_wakeup  it woke later than usual, and its work would have fitted
//                after a usual wake-up.
//   unknown      processor time is not counted (as under Wine).
//   work         the thread's own processor time overran what the period
//                left after a usual wake-up: the streams did not fit.
//   throttled    the loop saw it switched out for long at a load near the
//                kernel's real-time share.
//   preempted    the rest: off the core (the hypervisor when steal grew,
//                another thread after an involuntary switch or run-queue
//                delay, interrupts when their time grew).
// A period whose own time overran is the work's even when the host paused
// it on the core: with a lighter load that pause would not have been heard.
#pragma once

#include "engine/realtime/capacity_search.h"
#include "engine/realtime/miss_cause.h"
#include "engine/realtime/period_loop.h"

#include <cstdint>

struct MissContext {
    int64_t usual_late_ns; // the trial's median wake-up lateness
    int64_t period_ns;
};

// A missed period with time off the core beyond this share of its work,
// and at least OFF_CORE_MIN_NS, was preempted.
constexpr int64_t OFF_CORE_MIN_NS = 50000;
int64_t off_core_limit(int64_t processing_ns);

void classify_misses(MissRecord* records, uint32_t count, const MissContext* context);
void count_misses(const MissRecord* records, uint32_t count, MissCounts* counts);
// Classifies the misses a thread recorded in a trial.
void classify_stats(PeriodStats* stats, int64_t period_ns);
// The record of period `index` in a thread's classified records, from
// `*cursor` on (periods are asked for in ascending order); nullptr when the
// thread kept none for it.
const MissRecord* find_record(const PeriodStats* stats, uint64_t index, uint32_t* cursor);
// Counts one missed period of the trial under its record's cause (unknown
// without a record) and marks it for the picture.
void mark_miss(TrialOutcome* outcome, const MissRecord* record);
