#include "engine/realtime/run_context.h"

#include <cstdarg>
#include <cstdio>

namespace {
// About how long the rest of the plan takes: the measurements so far, or
// before the first ends, what one is planned to take.
int64_t seconds_left(const RunContext* run) {
    const uint32_t done = run->measurement - 1;
    const uint32_t left = run->measurements - done;
    if (done > 0) {
        return (rt_now_ns() - run->started_ns) / 1000000000 * left / done;
    }
    const double tests = static_cast<double>(run->plan->loads.size());
    const double per_config = idle_seconds(run->plan) + tests * (run->plan->confirm_seconds + 3.0);
    return static_cast<int64_t>(per_config / (1.0 + tests) * left);
}
} // namespace

__attribute__((format(printf, 2, 3))) void progress(const RunContext* run, const char* format,
                                                    ...) {
    if (run->host->progress == nullptr) {
        return;
    }
    char text[200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    char line[260];
    // The manual calls each measurement a step (docs/realtime-mode.md).
    const int64_t left = seconds_left(run);
    if (left >= 60) {
        std::snprintf(line, sizeof line, "step %u of %u, about %lld min left: %s", run->measurement,
                      run->measurements, static_cast<long long>((left + 30) / 60), text);
    } else {
        std::snprintf(line, sizeof line, "step %u of %u, under a minute left: %s", run->measurement,
                      run->measurements, text);
    }
    run->host->progress(run->host->progress_context, line);
}

bool stop_requested(RunContext* run) {
    int signal_number = run->host->wait_for_stop(0);
    if (signal_number != 0) {
        run->result->stop_signal = signal_number;
    }
    return run->result->stop_signal != 0;
}

void keep_figures(RtFigures* figures, uint32_t streams, const TrialOutcome* outcome) {
    figures->streams = streams;
    figures->periods = outcome->periods;
    figures->missed = outcome->missed;
    figures->processing = outcome->processing;
    figures->lateness = outcome->lateness;
    figures->server = outcome->server;
    figures->misses = outcome->misses;
    figures->mark_count = outcome->mark_count;
    for (uint32_t m = 0; m < outcome->mark_count; ++m) {
        figures->marks[m] = outcome->marks[m];
    }
}

void keep_steps(RunContext* run, const PeriodDriver* driver) {
    if (!run->result->thread_steps_known && driver->steps.timer.note[0] != '\0') {
        run->result->thread_steps = driver->steps;
        run->result->thread_steps_known = true;
    }
}
