// The cause of each missed period, decided once its trial has ended, from
// the period's own times, the thread's processor time and the counters
// read at the miss's edges, against what the trial's other periods took.
//
//   chained      it started late because the period before it overran:
//                that period's cause.
//   work         the work would not have fitted even after a usual wake-up
//                with the whole of the core: the streams did not fit.
//   late_wakeup  it woke later than usual, and its work would have fitted
//                after a usual wake-up.
//   preempted    its wall time exceeds its processor time (the thread was
//                off the core): the hypervisor when steal grew, another
//                thread after an involuntary switch or run-queue delay,
//                interrupts when their time grew; throttled instead when
//                the trial's load reached the kernel's real-time share.
//                Also a period charged as processor time that an
//                involuntary switch split, or that ran past 1.05 times the
//                longest work of the periods that met their deadline (1.1
//                times the median at least; 1.25 times the median once a
//                tenth of the trial missed): a hypervisor pause the guest
//                counts as ours.
//                Otherwise it ran the whole time and took no longer than
//                the trial's own tail allows: work.
//   unknown      processor time is not counted (as under Wine).
#pragma once

#include "engine/realtime/capacity_search.h"
#include "engine/realtime/miss_cause.h"
#include "engine/realtime/period_loop.h"

#include <cstdint>

struct MissContext {
    int64_t typical_ns;    // the trial's median processing time
    int64_t tail_ns;       // the longest work of a period that met its deadline
    int64_t usual_late_ns; // its median wake-up lateness
    int64_t period_ns;
    double throttle_share; // of real-time threads, 0 to 1; 1 none, -1 unknown
    bool overloaded;       // more than 1 in OVERLOAD_SHARE of its periods missed
};
constexpr uint64_t OVERLOAD_SHARE = 10;

// A missed period's cause with time off the core beyond this is preempted.
constexpr int64_t OFF_CORE_MIN_NS = 50000;
// Off the core this long at a load near the real-time share: throttled.
constexpr int64_t THROTTLE_GAP_NS = 500000;

void classify_misses(MissRecord* records, uint32_t count, const MissContext* context);
void count_misses(const MissRecord* records, uint32_t count, MissCounts* counts);
// Classifies the misses a thread recorded in a trial.
void classify_stats(PeriodStats* stats, int64_t period_ns, double throttle_share);
// The record of period `index` in a thread's classified records, from
// `*cursor` on (periods are asked for in ascending order); nullptr when the
// thread kept none for it.
const MissRecord* find_record(const PeriodStats* stats, uint64_t index, uint32_t* cursor);
// Counts one missed period of the trial under its record's cause (unknown
// without a record) and marks it for the picture.
void mark_miss(TrialOutcome* outcome, const MissRecord* record);
// Context of a trial from a thread's figures.
MissContext miss_context(const PeriodStats* stats, int64_t period_ns, double throttle_share);
