#include "engine/realtime/miss_classify.h"

namespace {
void set(MissRecord* record, MissCause cause, PreemptSource source, bool confirmed) {
    record->cause = cause;
    record->source = source;
    record->confirmed = confirmed;
}

bool grew(int64_t delta) {
    return delta > 0;
}

// Off the core for part of the work: what kept it off.
void classify_off_core(MissRecord* record, const MissContext* context, int64_t off_ns) {
    const RtStallCounters* stall = &record->stall;
    const bool switched = grew(record->involuntary) || grew(stall->run_delay_ns);
    const double load =
        static_cast<double>(context->typical_ns) / static_cast<double>(context->period_ns);
    if (grew(stall->steal_ns)) {
        set(record, CAUSE_PREEMPTED, SOURCE_HYPERVISOR, true);
    } else if (switched && off_ns >= THROTTLE_GAP_NS && context->throttle_share > 0.0 &&
               context->throttle_share < 1.0 && load >= context->throttle_share * 0.9) {
        set(record, CAUSE_THROTTLED, SOURCE_UNSAID, false);
    } else if (switched) {
        set(record, CAUSE_PREEMPTED, SOURCE_THREAD, true);
    } else if (grew(stall->irq_ns)) {
        set(record, CAUSE_PREEMPTED, SOURCE_INTERRUPTS, true);
    } else {
        // Neither a switch nor counted interrupt time: interrupts or the
        // hypervisor, which the counters here do not tell apart.
        set(record, CAUSE_PREEMPTED, SOURCE_UNSAID, false);
    }
}

void classify_on_core(MissRecord* record, const MissContext* context);
int64_t on_core_tail_limit(const MissContext* context);

// Time off the core that marks a preemption: a tenth of the work, and never
// less than OFF_CORE_MIN_NS.
int64_t off_core_limit(const MissRecord* record) {
    return record->processing_ns / 10 > OFF_CORE_MIN_NS ? record->processing_ns / 10
                                                        : OFF_CORE_MIN_NS;
}

// A late start that the overrun before it left behind takes that overrun's
// cause, unless the period's own work stood apart: a pause far past the
// trial's tail, or long off the core, is a cause of its own.
bool own_stall_in_chain(const MissRecord* record, const MissContext* context) {
    const int64_t off_ns = record->cpu_ns >= 0 ? record->processing_ns - record->cpu_ns : 0;
    return record->cpu_ns >= 0 &&
           (record->processing_ns > on_core_tail_limit(context) || off_ns > off_core_limit(record));
}

void classify_one(MissRecord* record, const MissRecord* previous, const MissContext* context) {
    if (record->chained && previous != nullptr && previous->index + 1 == record->index &&
        !own_stall_in_chain(record, context)) {
        set(record, previous->cause, previous->source, previous->confirmed);
        return;
    }
    // What the period would have left after a usual wake-up.
    const int64_t usual_room = context->period_ns - context->usual_late_ns;
    const int64_t own_ns = record->cpu_ns >= 0 ? record->cpu_ns : record->processing_ns;
    if (record->lateness_ns > context->usual_late_ns && record->processing_ns <= usual_room) {
        set(record, CAUSE_LATE_WAKEUP, SOURCE_UNSAID, true);
        return;
    }
    if (record->cpu_ns < 0) {
        set(record, CAUSE_UNKNOWN, SOURCE_UNSAID, false);
        return;
    }
    if (own_ns > usual_room && record->processing_ns - own_ns <= OFF_CORE_MIN_NS) {
        // The thread's own time alone overran, with nothing off the core.
        classify_on_core(record, context);
        return;
    }
    if (own_ns > usual_room) {
        set(record, CAUSE_WORK, SOURCE_UNSAID, true); // it would not have fitted anyway
        return;
    }
    const int64_t off_ns = record->processing_ns - record->cpu_ns;
    if (off_ns > off_core_limit(record)) {
        classify_off_core(record, context, off_ns);
        return;
    }
    classify_on_core(record, context);
}

// On the core throughout: work, unless something the guest counts as our
// time paused it.
// The work's own spread goes on smoothly past the longest period that met
// its deadline; a pause stands apart from it. Once a trial is overloaded,
// its met periods are the exception: the median decides.
int64_t on_core_tail_limit(const MissContext* context) {
    const int64_t tail_limit = context->tail_ns + context->tail_ns / 20;
    const int64_t typical_limit = context->overloaded
                                      ? context->typical_ns + context->typical_ns / 4
                                      : context->typical_ns + context->typical_ns / 10;
    return (context->overloaded || typical_limit > tail_limit ? typical_limit : tail_limit) +
           OFF_CORE_MIN_NS;
}

void classify_on_core(MissRecord* record, const MissContext* context) {
    // Steal alone proves nothing here: it is counted in 10 ms ticks since
    // the last edge, and work within its usual range can overrun beside it.
    if (record->processing_ns > on_core_tail_limit(context) || grew(record->involuntary)) {
        set(record, CAUSE_PREEMPTED, SOURCE_HYPERVISOR, grew(record->stall.steal_ns));
    } else {
        set(record, CAUSE_WORK, SOURCE_UNSAID, true);
    }
}
} // namespace

void classify_misses(MissRecord* records, uint32_t count, const MissContext* context) {
    for (uint32_t r = 0; r < count; ++r) {
        classify_one(&records[r], r > 0 ? &records[r - 1] : nullptr, context);
    }
}

void count_misses(const MissRecord* records, uint32_t count, MissCounts* counts) {
    for (uint32_t r = 0; r < count; ++r) {
        counts->by_cause[records[r].cause] += 1;
        if (records[r].cause == CAUSE_PREEMPTED) {
            counts->preempted_by[records[r].source] += 1;
        }
        counts->confirmed += records[r].confirmed ? 1 : 0;
    }
}

MissContext miss_context(const PeriodStats* stats, int64_t period_ns, double throttle_share) {
    return MissContext{histogram_percentile(&stats->processing, P50),
                       stats->worst_met_ns,
                       histogram_percentile(&stats->lateness, P50),
                       period_ns,
                       throttle_share,
                       stats->missed * OVERLOAD_SHARE > stats->periods};
}

void classify_stats(PeriodStats* stats, int64_t period_ns, double throttle_share) {
    if (stats->records == nullptr) {
        return;
    }
    MissContext context = miss_context(stats, period_ns, throttle_share);
    classify_misses(stats->records, stats->record_count, &context);
}

const MissRecord* find_record(const PeriodStats* stats, uint64_t index, uint32_t* cursor) {
    while (*cursor < stats->record_count && stats->records[*cursor].index < index) {
        *cursor += 1;
    }
    if (*cursor < stats->record_count && stats->records[*cursor].index == index) {
        return &stats->records[*cursor];
    }
    return nullptr;
}

void mark_miss(TrialOutcome* outcome, const MissRecord* record) {
    MissCounts one{};
    if (record != nullptr) {
        count_misses(record, 1, &one);
    } else {
        one.by_cause[CAUSE_UNKNOWN] = 1; // more misses than a trial keeps records of
    }
    miss_counts_add(&outcome->misses, &one);
    if (record != nullptr && outcome->mark_count < MAX_MISS_MARKS) {
        outcome->marks[outcome->mark_count++] =
            MissMark{record->processing_ns, record->lateness_ns, record->cause};
    }
}
