#include "engine/realtime/period_loop.h"

void period_stats_reset(PeriodStats* stats) {
    histogram_clear(&stats->lateness);
    histogram_clear(&stats->processing);
    stats->periods = 0;
    stats->missed = 0;
    stats->worst_met_ns = 0;
    for (uint32_t c = 0; c < MAX_CHECKPOINTS; ++c) {
        stats->worst_checkpoint_ns[c] = 0;
    }
    for (uint64_t w = 0; w < (stats->miss_map_periods + 63) / 64; ++w) {
        stats->miss_map[w] = 0;
    }
    stats->record_count = 0;
    stats->last_counters = RtThreadCounters{-1, -1};
    stats->last_stall = RtStallCounters{-1, -1, -1};
    stats->last_done_ns = INT64_MIN;
    stats->stall_known = false;
}

int64_t real_now_ns(void* /*context*/) {
    return rt_now_ns();
}

void real_thread_counters(void* /*context*/, RtThreadCounters* counters) {
    rt_thread_counters(counters);
}

void real_stall_counters(void* processor, RtStallCounters* counters) {
    rt_stall_counters(processor != nullptr ? *static_cast<const uint32_t*>(processor) : 0,
                      counters);
}

void period_begin(PeriodStats* stats, const RtClock* clock) {
    if (clock->thread_counters != nullptr) {
        clock->thread_counters(clock->counter_context, &stats->last_counters);
    }
    if (clock->stall_counters != nullptr) {
        clock->stall_counters(clock->counter_context, &stats->last_stall);
        stats->stall_known = true;
    }
}

namespace {
int64_t difference(int64_t now, int64_t before) {
    return now >= 0 && before >= 0 ? now - before : -1;
}

void record_miss(PeriodStats* stats, const RtClock* clock, uint64_t index, const PeriodTimes* times,
                 const RtThreadCounters* counters) {
    RtStallCounters stall{-1, -1, -1};
    if (clock->stall_counters != nullptr) {
        clock->stall_counters(clock->counter_context, &stall);
    }
    if (stats->records != nullptr && stats->record_count < MAX_MISS_RECORDS) {
        MissRecord* record = &stats->records[stats->record_count++];
        *record = MissRecord{};
        record->index = index;
        record->lateness_ns = times->woke_ns - times->start_ns;
        record->processing_ns = times->done_ns - times->woke_ns;
        record->available_ns = times->deadline_ns - times->woke_ns;
        record->cpu_ns = difference(counters->cpu_ns, stats->last_counters.cpu_ns);
        record->involuntary = difference(counters->involuntary, stats->last_counters.involuntary);
        const RtStallCounters* last = &stats->last_stall;
        record->stall.run_delay_ns =
            stats->stall_known ? difference(stall.run_delay_ns, last->run_delay_ns) : -1;
        record->stall.steal_ns =
            stats->stall_known ? difference(stall.steal_ns, last->steal_ns) : -1;
        record->stall.irq_ns = stats->stall_known ? difference(stall.irq_ns, last->irq_ns) : -1;
        record->chained = stats->last_done_ns > times->start_ns;
        record->cause = CAUSE_UNKNOWN;
    }
    stats->last_stall = stall;
    stats->stall_known = clock->stall_counters != nullptr;
}
} // namespace

int64_t period_work(const PeriodJob* job, const RtClock* clock, int64_t woke_ns,
                    PeriodStats* stats) {
    if (job->set == nullptr) {
        return clock->now_ns(clock->context);
    }
    uint32_t done = 0;
    for (uint32_t c = 0; c < job->checkpoint_count; ++c) {
        uint32_t until = job->checkpoints[c];
        stream_set_run(job->set, done, until);
        done = until;
        int64_t now = clock->now_ns(clock->context);
        if (now - woke_ns > stats->worst_checkpoint_ns[c]) {
            stats->worst_checkpoint_ns[c] = now - woke_ns;
        }
    }
    stream_set_run(job->set, done, job->streams);
    stream_set_finish_period(job->set);
    return clock->now_ns(clock->context);
}

bool period_account(PeriodStats* stats, const RtClock* clock, uint64_t index,
                    const PeriodTimes* times, const RtThreadCounters* counters) {
    histogram_add(&stats->lateness, times->woke_ns - times->start_ns);
    histogram_add(&stats->processing, times->done_ns - times->woke_ns);
    stats->periods += 1;
    bool missed = times->done_ns > times->deadline_ns;
    if (missed) {
        stats->missed += 1;
        if (stats->miss_map != nullptr && index < stats->miss_map_periods) {
            stats->miss_map[index / 64] |= uint64_t{1} << (index % 64);
        }
        record_miss(stats, clock, index, times, counters);
    } else if (times->done_ns - times->woke_ns > stats->worst_met_ns) {
        stats->worst_met_ns = times->done_ns - times->woke_ns;
    }
    stats->last_counters = *counters;
    stats->last_done_ns = times->done_ns;
    return missed;
}

uint64_t run_period_loop(const RtClock* clock, const LoopPlan* plan, const PeriodJob* job,
                         PeriodStats* stats) {
    uint64_t period = 0;
    int64_t start = grid_period_start(&plan->grid, 0);
    period_begin(stats, clock);
    while (period < plan->periods && plan->halt->load(std::memory_order_relaxed) == HALT_NONE) {
        int64_t deadline = grid_period_start(&plan->grid, period + 1);
        clock->sleep_until_ns(clock->context, start);
        PeriodTimes times{start, deadline, clock->now_ns(clock->context), 0};
        times.done_ns = period_work(job, clock, times.woke_ns, stats);
        RtThreadCounters counters{-1, -1};
        if (clock->thread_counters != nullptr) {
            clock->thread_counters(clock->counter_context, &counters);
        }
        if (period_account(stats, clock, period, &times, &counters) &&
            stats->missed > plan->miss_budget) {
            int32_t expected = HALT_NONE;
            plan->halt->compare_exchange_strong(expected, HALT_MISSED);
        }
        start = deadline;
        period += 1;
    }
    return period;
}
