#include "engine/realtime/server_driver.h"

#include "engine/realtime/miss_classify.h"
#include "engine/realtime/period_grid.h"
#include "platform/platform_engine.h"

#include <cstdarg>
#include <cstdio>

namespace {
constexpr int64_t WAIT_SLICE_MS = 10;
// A server that calls no period for this long (or 8 periods, if longer) has
// stopped running us.
constexpr int64_t SILENCE_MS = 2000;

// The server's thread keeps the periods: it reads only the clock and its
// own counters.
const RtClock SERVER_CLOCK{real_now_ns, nullptr, nullptr, real_thread_counters, nullptr};

// The end of the cycle `last` was worked in: the start of the cycle after
// it, read in `next` (less a period for each cycle the server ran without
// us in between). A server that keeps no frame count leaves the end
// planned at the cycle's start.
int64_t cycle_end(const ServerDriver* driver, const AudioServerCycle* last,
                  const AudioServerCycle* next) {
    const uint32_t advanced = next->frame_time - last->frame_time; // wraps as the count does
    if (advanced == 0 || advanced % driver->frames != 0) {
        return last->deadline_ns;
    }
    const int64_t skipped = advanced / driver->frames - 1;
    return next->start_ns - skipped * grid_period_ns(driver->frames, driver->rate);
}

// Accounts the period worked in the last cycle, now that `next` tells
// where that cycle ended.
void close_period(ServerDriver* driver, const AudioServerCycle* next) {
    const AudioServerCycle* last = &driver->last;
    PeriodStats* stats = driver->stats;
    const PeriodTimes times{last->start_ns, cycle_end(driver, last, next), last->woke_ns,
                            driver->last_done};
    if (driver->warmup_left > 0) {
        driver->warmup_left -= 1; // run, not counted
        return;
    }
    // The server's thread runs other clients between our periods: only our
    // own work's processor time counts.
    stats->last_counters = driver->last_entry;
    const bool missed =
        period_account(stats, &driver->judge, stats->periods, &times, &driver->last_counters);
    driver->processing_sum_ns += driver->last_done - last->woke_ns;
    driver->load_sum += last->server_load;
    driver->load_max = last->server_load > driver->load_max ? last->server_load : driver->load_max;
    if (last->stated_end_ns != 0) {
        driver->stated_periods += 1;
        driver->stated_missed += driver->last_done > last->stated_end_ns ? 1 : 0;
    }
    if (stats->periods >= driver->periods || (missed && stats->missed > driver->miss_budget)) {
        driver->cpu_last_ns = rt_thread_cpu_ns();
        driver->finished.store(true, std::memory_order_release);
    }
}

// Runs on the server's thread, once a period while the trial's work is
// installed: closes the last cycle's period, then works in this one.
void server_period(void* context, const AudioServerCycle* cycle) {
    auto* driver = static_cast<ServerDriver*>(context);
    if (driver->finished.load(std::memory_order_relaxed)) {
        return;
    }
    if (cycle->frames != driver->frames) {
        // The buffer size changed under us: the caller hears of it from the
        // client's state; our streams were made for the old size.
        driver->finished.store(true, std::memory_order_release);
        return;
    }
    RtThreadCounters entry{};
    rt_thread_counters(&entry);
    if (driver->worked) {
        close_period(driver, cycle);
        if (driver->finished.load(std::memory_order_relaxed)) {
            return;
        }
    } else {
        rt_flush_denormals(&driver->steps.denormals);
        driver->cpu_first_ns = rt_thread_cpu_ns();
        period_begin(driver->stats, &SERVER_CLOCK);
    }
    driver->last_done = period_work(&driver->job, &SERVER_CLOCK, cycle->woke_ns, driver->stats);
    rt_thread_counters(&driver->last_counters);
    driver->last_entry = entry;
    driver->last = *cycle;
    driver->worked = true;
}

// Whether the server is still there, at our buffer size.
bool server_fine(PeriodDriver* driver, const AudioServerState* state) {
    const ServerDriver* server = static_cast<ServerDriver*>(driver->backend);
    if (state->shutdown) {
        driver_fail(driver, "the %s server stopped during the run%s%s", server->name,
                    state->shutdown_reason[0] != '\0' ? ": " : "", state->shutdown_reason);
    } else if (state->buffer_size_changed) {
        driver_fail(driver, "the %s server changed its buffer size from %u to %u during the run",
                    server->name, server->frames, state->new_buffer_frames);
    }
    return !driver->failure.failed;
}

// Waits for the trial's end, a stop request, or trouble with the server.
void wait_for_trial(PeriodDriver* driver, uint64_t periods_before) {
    ServerDriver* server = static_cast<ServerDriver*>(driver->backend);
    int64_t silent_limit_ms = 8 * static_cast<int64_t>(server->frames) * 1000 / server->rate;
    silent_limit_ms = silent_limit_ms > SILENCE_MS ? silent_limit_ms : SILENCE_MS;
    uint64_t seen = periods_before;
    int64_t silent_ms = 0;
    while (!server->finished.load(std::memory_order_acquire)) {
        int signal_number = driver->wait_for_stop(WAIT_SLICE_MS);
        if (signal_number != 0) {
            driver->stop_signal = signal_number;
            return;
        }
        AudioServerState state{};
        audio_server_state(server->client, &state);
        if (!server_fine(driver, &state)) {
            return;
        }
        silent_ms = state.periods != seen ? 0 : silent_ms + WAIT_SLICE_MS;
        seen = state.periods;
        if (silent_ms >= silent_limit_ms) {
            driver_fail(driver,
                        "the %s server stopped running our process callback (no period for "
                        "%.1f s)",
                        server->name, static_cast<double>(silent_ms) / 1000.0);
            return;
        }
    }
}

void note_steps(ServerDriver* driver, const AudioServerState* state) {
    ThreadSteps* steps = &driver->steps;
    steps->priority.done = state->thread_realtime ? 1 : 0;
    std::snprintf(steps->priority.note, sizeof steps->priority.note, "%.200s",
                  state->thread[0] != '\0' ? state->thread : "the server's thread: not known");
    steps->timer.done = 1;
    std::snprintf(steps->timer.note, sizeof steps->timer.note,
                  "the %s server's process cycle: its callback starts each period", driver->name);
    std::snprintf(steps->slack.note, sizeof steps->slack.note,
                  "the server's thread's own timer slack");
    std::snprintf(steps->pin.note, sizeof steps->pin.note,
                  "not pinned: the server's thread runs where the server puts it");
    if (steps->denormals.note[0] == '\0') {
        std::snprintf(steps->denormals.note, sizeof steps->denormals.note,
                      "denormals as the server's thread has them (no period ran)");
    }
}

void gather(ServerDriver* driver, int64_t period_ns, uint32_t xruns, bool loaded,
            TrialOutcome* outcome) {
    PeriodStats* stats = driver->stats;
    outcome->periods = stats->periods;
    outcome->missed = stats->missed;
    classify_stats(stats, period_ns);
    for (uint32_t r = 0; r < stats->record_count; ++r) {
        mark_miss(outcome, &stats->records[r]);
    }
    for (uint64_t m = stats->record_count; m < stats->missed; ++m) {
        mark_miss(outcome, nullptr);
    }
    outcome->lateness = stats->lateness;
    outcome->processing = stats->processing;
    outcome->spread = stats->spread;
    const PeriodSample* samples[1] = {stats->samples};
    hold_shape_of(samples, 1,
                  stats->periods < stats->sample_capacity ? stats->periods : stats->sample_capacity,
                  period_ns, loaded, &outcome->shape);
    for (uint32_t c = 0; c < MAX_CHECKPOINTS; ++c) {
        outcome->worst_checkpoint_ns[c] = stats->worst_checkpoint_ns[c];
    }
    ServerFigures* server = &outcome->server;
    server->measured = true;
    server->xruns = xruns;
    if (stats->periods > 0) {
        const auto periods = static_cast<double>(stats->periods);
        server->load_mean = driver->load_sum / periods;
        server->load_max = driver->load_max;
        server->our_load_mean = 100.0 * static_cast<double>(driver->processing_sum_ns) /
                                (periods * static_cast<double>(period_ns));
        server->our_load_max =
            100.0 * static_cast<double>(stats->processing.max) / static_cast<double>(period_ns);
    }
    server->stated_end_known = driver->stated_periods == stats->periods && stats->periods > 0;
    server->stated_missed = driver->stated_missed;
}

void server_close(PeriodDriver* driver) {
    auto* server = static_cast<ServerDriver*>(driver->backend);
    if (server->stats != nullptr) {
        platform_free(server->stats->records);
        platform_free(server->stats->samples);
    }
    platform_free(server->stats);
    server->stats = nullptr;
}

bool server_open(PeriodDriver* driver, const DriverSetup* setup) {
    auto* server = static_cast<ServerDriver*>(driver->backend);
    driver->threads = 1; // the server's thread, not one of ours
    server->frames = setup->frames;
    server->rate = setup->rate;
    server->stats = static_cast<PeriodStats*>(platform_alloc(sizeof(PeriodStats)));
    if (server->stats != nullptr) {
        *server->stats = PeriodStats{};
        server->stats->records =
            static_cast<MissRecord*>(platform_alloc(MAX_MISS_RECORDS * sizeof(MissRecord)));
        server->stats->samples = static_cast<PeriodSample*>(
            platform_alloc(static_cast<size_t>(setup->max_periods) * sizeof(PeriodSample)));
        server->stats->sample_capacity = setup->max_periods;
    }
    if (server->stats == nullptr || server->stats->records == nullptr ||
        server->stats->samples == nullptr) {
        server_close(driver);
        driver_fail(driver, "not enough memory for the figures of a trial");
        return false;
    }
    return true;
}

bool server_trial(PeriodDriver* driver, const TrialRequest* request, TrialOutcome* outcome) {
    auto* server = static_cast<ServerDriver*>(driver->backend);
    StreamSet* set = driver->sets[0];
    period_stats_reset(server->stats);
    server->job = PeriodJob{};
    server->job.set = set;
    server->job.streams = set != nullptr ? request->streams : 0;
    if (set != nullptr && request->streams > set->capacity) {
        driver_fail(driver, "a trial asked for %u streams, more than the %u prepared",
                    request->streams, set->capacity);
        return false;
    }
    server->job.checkpoint_count = set != nullptr ? request->checkpoint_count : 0;
    for (uint32_t c = 0; c < server->job.checkpoint_count && c < MAX_CHECKPOINTS; ++c) {
        server->job.checkpoints[c] = request->checkpoints[c];
    }
    server->periods = request->periods;
    server->warmup_left = request->warmup_periods;
    server->miss_budget = request->miss_budget;
    server->judge = request->judge;
    server->processing_sum_ns = 0;
    server->load_sum = 0.0;
    server->load_max = 0.0;
    server->stated_periods = 0;
    server->stated_missed = 0;
    server->cpu_first_ns = 0;
    server->cpu_last_ns = 0;
    server->worked = false;
    server->finished.store(false);

    AudioServerState before{};
    audio_server_state(server->client, &before);
    if (server_fine(driver, &before)) {
        if (audio_server_start_work(server->client, server_period, server)) {
            wait_for_trial(driver, before.periods);
            audio_server_stop_work(server->client);
        } else {
            driver_fail(driver, "the %s server took no work from us: it has gone away",
                        server->name);
        }
    }
    AudioServerState after{};
    audio_server_state(server->client, &after);
    note_steps(server, &after);
    driver->steps = server->steps;
    if (!driver->failure.failed) {
        server_fine(driver, &after); // a change the last period saw first
    }
    gather(server, grid_period_ns(server->frames, server->rate),
           after.server_xruns - before.server_xruns, request->streams > 0, outcome);
    driver->cpu_ns = server->cpu_last_ns > 0 ? server->cpu_last_ns - server->cpu_first_ns : 0;
    return driver->stop_signal == 0 && !driver->failure.failed;
}

const PeriodDriverOps SERVER_OPS = {server_open, server_close, server_trial};
} // namespace

void server_driver_init(PeriodDriver* driver, ServerDriver* backend, AudioServerClient* client,
                        StopWait wait) {
    *driver = PeriodDriver{};
    driver->ops = &SERVER_OPS;
    driver->backend = backend;
    driver->kind = RT_CLOCK_SERVER;
    driver->wait_for_stop = wait;
    backend->client = client;
    std::snprintf(backend->name, sizeof backend->name, "%s", audio_server_name(client));
    backend->stats = nullptr;
}
