#include "platform/platform_console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

static_assert(SIGINT == CONSOLE_SIGINT && SIGTERM == CONSOLE_SIGTERM);

namespace {
// A stop, once asked for, holds for the rest of the run: every part waiting
// after the one that collected it (the next child, the next trial) sees it.
std::atomic<int> stopped_by{0};

// With a watcher, it alone collects the signals and the waiters read
// `stopped_by`; `answered` says that some part of the run took the stop.
std::atomic<bool> watching{false};
std::atomic<bool> answered{false};
int64_t grace_ms = 0;

void sleep_ms(int64_t ms) {
    timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

sigset_t stop_signals();

// A stop that no part of the run takes within the grace is stuck in code
// that does not return (a plugin's, in this process): the program ends
// here, with the status it would have had.
void* watch_stops(void*) {
    sigset_t set = stop_signals();
    int signal_number = 0;
    while (sigwait(&set, &signal_number) != 0 || signal_number <= 0) {
    }
    stopped_by.store(signal_number);
    for (int64_t waited = 0; waited < grace_ms; waited += 10) {
        if (answered.load()) {
            return nullptr;
        }
        sleep_ms(10);
    }
    if (answered.load()) {
        return nullptr;
    }
    char line[200];
    const int length = std::snprintf(
        line, sizeof line,
        "test_zem_cli: stopped by %s, but the run did not answer within %lld ms (plugin code "
        "that does not return): nothing more is printed\n",
        signal_number == SIGINT ? "SIGINT" : "SIGTERM", static_cast<long long>(grace_ms));
    if (write(STDERR_FILENO, line, static_cast<size_t>(length)) < 0) {
        // nothing more to say it with
    }
    _exit(128 + signal_number);
}

// A forked child has no watcher: it collects its own signals again.
void forget_watcher() {
    watching.store(false);
}

sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
} // namespace

void console_block_stop_signals() {
    sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void console_watch_stops(int64_t grace) {
    grace_ms = grace;
    pthread_atfork(nullptr, nullptr, forget_watcher);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, watch_stops, nullptr) == 0) {
        pthread_detach(thread);
        watching.store(true);
    }
}

int console_wait_for_stop(int64_t timeout_ms) {
    if (stopped_by.load() != 0) {
        answered.store(true);
        return stopped_by.load();
    }
    if (watching.load()) {
        for (int64_t waited = 0; waited < timeout_ms; waited += 5) {
            sleep_ms(timeout_ms - waited < 5 ? timeout_ms - waited : 5);
            if (stopped_by.load() != 0) {
                answered.store(true);
                return stopped_by.load();
            }
        }
        return 0;
    }
    sigset_t set = stop_signals();
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(timeout_ms / 1000);
    timeout.tv_nsec = static_cast<long>((timeout_ms % 1000) * 1000000);
    for (;;) {
        int signal_number = sigtimedwait(&set, nullptr, &timeout);
        if (signal_number > 0) {
            stopped_by.store(signal_number);
            return signal_number;
        }
        if (errno != EINTR) {
            return 0; // EAGAIN: the time is up
        }
    }
}

bool console_stderr_is_terminal() {
    return isatty(STDERR_FILENO) == 1;
}
