#include "sequencer/sequencer.h"

#include "engine/measure_state.h"
#include "engine/worker_control.h"
#include "sequencer/run_progress.h"
#include "sequencer/schedule_run.h"

SequencerState sequencer_state{};

namespace {
constexpr uint32_t FINISH_PHASE = RUN_TICKS / TICKS_PER_PHASE;

const char* const NO_TIMER_TEXT = "The test could not be started: no timer is available.";
const char* const NO_TIMER_CAPTION = "Test not possible";

void kill_run_timer(WindowHandle window) {
    if (sequencer_state.timer_id != 0) {
        platform_kill_timer(window, sequencer_state.timer_id);
    }
    sequencer_state.timer_id = 0;
}

void finish_run(WindowHandle window) {
    stop_worker();
    kill_run_timer(window);
    platform_enable_window(window, true);
    platform_invalidate(window, true);
}

// Phase p begins on tick 40 * p: the test whose slot starts there begins,
// the last phase ends the run, and otherwise the running test goes on.
void run_phase(WindowHandle window, uint32_t phase) {
    if (phase == FINISH_PHASE) {
        finish_run(window);
        return;
    }
    const ScheduledTest* test = test_starting_at(phase);
    if (test != nullptr) {
        start_worker(test->entry);
    }
}
} // namespace

void stop_worker() {
    if (sequencer_state.worker_handle != nullptr) {
        worker_stop(sequencer_state.worker_handle);
        sequencer_state.worker_handle = nullptr;
    }
}

void start_worker(WorkerEntry entry) {
    stop_worker();
    sequencer_state.worker_handle = worker_start(entry);
}

void start_test_run(WindowHandle window) {
    platform_enable_window(window, false);
    sequencer_state.tick_count = 0;
    sequencer_state.timer_id = platform_set_timer(window, RUN_TIMER_ID, TIMER_PERIOD_MS);
    if (sequencer_state.timer_id == 0) {
        platform_enable_window(window, true);
        platform_message_box(window, NO_TIMER_TEXT, NO_TIMER_CAPTION,
                             BOX_OK | BOX_ICON_EXCLAMATION);
    }
}

void on_tick(WindowHandle window) {
    uint32_t tick = sequencer_state.tick_count;
    if (tick % TICKS_PER_PHASE == 0 && tick / TICKS_PER_PHASE <= FINISH_PHASE) {
        run_phase(window, tick / TICKS_PER_PHASE);
    }
    sequencer_state.tick_count += 1;
    draw_progress_bar(window, sequencer_state.tick_count, RUN_TICKS);
}

void cancel_test_run(WindowHandle window) {
    sequencer_state.tick_count = 0;
    kill_run_timer(window);
    worker_stop(sequencer_state.worker_handle);
    sequencer_state.worker_handle = nullptr;
}
