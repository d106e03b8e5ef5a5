#include "engine/realtime/period_loop.h"

void period_stats_reset(PeriodStats* stats) {
    histogram_clear(&stats->lateness);
    histogram_clear(&stats->processing);
    stats->periods = 0;
    stats->missed = 0;
    for (uint32_t c = 0; c < MAX_CHECKPOINTS; ++c) {
        stats->worst_checkpoint_ns[c] = 0;
        stats->worst_checkpoint_end_ns[c] = 0;
    }
    for (uint64_t w = 0; w < (stats->miss_map_periods + 63) / 64; ++w) {
        stats->miss_map[w] = 0;
    }
}

int64_t period_work(const PeriodJob* job, const RtClock* clock, int64_t start_ns, int64_t woke_ns,
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
        if (now - start_ns > stats->worst_checkpoint_end_ns[c]) {
            stats->worst_checkpoint_end_ns[c] = now - start_ns;
        }
    }
    stream_set_run(job->set, done, job->streams);
    stream_set_finish_period(job->set);
    return clock->now_ns(clock->context);
}

bool period_account(PeriodStats* stats, uint64_t index, int64_t start_ns, int64_t deadline_ns,
                    int64_t woke_ns, int64_t done_ns) {
    histogram_add(&stats->lateness, woke_ns - start_ns);
    histogram_add(&stats->processing, done_ns - woke_ns);
    stats->periods += 1;
    bool missed = done_ns > deadline_ns;
    if (missed) {
        stats->missed += 1;
        if (stats->miss_map != nullptr && index < stats->miss_map_periods) {
            stats->miss_map[index / 64] |= uint64_t{1} << (index % 64);
        }
    }
    return missed;
}

uint64_t run_period_loop(const RtClock* clock, const LoopPlan* plan, const PeriodJob* job,
                         PeriodStats* stats) {
    uint64_t period = 0;
    int64_t start = grid_period_start(&plan->grid, 0);
    while (period < plan->periods && plan->halt->load(std::memory_order_relaxed) == HALT_NONE) {
        int64_t deadline = grid_period_start(&plan->grid, period + 1);
        clock->sleep_until_ns(clock->context, start);
        int64_t woke = clock->now_ns(clock->context);
        int64_t done = period_work(job, clock, start, woke, stats);
        if (period_account(stats, period, start, deadline, woke, done) &&
            stats->missed > plan->miss_budget) {
            int32_t expected = HALT_NONE;
            plan->halt->compare_exchange_strong(expected, HALT_MISSED);
        }
        start = deadline;
        period += 1;
    }
    return period;
}
