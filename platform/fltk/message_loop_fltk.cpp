// The message loop and timers of platform_window.h on FLTK 1.3.
//
// The window manager's close request and timers post MESSAGE_CLOSE and
// MESSAGE_TIMER to a queue read by platform_get_message, which runs Fl::wait
// while the queue is empty. A timer has at most one message waiting, and
// killing it removes that message, as with Win32's WM_TIMER. Fl::wait runs
// timeout callbacks before it blocks, so a post also writes a byte to a pipe
// that FLTK watches: Fl::wait returns at once instead of a period later.
#include "platform/fltk/fltk_platform.h"

#include <FL/Fl.H>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr uint32_t MESSAGE_QUIT = 0x0012;
constexpr double WAIT_FOREVER = 1e20;
constexpr uint32_t SHORTEST_TIMER_MS = 10;
constexpr size_t MAX_TIMERS = 8;
constexpr size_t QUEUE_CAPACITY = 64;

struct TimerSlot {
    PlatformWindow* window;
    uintptr_t id;
    double period_s;
    bool active;
};

struct MessageQueue {
    PlatformMessage items[QUEUE_CAPACITY];
    size_t head;
    size_t count;
    bool quit_posted;
    int32_t quit_code;
};

TimerSlot timer_slots[MAX_TIMERS];
MessageQueue queue{};
int wake_pipe[2] = {-1, -1};

void drain_wake_pipe(FL_SOCKET fd, void*) {
    char bytes[64];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
}

// Makes the Fl::wait in progress, or the next one, return without blocking.
void wake_message_loop() {
    if (wake_pipe[1] < 0) {
        if (pipe2(wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
            wake_pipe[0] = wake_pipe[1] = -1;
            return;
        }
        Fl::add_fd(wake_pipe[0], FL_READ, drain_wake_pipe);
    }
    const char byte = 0;
    if (write(wake_pipe[1], &byte, 1) < 0) {
        return; // the pipe is full: the loop is awake already
    }
}

bool take_message(PlatformMessage* message) {
    if (queue.count == 0) {
        return false;
    }
    *message = queue.items[queue.head];
    queue.head = (queue.head + 1) % QUEUE_CAPACITY;
    queue.count -= 1;
    return true;
}

bool is_message(const PlatformMessage* item, PlatformWindow* window, uint32_t message,
                uintptr_t wparam) {
    return item->window == window && item->message == message && item->wparam == wparam;
}

bool message_waiting(PlatformWindow* window, uint32_t message, uintptr_t wparam) {
    for (size_t i = 0; i < queue.count; ++i) {
        if (is_message(&queue.items[(queue.head + i) % QUEUE_CAPACITY], window, message, wparam)) {
            return true;
        }
    }
    return false;
}

// Removes every waiting message that matches, keeping the others in order.
void remove_messages(PlatformWindow* window, uint32_t message, uintptr_t wparam) {
    size_t kept = 0;
    for (size_t i = 0; i < queue.count; ++i) {
        PlatformMessage item = queue.items[(queue.head + i) % QUEUE_CAPACITY];
        if (!is_message(&item, window, message, wparam)) {
            queue.items[(queue.head + kept) % QUEUE_CAPACITY] = item;
            kept += 1;
        }
    }
    queue.count = kept;
}

void timer_expired(void* data) {
    auto* slot = static_cast<TimerSlot*>(data);
    if (!slot->active) {
        return;
    }
    if (!message_waiting(slot->window, MESSAGE_TIMER, slot->id)) {
        fltk_post_message(slot->window, MESSAGE_TIMER, slot->id, 0);
    }
    Fl::repeat_timeout(slot->period_s, timer_expired, data);
}
} // namespace

bool fltk_post_message(PlatformWindow* window, uint32_t message, uintptr_t wparam,
                       intptr_t lparam) {
    if (queue.count == QUEUE_CAPACITY) {
        return false;
    }
    queue.items[(queue.head + queue.count) % QUEUE_CAPACITY] =
        PlatformMessage{window, message, wparam, lparam};
    queue.count += 1;
    wake_message_loop();
    return true;
}

bool platform_get_message(PlatformMessage* message) {
    for (;;) {
        if (take_message(message)) {
            return true;
        }
        if (queue.quit_posted) {
            queue.quit_posted = false;
            *message =
                PlatformMessage{nullptr, MESSAGE_QUIT, static_cast<uintptr_t>(queue.quit_code), 0};
            return false;
        }
        Fl::wait(WAIT_FOREVER);
    }
}

void platform_translate_message(const PlatformMessage*) {
    // FLTK has already turned key presses into text.
}

void platform_dispatch_message(const PlatformMessage* message) {
    PlatformWindow* window = message->window;
    if (window != nullptr && window->proc != nullptr) {
        window->proc(window, message->message, message->wparam, message->lparam);
    }
}

void platform_post_quit_message(int32_t code) {
    queue.quit_posted = true;
    queue.quit_code = code;
    wake_message_loop();
}

uintptr_t platform_set_timer(WindowHandle window, uintptr_t id, uint32_t period_ms) {
    if (window == nullptr || id == 0) {
        return 0;
    }
    TimerSlot* slot = nullptr;
    for (TimerSlot& candidate : timer_slots) {
        if (candidate.active && candidate.window == window && candidate.id == id) {
            Fl::remove_timeout(timer_expired, &candidate);
            slot = &candidate;
            break;
        }
        if (!candidate.active && slot == nullptr) {
            slot = &candidate;
        }
    }
    if (slot == nullptr) {
        return 0;
    }
    uint32_t period = period_ms < SHORTEST_TIMER_MS ? SHORTEST_TIMER_MS : period_ms;
    *slot = TimerSlot{window, id, period / 1000.0, true};
    Fl::add_timeout(slot->period_s, timer_expired, slot);
    return id;
}

bool platform_kill_timer(WindowHandle window, uintptr_t id) {
    for (TimerSlot& slot : timer_slots) {
        if (slot.active && slot.window == window && slot.id == id) {
            Fl::remove_timeout(timer_expired, &slot);
            slot.active = false;
            remove_messages(window, MESSAGE_TIMER, id);
            return true;
        }
    }
    return false;
}
