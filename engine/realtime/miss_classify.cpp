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

int64_t off_core_ns(const MissRecord* record) {
    return record->cpu_ns >= 0 ? record->processing_ns - record->cpu_ns : 0;
}

// Off the core for part of the work: what kept it off.
void classify_off_core(MissRecord* record) {
    const RtStallCounters* stall = &record->stall;
    if (grew(stall->steal_ns)) {
        set(record, CAUSE_PREEMPTED, SOURCE_HYPERVISOR, true);
    } else if (grew(record->involuntary) || grew(stall->run_delay_ns)) {
        set(record, CAUSE_PREEMPTED, SOURCE_THREAD, true);
    } else if (grew(stall->irq_ns)) {
        set(record, CAUSE_PREEMPTED, SOURCE_INTERRUPTS, true);
    } else {
        // Neither a switch nor counted interrupt time: interrupts or the
        // hypervisor, which the counters here do not tell apart.
        set(record, CAUSE_PREEMPTED, SOURCE_UNSAID, false);
    }
}

// A late start that the overrun before it left behind takes that overrun's
// cause, unless the period's own work stood apart (its own verdict is not
// the system's, or it was long off the core).
bool own_stall_in_chain(const MissRecord* record) {
    return record->cpu_ns >= 0 && (record->verdict == VERDICT_WORK ||
                                   off_core_ns(record) > off_core_limit(record->processing_ns));
}

void classify_one(MissRecord* record, const MissRecord* previous, const MissContext* context) {
    if (record->chained && previous != nullptr && previous->index + 1 == record->index &&
        record->verdict == VERDICT_SYSTEM && !own_stall_in_chain(record)) {
        set(record, previous->cause, previous->source, previous->confirmed);
        return;
    }
    // What the period would have left after a usual wake-up.
    const int64_t usual_room = context->period_ns - context->usual_late_ns;
    if (record->lateness_ns > context->usual_late_ns && record->processing_ns <= usual_room &&
        record->verdict != VERDICT_WORK) {
        set(record, CAUSE_LATE_WAKEUP, SOURCE_UNSAID, true);
        return;
    }
    switch (record->verdict) {
    case VERDICT_UNKNOWN:
        set(record, CAUSE_UNKNOWN, SOURCE_UNSAID, false);
        return;
    case VERDICT_WORK:
        // The host's steal in it names a pause charged as our time; steal
        // is counted in 10 ms ticks, so it backs a pause, never makes one.
        if (grew(record->stall.steal_ns)) {
            set(record, CAUSE_PREEMPTED, SOURCE_HYPERVISOR, true);
        } else {
            set(record, CAUSE_WORK, SOURCE_UNSAID, true);
        }
        return;
    case VERDICT_THROTTLED:
        set(record, CAUSE_THROTTLED, SOURCE_UNSAID, false);
        return;
    case VERDICT_SYSTEM:
        break;
    }
    if (off_core_ns(record) > off_core_limit(record->processing_ns)) {
        classify_off_core(record);
        return;
    }
    // On the core, its own time within what the period left, yet late: the
    // wake-up and a short stall together.
    set(record, CAUSE_PREEMPTED, SOURCE_UNSAID, false);
}
} // namespace

int64_t off_core_limit(int64_t processing_ns) {
    return processing_ns / 10 > OFF_CORE_MIN_NS ? processing_ns / 10 : OFF_CORE_MIN_NS;
}

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

void classify_stats(PeriodStats* stats, int64_t period_ns) {
    if (stats->records == nullptr) {
        return;
    }
    MissContext context{histogram_percentile(&stats->lateness, P50), period_ns};
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
