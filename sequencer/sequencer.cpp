#include "sequencer/sequencer.h"

#include "engine/measure_state.h"
#include "engine/workers.h"

SequencerState sequencer_state{};

namespace {
constexpr uint32_t FINISH_PHASE = RUN_TICKS / TICKS_PER_PHASE;

// The progress bar: a white bar with a black frame, filled from the left by
// 285/160 of a pixel per tick.
constexpr int32_t BAR_LEFT = 5;
constexpr int32_t BAR_TOP = 40;
constexpr int32_t BAR_RIGHT = 290;
constexpr int32_t BAR_BOTTOM = 60;
constexpr uint32_t BAR_SPAN = 285;

const char* const NO_TIMER_TEXT = "The test could not be started: no timer is available.";
const char* const NO_TIMER_CAPTION = "Test not possible";

void kill_run_timer(WindowHandle window) {
    if (sequencer_state.timer_id != 0) {
        platform_kill_timer(window, sequencer_state.timer_id);
    }
    sequencer_state.timer_id = 0;
}

void join_worker() {
    if (sequencer_state.worker_handle != nullptr) {
        platform_thread_wait(sequencer_state.worker_handle);
        platform_thread_close(sequencer_state.worker_handle);
        sequencer_state.worker_handle = nullptr;
    }
}

void finish_run(WindowHandle window) {
    stop_worker();
    kill_run_timer(window);
    platform_enable_window(window, true);
    platform_invalidate(window, true);
}

void run_phase(WindowHandle window, uint32_t phase) {
    switch (phase) {
    case 0:
        start_worker(int_test_worker);
        break;
    case 1:
        start_worker(float_test_worker);
        break;
    case 2:
        start_worker(mix_test_worker);
        break;
    case FINISH_PHASE:
        finish_run(window);
        break;
    default: // phase 3: the mix test keeps running
        break;
    }
}

void draw_progress_bar(WindowHandle window, uint32_t tick_count) {
    DrawContext* dc = platform_get_dc(window);
    if (dc == nullptr) {
        return;
    }
    platform_select_object(dc, platform_stock_object(STOCK_WHITE_BRUSH));
    platform_select_object(dc, platform_stock_object(STOCK_BLACK_PEN));
    platform_rectangle(dc, BAR_LEFT, BAR_TOP, BAR_RIGHT, BAR_BOTTOM);
    platform_select_object(dc, platform_stock_object(STOCK_BLACK_BRUSH));
    auto filled = static_cast<int32_t>(tick_count * BAR_SPAN / RUN_TICKS);
    platform_rectangle(dc, BAR_LEFT, BAR_TOP, BAR_LEFT + filled, BAR_BOTTOM);
    platform_release_dc(window, dc);
}
} // namespace

void stop_worker() {
    if (sequencer_state.worker_handle != nullptr) {
        measure_state.running.store(0);
        join_worker();
    }
}

void start_worker(WorkerEntry entry) {
    stop_worker();
    measure_state.running.store(1);
    sequencer_state.worker_handle = platform_thread_start(entry);
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
    draw_progress_bar(window, sequencer_state.tick_count);
}

void cancel_test_run(WindowHandle window) {
    sequencer_state.tick_count = 0;
    measure_state.running.store(0);
    kill_run_timer(window);
    join_worker();
}
