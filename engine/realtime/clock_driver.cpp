#include "engine/realtime/clock_driver.h"

#include "engine/realtime/miss_classify.h"
#include "platform/platform_engine.h"

#include <new>

namespace {
constexpr int64_t LEAD_IN_NS = 5000000; // from the last thread ready to period 0
constexpr int64_t ORIGIN_POLL_NS = 200000;
constexpr int64_t WAIT_SLICE_MS = 20;

// What one measuring thread of a trial runs.
struct ThreadRun {
    ClockDriver* driver;
    uint32_t index;
    PeriodJob job;
    LoopPlan plan;
    std::atomic<int32_t>* ready;
    std::atomic<int32_t>* finished;
    std::atomic<int64_t>* origin; // 0 until the main thread sets it
};

int64_t timer_now(void* /*context*/) {
    return rt_now_ns();
}

void timer_sleep(void* context, int64_t when_ns) {
    rt_sleep_until(static_cast<RtTimer*>(context), when_ns);
}

uint32_t measuring_thread(void* parameter) {
    auto* run = static_cast<ThreadRun*>(parameter);
    ClockDriver* driver = run->driver;
    ThreadSteps* steps = &driver->steps[run->index];
    driver->observer->thread_ids[run->index].store(rt_thread_id());
    rt_pin_thread(driver->processors[run->index], &steps->pin);
    rt_raise_priority(&steps->priority);
    rt_min_timer_slack(&steps->slack);
    rt_flush_denormals(&steps->denormals);
    RtTimer* timer = rt_timer_open(&steps->timer);
    run->ready->fetch_add(1);

    int64_t origin = 0;
    while ((origin = run->origin->load(std::memory_order_acquire)) == 0 &&
           run->plan.halt->load() == HALT_NONE) {
        rt_sleep_until(timer, rt_now_ns() + ORIGIN_POLL_NS);
    }
    if (origin != 0) {
        run->plan.grid.origin_ns = origin;
        RtClock clock{timer_now, timer_sleep, timer, real_thread_counters, nullptr};
        int64_t cpu_start = rt_thread_cpu_ns();
        run_period_loop(&clock, &run->plan, &run->job, driver->stats[run->index]);
        driver->cpu_ns[run->index] = rt_thread_cpu_ns() - cpu_start;
        driver->flushed[run->index] = rt_denormals_flushed();
    }
    rt_timer_close(timer);
    rt_drop_priority();
    run->finished->fetch_add(1, std::memory_order_release);
    return 0;
}

// Waits until `counter` reaches `target`, or a stop request comes (then
// raises halt).
void wait_for_threads(PeriodDriver* driver, std::atomic<int32_t>* counter, int32_t target,
                      std::atomic<int32_t>* halt, int64_t slice_ms) {
    while (counter->load(std::memory_order_acquire) < target) {
        int signal_number = driver->wait_for_stop(slice_ms);
        if (signal_number != 0) {
            driver->stop_signal = signal_number;
            halt->store(HALT_STOP);
        }
        if (halt->load() == HALT_STOP) {
            return;
        }
    }
}

void gather(ClockDriver* driver, uint32_t started, bool loaded, TrialOutcome* outcome) {
    gather_threads(driver->stats, started, grid_period_ns(driver->frames, driver->rate),
                   driver->observer, loaded, outcome);
}

void clock_close(PeriodDriver* driver) {
    auto* clock = static_cast<ClockDriver*>(driver->backend);
    if (clock->observer != nullptr) {
        observer_close(clock->observer);
        delete clock->observer;
        clock->observer = nullptr;
    }
    for (PeriodStats*& stats : clock->stats) {
        if (stats != nullptr) {
            platform_free(stats->miss_map);
            platform_free(stats->records);
            platform_free(stats->samples);
            platform_free(stats);
            stats = nullptr;
        }
    }
}

bool clock_open(PeriodDriver* driver, const DriverSetup* setup) {
    auto* clock = static_cast<ClockDriver*>(driver->backend);
    *clock = ClockDriver{};
    driver->threads = setup->threads < MAX_RT_THREADS ? setup->threads : MAX_RT_THREADS;
    clock->frames = setup->frames;
    clock->rate = setup->rate;
    clock->max_periods = setup->max_periods;
    bool complete = true;
    for (uint32_t t = 0; t < driver->threads; ++t) {
        clock->processors[t] = setup->processors[t];
        auto* stats = static_cast<PeriodStats*>(platform_alloc(sizeof(PeriodStats)));
        if (stats == nullptr) {
            complete = false;
            continue;
        }
        *stats = PeriodStats{};
        clock->stats[t] = stats; // closed with whatever of it was allocated
        auto words = static_cast<size_t>((setup->max_periods + 63) / 64);
        stats->miss_map = static_cast<uint64_t*>(platform_alloc(words * sizeof(uint64_t)));
        stats->records =
            static_cast<MissRecord*>(platform_alloc(MAX_MISS_RECORDS * sizeof(MissRecord)));
        stats->samples = static_cast<PeriodSample*>(
            platform_alloc(static_cast<size_t>(setup->max_periods) * sizeof(PeriodSample)));
        if (stats->miss_map == nullptr || stats->records == nullptr || stats->samples == nullptr) {
            complete = false;
            continue;
        }
        stats->miss_map_periods = setup->max_periods;
        stats->sample_capacity = setup->max_periods;
        period_stats_reset(clock->stats[t]);
    }
    const double longest = static_cast<double>(setup->max_periods) *
                           static_cast<double>(grid_period_ns(setup->frames, setup->rate)) / 1e9;
    clock->observer = new (std::nothrow) Observer{};
    if (clock->observer != nullptr) {
        clock->observer->own_processor = setup->observer_processor;
        if (!observer_open(clock->observer, longest + 1.0, driver->threads)) {
            delete clock->observer;
            clock->observer = nullptr;
        }
    }
    complete = complete && clock->observer != nullptr;
    if (!complete) {
        clock_close(driver);
        driver_fail(driver, "not enough memory for the figures of a trial");
    }
    return complete;
}

bool clock_trial(PeriodDriver* driver, const TrialRequest* request, TrialOutcome* outcome) {
    auto* clock = static_cast<ClockDriver*>(driver->backend);
    std::atomic<int32_t> halt{HALT_NONE};
    std::atomic<int32_t> ready{0};
    std::atomic<int32_t> finished{0};
    std::atomic<int64_t> origin{0};
    ThreadRun runs[MAX_RT_THREADS];
    PlatformThread* handles[MAX_RT_THREADS] = {};
    uint64_t periods =
        request->periods < clock->max_periods ? request->periods : clock->max_periods;

    uint32_t started = 0;
    for (uint32_t t = 0; t < driver->threads; ++t) {
        ThreadRun* run = &runs[t];
        *run = ThreadRun{};
        run->driver = clock;
        run->index = t;
        run->job.set = driver->sets[t];
        run->job.streams =
            driver->sets[t] != nullptr ? thread_share(request->streams, driver->threads, t) : 0;
        if (driver->sets[t] != nullptr && run->job.streams > driver->sets[t]->capacity) {
            driver_fail(driver, "a trial asked for %u streams, more than the %u prepared",
                        request->streams, driver->sets[t]->capacity * driver->threads);
            return false;
        }
        for (uint32_t c = 0; c < request->checkpoint_count && c < MAX_CHECKPOINTS; ++c) {
            run->job.checkpoints[c] = thread_share(request->checkpoints[c], driver->threads, t);
        }
        run->job.checkpoint_count = driver->sets[t] != nullptr ? request->checkpoint_count : 0;
        run->plan = LoopPlan{PeriodGrid{0, clock->frames, clock->rate},
                             request->warmup_periods,
                             periods,
                             request->miss_budget,
                             request->judge,
                             &halt};
        run->ready = &ready;
        run->finished = &finished;
        run->origin = &origin;
        period_stats_reset(clock->stats[t]);
        clock->cpu_ns[t] = 0;
        clock->flushed[t] = -1;
    }
    observer_reset(clock->observer, driver->threads, clock->processors);
    PlatformThread* observing = platform_thread_start_with(observer_thread, clock->observer);
    for (uint32_t t = 0; t < driver->threads; ++t) {
        handles[t] = platform_thread_start_with(measuring_thread, &runs[t]);
        if (handles[t] == nullptr) {
            driver_fail(driver, "a measuring thread could not be started");
            halt.store(HALT_STOP);
            break;
        }
        started += 1;
    }
    auto target = static_cast<int32_t>(started);
    if (!driver->failure.failed) {
        wait_for_threads(driver, &ready, target, &halt, 1);
        if (halt.load() == HALT_NONE) {
            origin.store(rt_now_ns() + LEAD_IN_NS, std::memory_order_release);
        }
        wait_for_threads(driver, &finished, target, &halt, WAIT_SLICE_MS);
    }
    for (uint32_t t = 0; t < started; ++t) {
        platform_thread_wait(handles[t]);
        platform_thread_close(handles[t]);
    }
    clock->observer->stop.store(true, std::memory_order_release);
    if (observing != nullptr) {
        platform_thread_wait(observing);
        platform_thread_close(observing);
    } else {
        clock->observer->count = 0; // no samples: every miss's counters unknown
    }
    gather(clock, started, request->streams > 0, outcome);
    for (uint32_t t = 0; t < started; ++t) {
        outcome->denormals_lost = outcome->denormals_lost || clock->flushed[t] == 0;
    }
    driver->steps = clock->steps[0];
    for (uint32_t t = 0; t < started; ++t) {
        driver->cpu_ns += clock->cpu_ns[t];
    }
    if (driver->failure.failed) {
        outcome->periods = 0;
    }
    return driver->stop_signal == 0 && !driver->failure.failed;
}

const PeriodDriverOps CLOCK_OPS = {clock_open, clock_close, clock_trial};
} // namespace

void gather_threads(PeriodStats* const* stats, uint32_t threads, int64_t period_ns,
                    const Observer* observer, bool loaded, TrialOutcome* outcome) {
    uint64_t longest = 0;
    for (uint32_t t = 0; t < threads; ++t) {
        longest = stats[t]->periods > longest ? stats[t]->periods : longest;
        if (stats[t]->warmup_overrun_ns > outcome->warmup_overrun_ns) {
            outcome->warmup_overrun_ns = stats[t]->warmup_overrun_ns;
        }
        histogram_merge(&outcome->lateness, &stats[t]->lateness);
        histogram_merge(&outcome->processing, &stats[t]->processing);
        spread_merge(&outcome->spread, &stats[t]->spread);
        for (uint32_t c = 0; c < MAX_CHECKPOINTS; ++c) {
            if (stats[t]->worst_checkpoint_ns[c] > outcome->worst_checkpoint_ns[c]) {
                outcome->worst_checkpoint_ns[c] = stats[t]->worst_checkpoint_ns[c];
            }
        }
        for (uint32_t r = 0; r < stats[t]->record_count && observer != nullptr; ++r) {
            MissRecord* record = &stats[t]->records[r];
            observer_match(observer, t,
                           record->start_ns + record->lateness_ns + record->processing_ns, record);
        }
        classify_stats(stats[t], period_ns);
    }
    uint32_t cursors[MAX_RT_THREADS] = {};
    uint64_t missed = 0;
    for (uint64_t w = 0; w < (longest + 63) / 64; ++w) {
        uint64_t word = 0;
        for (uint32_t t = 0; t < threads; ++t) {
            word |= stats[t]->miss_map[w];
        }
        for (; word != 0; word &= word - 1) {
            const uint64_t index = w * 64 + static_cast<uint64_t>(__builtin_ctzll(word));
            const MissRecord* record = nullptr;
            for (uint32_t t = 0; t < threads && record == nullptr; ++t) {
                if ((stats[t]->miss_map[w] >> (index % 64) & 1) != 0) {
                    record = find_record(stats[t], index, &cursors[t]);
                }
            }
            mark_miss(outcome, record);
            missed += 1;
        }
    }
    // The periods any thread ran: the misses are counted over them.
    outcome->periods = longest;
    outcome->missed = missed;
    const PeriodSample* samples[MAX_RT_THREADS] = {};
    uint64_t read = longest;
    for (uint32_t t = 0; t < threads; ++t) {
        samples[t] = stats[t]->samples;
        read = stats[t]->periods < read ? stats[t]->periods : read;
        read = stats[t]->sample_capacity < read ? stats[t]->sample_capacity : read;
    }
    hold_shape_of(samples, samples[0] != nullptr ? threads : 0, read, period_ns, loaded,
                  &outcome->shape);
}

void clock_driver_init(PeriodDriver* driver, ClockDriver* backend, StopWait wait) {
    *driver = PeriodDriver{};
    driver->ops = &CLOCK_OPS;
    driver->backend = backend;
    driver->kind = RT_CLOCK_OWN;
    driver->wait_for_stop = wait;
    *backend = ClockDriver{};
}
