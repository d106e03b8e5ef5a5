#include "platform/platform_console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

static_assert(SIGINT == CONSOLE_SIGINT && SIGTERM == CONSOLE_SIGTERM);

namespace {
// A stop, once asked for, holds for the rest of the run: every part waiting
// after the one that collected it (the next child, the next trial) sees it.
std::atomic<int> stopped_by{0};

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

int console_wait_for_stop(int64_t timeout_ms) {
    if (stopped_by.load() != 0) {
        return stopped_by.load();
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
