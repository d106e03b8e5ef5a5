// The 500 ms tick that turns one press of TEST into a whole run: ZEM-1 from
// tick 0, ZEM-2 from tick 40, ZEM-M from tick 80 until the run ends on tick
// 160, with the progress bar redrawn on every tick. Everything here runs on
// the interface thread.
#pragma once

#include "platform/platform_engine.h"
#include "platform/platform_window.h"

#include <cstdint>

#include "engine/worker_control.h"

constexpr uint32_t TIMER_PERIOD_MS = 500;
constexpr uintptr_t RUN_TIMER_ID = 100;
constexpr uint32_t TICKS_PER_PHASE = SLOT_UNIT_MS / TIMER_PERIOD_MS; // 40
constexpr uint32_t RUN_TICKS = RUN_SLOT_UNITS * TICKS_PER_PHASE;     // 160

struct SequencerState {
    uint32_t tick_count;           // ticks handled since the run began
    uintptr_t timer_id;            // 0 when no timer is active
    PlatformThread* worker_handle; // nullptr when no worker exists
};

extern SequencerState sequencer_state;

// TEST pressed: disables the window and starts the tick timer. When the
// timer cannot be created the run does not start: the window is enabled
// again and a message box says so.
void start_test_run(WindowHandle window);
// One tick: the schedule's action on ticks 0, 40, 80, 120 and 160, then the
// progress bar.
void on_tick(WindowHandle window);
// Stops a run in any state (the window is closing): timer killed, worker
// stopped and joined. A second call finds nothing to do.
void cancel_test_run(WindowHandle window);

// Steps of the schedule: stop_worker clears the run flag and joins the
// worker, if any; start_worker stops the previous one, sets the flag and
// starts `entry` on a thread of its own.
void stop_worker();
void start_worker(WorkerEntry entry);
