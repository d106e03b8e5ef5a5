#include "engine/realtime/period_loop.h"

#include <algorithm>

void period_stats_reset(PeriodStats* stats) {
    histogram_clear(&stats->lateness);
    histogram_clear(&stats->processing);
    spread_clear(&stats->spread);
    stats->periods = 0;
    stats->missed = 0;
    for (uint32_t c = 0; c < MAX_CHECKPOINTS; ++c) {
        stats->worst_checkpoint_ns[c] = 0;
    }
    for (uint64_t w = 0; w < (stats->miss_map_periods + 63) / 64; ++w) {
        stats->miss_map[w] = 0;
    }
    stats->record_count = 0;
    stats->warmup_overrun_ns = 0;
    stats->last_counters = RtThreadCounters{-1, -1};
    stats->last_done_ns = INT64_MIN;
}

int64_t real_now_ns(void* /*context*/) {
    return rt_now_ns();
}

void real_thread_counters(void* /*context*/, RtThreadCounters* counters) {
    rt_thread_counters(counters);
}

void period_begin(PeriodStats* stats, const RtClock* clock) {
    if (clock->thread_counters != nullptr) {
        clock->thread_counters(clock->counter_context, &stats->last_counters);
    }
}

MissVerdict judge_miss(const MissJudge* judge, int64_t processing_ns, int64_t cpu_ns,
                       int64_t involuntary) {
    if (cpu_ns < 0) {
        return VERDICT_UNKNOWN;
    }
    if (cpu_ns > judge->period_ns - judge->usual_late_ns) {
        return VERDICT_WORK; // its own time alone overran what the period left
    }
    if (judge->near_throttle && involuntary > 0 && processing_ns - cpu_ns >= THROTTLE_GAP_NS) {
        return VERDICT_THROTTLED;
    }
    return VERDICT_SYSTEM;
}

namespace {
int64_t difference(int64_t now, int64_t before) {
    return now >= 0 && before >= 0 ? now - before : -1;
}

void record_miss(PeriodStats* stats, uint64_t index, const PeriodTimes* times,
                 const RtThreadCounters* counters, MissVerdict verdict) {
    if (stats->records == nullptr || stats->record_count >= MAX_MISS_RECORDS) {
        return;
    }
    MissRecord* record = &stats->records[stats->record_count++];
    *record = MissRecord{};
    record->index = index;
    record->start_ns = times->start_ns;
    record->lateness_ns = times->woke_ns - times->start_ns;
    record->processing_ns = times->done_ns - times->woke_ns;
    record->cpu_ns = difference(counters->cpu_ns, stats->last_counters.cpu_ns);
    record->involuntary = difference(counters->involuntary, stats->last_counters.involuntary);
    record->verdict = verdict;
    record->stall = RtStallCounters{-1, -1, -1};
    record->chained = stats->last_done_ns > times->start_ns;
    record->cause = CAUSE_UNKNOWN;
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
    stream_set_finish_period(job->set, job->streams);
    return clock->now_ns(clock->context);
}

bool period_account(PeriodStats* stats, const MissJudge* judge, uint64_t index,
                    const PeriodTimes* times, const RtThreadCounters* counters) {
    const int64_t processing = times->done_ns - times->woke_ns;
    const int64_t cpu = difference(counters->cpu_ns, stats->last_counters.cpu_ns);
    histogram_add(&stats->lateness, times->woke_ns - times->start_ns);
    histogram_add(&stats->processing, processing);
    if (stats->samples != nullptr && index < stats->sample_capacity) {
        stats->samples[index] = PeriodSample{processing, cpu, times->woke_ns - times->start_ns};
    }
    stats->periods += 1;
    if (judge->expected_ns > 0) {
        spread_add(&stats->spread,
                   static_cast<double>(processing) / static_cast<double>(judge->expected_ns));
    }
    const bool missed = times->done_ns > times->deadline_ns;
    if (missed) {
        stats->missed += 1;
        if (stats->miss_map != nullptr && index < stats->miss_map_periods) {
            stats->miss_map[index / 64] |= uint64_t{1} << (index % 64);
        }
        const MissVerdict verdict =
            judge_miss(judge, processing, cpu,
                       difference(counters->involuntary, stats->last_counters.involuntary));
        record_miss(stats, index, times, counters, verdict);
    }
    stats->last_counters = *counters;
    stats->last_done_ns = times->done_ns;
    return missed;
}

uint64_t run_period_loop(const RtClock* clock, const LoopPlan* plan, const PeriodJob* job,
                         PeriodStats* stats) {
    uint64_t period = 0;
    int64_t warmup_slowest = 0; // and the next slowest
    int64_t warmup_second = 0;
    const uint64_t total = plan->warmup_periods + plan->periods;
    int64_t start = grid_period_start(&plan->grid, 0);
    if (plan->warmup_periods == 0) {
        period_begin(stats, clock);
    }
    while (period < total && plan->halt->load(std::memory_order_relaxed) == HALT_NONE) {
        int64_t deadline = grid_period_start(&plan->grid, period + 1);
        clock->sleep_until_ns(clock->context, start);
        PeriodTimes times{start, deadline, clock->now_ns(clock->context), 0};
        times.done_ns = period_work(job, clock, times.woke_ns, stats);
        if (period < plan->warmup_periods) {
            const int64_t work = times.done_ns - times.woke_ns;
            warmup_second = std::max(warmup_second, std::min(work, warmup_slowest));
            warmup_slowest = std::max(warmup_slowest, work);
            if (period + 1 == plan->warmup_periods) {
                period_begin(stats, clock); // the first counted period's edge
                stats->last_done_ns = times.done_ns;
                stats->warmup_overrun_ns = times.done_ns > deadline ? warmup_second : 0;
            }
            start = deadline;
            period += 1;
            continue;
        }
        RtThreadCounters counters{-1, -1};
        if (clock->thread_counters != nullptr) {
            clock->thread_counters(clock->counter_context, &counters);
        }
        if (period_account(stats, &plan->judge, period - plan->warmup_periods, &times, &counters) &&
            stats->missed > plan->miss_budget) {
            int32_t expected = HALT_NONE;
            plan->halt->compare_exchange_strong(expected, HALT_MISSED);
        }
        start = deadline;
        period += 1;
    }
    return period > plan->warmup_periods ? period - plan->warmup_periods : 0;
}
