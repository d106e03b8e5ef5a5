// The console runner's stop requests on Windows: Ctrl-C and Ctrl-Break come
// as SIGINT (exit status 130), closing the console, logging off or shutting
// down as SIGTERM (143), through SetConsoleCtrlHandler.
#include "platform/platform_console.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>

namespace {
HANDLE stop_event = nullptr;
std::atomic<int> stop_signal{0};

BOOL WINAPI on_console_event(DWORD event) {
    int signal_number =
        event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? CONSOLE_SIGINT : CONSOLE_SIGTERM;
    int none = 0;
    stop_signal.compare_exchange_strong(none, signal_number);
    SetEvent(stop_event);
    return TRUE; // handled: the program stops on its own
}
} // namespace

void console_block_stop_signals() {
    if (stop_event == nullptr) {
        stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(on_console_event, TRUE);
    }
}

// The console's break events come on a thread of their own already.
void console_watch_stops(int64_t) {}

int console_wait_for_stop(int64_t timeout_ms) {
    if (stop_event == nullptr) {
        Sleep(static_cast<DWORD>(timeout_ms));
        return 0;
    }
    DWORD waited = WaitForSingleObject(stop_event, static_cast<DWORD>(timeout_ms));
    return waited == WAIT_OBJECT_0 ? stop_signal.load() : 0;
}

bool console_stderr_is_terminal() {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (error == INVALID_HANDLE_VALUE || !GetConsoleMode(error, &mode)) {
        return false;
    }
    // The progress line redraws itself with escape sequences.
    constexpr DWORD VIRTUAL_TERMINAL = 0x0004; // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return SetConsoleMode(error, mode | VIRTUAL_TERMINAL) != 0;
}
