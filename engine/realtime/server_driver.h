// The driver of the periods inside an audio server: the server's process
// callback runs the streams, one period per callback, on the server's one
// thread (a callback cannot spread them over cores, so this driver measures
// one core). server_driver_trial is the search's TrialFunction for it; the
// client stays in the server from the first trial to the last, and only the
// work it runs changes between trials.
//
// Each period's work is the same as on our own clock (period_loop.h, part
// a): its start is the server's stamp of the cycle's start, its deadline the
// cycle's end, which is the next cycle's start as the server stamps it, so
// a period is accounted in the callback after it (a trial of n periods
// takes n + 1 callbacks). The server's own load figure and xruns are
// kept beside our figures (ServerFigures), never in their place.
#pragma once

#include "engine/realtime/period_driver.h"
#include "engine/realtime/period_loop.h"
#include "platform/platform_audio_server.h"

#include <atomic>
#include <cstdint>

struct ServerDriver {
    AudioServerClient* client;
    char name[64]; // the server's, as the client names it
    uint32_t frames;
    uint32_t rate;
    PeriodStats* stats;

    // The running trial, shared with the server's thread: written before its
    // work is installed, read after it is removed.
    PeriodJob job;
    uint64_t periods;
    uint64_t warmup_left; // periods still to run before they count
    uint64_t miss_budget;
    MissJudge judge;
    std::atomic<bool> finished;
    int64_t processing_sum_ns;
    double load_sum;
    double load_max;
    uint64_t stated_periods; // periods for which the server stated its cycle's end
    uint64_t stated_missed;
    int64_t cpu_first_ns; // the server thread's processor time at the first period
    int64_t cpu_last_ns;  // and at the last one's end
    bool worked;          // a period was worked in `last` and awaits its cycle's end
    AudioServerCycle last;
    int64_t last_done;              // when that period's work ended
    RtThreadCounters last_entry;    // the thread's counters as that work began
    RtThreadCounters last_counters; // and as it ended
    ThreadSteps steps;              // the server's thread as the trial found it
};

// Makes `driver` run inside `client`'s cycle, on `backend`, which must
// outlive it. The client must be open; a trial fails once the server goes
// away, changes its buffer size or stops calling.
void server_driver_init(PeriodDriver* driver, ServerDriver* backend, AudioServerClient* client,
                        StopWait wait);
