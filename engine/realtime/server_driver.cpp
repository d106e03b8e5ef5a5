#include "engine/realtime/server_driver.h"

#include "engine/realtime/period_grid.h"
#include "platform/platform_engine.h"

#include <cstdarg>
#include <cstdio>

namespace {
constexpr int64_t WAIT_STEP_MS = 10;
// A server that calls no period for this long (or 8 periods, if longer) has
// stopped running us.
constexpr int64_t SILENCE_MS = 2000;

int64_t clock_now(void* /*context*/) {
    return rt_now_ns();
}

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
    const bool missed =
        period_account(stats, stats->periods, last->start_ns, cycle_end(driver, last, next),
                       last->woke_ns, driver->last_done);
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
    if (driver->worked) {
        close_period(driver, cycle);
        if (driver->finished.load(std::memory_order_relaxed)) {
            return;
        }
    } else {
        rt_flush_denormals(&driver->steps.denormals);
        driver->cpu_first_ns = rt_thread_cpu_ns();
    }
    const RtClock clock{clock_now, nullptr, nullptr};
    driver->last_done =
        period_work(&driver->job, &clock, cycle->start_ns, cycle->woke_ns, driver->stats);
    driver->last = *cycle;
    driver->worked = true;
}

__attribute__((format(printf, 2, 3))) void fail(ServerDriver* driver, const char* format, ...) {
    driver->failed = true;
    va_list args;
    va_start(args, format);
    std::vsnprintf(driver->failure, sizeof driver->failure, format, args);
    va_end(args);
}

// Whether the server is still there, at our buffer size.
bool server_fine(ServerDriver* driver, const AudioServerState* state) {
    if (state->shutdown) {
        fail(driver, "the JACK server stopped during the run%s%s",
             state->shutdown_reason[0] != '\0' ? ": " : "", state->shutdown_reason);
    } else if (state->buffer_size_changed) {
        fail(driver, "the JACK server changed its buffer size from %u to %u during the run",
             driver->frames, state->new_buffer_frames);
    }
    return !driver->failed;
}

// Waits for the trial's end, a stop request, or trouble with the server.
void wait_for_trial(ServerDriver* driver, uint64_t periods_before) {
    int64_t silent_limit_ms = 8 * static_cast<int64_t>(driver->frames) * 1000 / driver->rate;
    silent_limit_ms = silent_limit_ms > SILENCE_MS ? silent_limit_ms : SILENCE_MS;
    uint64_t seen = periods_before;
    int64_t silent_ms = 0;
    while (!driver->finished.load(std::memory_order_acquire)) {
        int signal_number = driver->wait_for_stop(WAIT_STEP_MS);
        if (signal_number != 0) {
            driver->stop_signal = signal_number;
            return;
        }
        AudioServerState state{};
        audio_server_state(driver->client, &state);
        if (!server_fine(driver, &state)) {
            return;
        }
        silent_ms = state.periods != seen ? 0 : silent_ms + WAIT_STEP_MS;
        seen = state.periods;
        if (silent_ms >= silent_limit_ms) {
            fail(driver,
                 "the JACK server stopped running our process callback (no period for "
                 "%.1f s)",
                 static_cast<double>(silent_ms) / 1000.0);
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
                  "the JACK server's process cycle: its callback starts each period");
    std::snprintf(steps->slack.note, sizeof steps->slack.note,
                  "the server's thread's own timer slack");
    std::snprintf(steps->pin.note, sizeof steps->pin.note,
                  "not pinned: the server's thread runs where the server puts it");
    if (steps->denormals.note[0] == '\0') {
        std::snprintf(steps->denormals.note, sizeof steps->denormals.note,
                      "denormals as the server's thread has them (no period ran)");
    }
}

void gather(ServerDriver* driver, int64_t period_ns, uint32_t xruns, TrialOutcome* outcome) {
    const PeriodStats* stats = driver->stats;
    outcome->periods = stats->periods;
    outcome->missed = stats->missed;
    outcome->lateness = stats->lateness;
    outcome->processing = stats->processing;
    for (uint32_t c = 0; c < MAX_CHECKPOINTS; ++c) {
        outcome->worst_checkpoint_ns[c] = stats->worst_checkpoint_ns[c];
        outcome->worst_checkpoint_end_ns[c] = stats->worst_checkpoint_end_ns[c];
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
    driver->cpu_ns = driver->cpu_last_ns > 0 ? driver->cpu_last_ns - driver->cpu_first_ns : 0;
}
} // namespace

bool server_driver_open(ServerDriver* driver, AudioServerClient* client, uint32_t frames,
                        uint32_t rate, StopWait wait) {
    driver->client = client;
    driver->frames = frames;
    driver->rate = rate;
    driver->set = nullptr;
    driver->wait_for_stop = wait;
    driver->stats = static_cast<PeriodStats*>(platform_alloc(sizeof(PeriodStats)));
    if (driver->stats == nullptr) {
        return false;
    }
    *driver->stats = PeriodStats{};
    return true;
}

void server_driver_close(ServerDriver* driver) {
    platform_free(driver->stats);
    driver->stats = nullptr;
}

bool server_driver_trial(void* context, const TrialRequest* request, TrialOutcome* outcome) {
    auto* driver = static_cast<ServerDriver*>(context);
    driver->stop_signal = 0;
    period_stats_reset(driver->stats);
    driver->job = PeriodJob{};
    driver->job.set = driver->set;
    driver->job.streams = driver->set != nullptr ? request->streams : 0;
    driver->job.checkpoint_count = driver->set != nullptr ? request->checkpoint_count : 0;
    for (uint32_t c = 0; c < driver->job.checkpoint_count && c < MAX_CHECKPOINTS; ++c) {
        driver->job.checkpoints[c] = request->checkpoints[c];
    }
    driver->periods = request->periods;
    driver->miss_budget = request->miss_budget;
    driver->processing_sum_ns = 0;
    driver->load_sum = 0.0;
    driver->load_max = 0.0;
    driver->stated_periods = 0;
    driver->stated_missed = 0;
    driver->cpu_first_ns = 0;
    driver->cpu_last_ns = 0;
    driver->worked = false;
    driver->finished.store(false);

    AudioServerState before{};
    audio_server_state(driver->client, &before);
    if (server_fine(driver, &before)) {
        if (audio_server_start_work(driver->client, server_period, driver)) {
            wait_for_trial(driver, before.periods);
            audio_server_stop_work(driver->client);
        } else {
            fail(driver, "the JACK server took no work from us: it has gone away");
        }
    }
    AudioServerState after{};
    audio_server_state(driver->client, &after);
    note_steps(driver, &after);
    if (!driver->failed) {
        server_fine(driver, &after); // a change the last period saw first
    }
    gather(driver, grid_period_ns(driver->frames, driver->rate),
           after.server_xruns - before.server_xruns, outcome);
    return driver->stop_signal == 0 && !driver->failed;
}
