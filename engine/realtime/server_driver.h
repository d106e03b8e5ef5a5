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

#include "engine/realtime/capacity_search.h"
#include "engine/realtime/clock_driver.h"
#include "platform/platform_audio_server.h"

#include <atomic>
#include <cstdint>

struct ServerDriver {
    AudioServerClient* client;
    uint32_t frames;
    uint32_t rate;
    StreamSet* set; // nullptr: the idle system
    StopWait wait_for_stop;
    PeriodStats* stats;

    // The running trial, shared with the server's thread: written before its
    // work is installed, read after it is removed.
    PeriodJob job;
    uint64_t periods;
    uint64_t miss_budget;
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
    int64_t last_done; // when that period's work ended

    // Left by the last trial:
    int stop_signal;                 // the signal that stopped it, 0 when none
    bool failed;                     // the server went away or changed its buffer size
    char failure[AUDIO_SERVER_TEXT]; // what happened, one line
    ThreadSteps steps;               // the server's thread as the trial found it
    int64_t cpu_ns;                  // the server thread's processor time over the periods, 0
                                     // unknown
};

// For a client opened at `frames` and `rate`; false when memory is short.
bool server_driver_open(ServerDriver* driver, AudioServerClient* client, uint32_t frames,
                        uint32_t rate, StopWait wait);
void server_driver_close(ServerDriver* driver);

// TrialFunction: runs request->streams streams of driver->set in the
// server's callback until the periods are done, the miss budget is spent,
// a stop request comes (stop_signal), or the server goes away, changes its
// buffer size or stops calling (failed, with failure). False in the last
// three cases; the outcome holds what ran.
bool server_driver_trial(void* driver, const TrialRequest* request, TrialOutcome* outcome);
