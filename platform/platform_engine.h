// Operations the measurement engine needs from the operating system: a
// monotonic high-resolution counter, a processor yield, threads, the buffer
// allocator, child processes and the memory they share, and the process's
// memory. One implementation per operating system, in the folders beside
// this header: posix/engine_posix.cpp with posix/child_posix.cpp, and
// win32/engine_win32.cpp; the allocator and its seams in
// common/allocator.cpp. Nothing else in the project includes an OS header.
//
// Contract:
//   platform_counter_frequency  writes ticks per second and returns true, or
//                               writes 0 and returns false without a counter.
//   platform_counter_now        current tick count, never decreasing.
//   platform_yield              gives other ready threads the processor and
//                               returns at once when there is none.
//   platform_sleep_ms           gives up the processor for at least `ms`
//                               milliseconds, even to threads of lower priority.
//   platform_thread_start       runs entry(nullptr) on a new thread with
//                               default attributes; nullptr on failure.
//   platform_thread_start_with  the same, running entry(parameter).
//   platform_thread_wait        returns once that thread has ended.
//   platform_thread_close       releases the handle (after a wait).
//   platform_alloc/free         the standard allocator, behind a test seam.
//   platform_shared_alloc/free  zeroed memory that a child of
//                               platform_run_in_child writes and its parent
//                               reads.
//   platform_run_in_child       runs the task's entry(parameter) in a child
//                               process (fork on Linux), so that a crash there
//                               ends the child alone. The child's standard
//                               output and error go to `end->output` (its first
//                               CHILD_OUTPUT_BYTES), never to ours. While it
//                               runs, look(parameter) is called here every few
//                               milliseconds and stop_wait(ms) polled (either
//                               nullptr: none); a stop is passed on to the
//                               child, its signal left in *stop_signal, and a
//                               child not ended CHILD_STOP_GRACE_MS later is
//                               killed. So is a child whose stage (below) runs
//                               past its allowance. Where no process can be
//                               forked (Windows) entry runs here.
//   platform_child_stage        in a child of platform_run_in_child, names
//                               the stage it enters and how long it may
//                               take; elsewhere it does nothing.
//   platform_memory_available   bytes the system can give without swapping
//                               (MemAvailable on Linux); 0 unknown.
//   platform_memory_used        bytes of memory this process has taken for
//                               itself, as platform_limit_memory counts them
//                               (Linux: its private writable memory, thread
//                               stacks included); 0 unknown.
//   platform_limit_memory       caps what this process may allocate for
//                               itself at `bytes`; false where it cannot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using WorkerEntry = uint32_t (*)(void* parameter);
struct PlatformThread;

bool platform_counter_frequency(int64_t* frequency);
int64_t platform_counter_now();
void platform_yield();
void platform_sleep_ms(uint32_t ms);

PlatformThread* platform_thread_start(WorkerEntry entry);
PlatformThread* platform_thread_start_with(WorkerEntry entry, void* parameter);
void platform_thread_wait(PlatformThread* thread);
void platform_thread_close(PlatformThread* thread);

void* platform_alloc(size_t bytes);
void platform_free(void* block);

void* platform_shared_alloc(size_t bytes);
void platform_shared_free(void* block, size_t bytes);
// A child that ignores a stop is killed this long after it was passed on.
constexpr int64_t CHILD_STOP_GRACE_MS = 500;
constexpr uint32_t CHILD_OUTPUT_BYTES = 4096;
constexpr uint32_t CHILD_STAGE_BYTES = 48;

// How a child of platform_run_in_child ended.
struct ChildEnd {
    bool started;                  // false: no child could be made
    int32_t signal;                // the signal that ended it (our SIGKILL included), 0 none
    char signal_name[16];          // e.g. "SIGSEGV"
    int32_t exit_status;           // when it ended by itself
    bool timed_out;                // killed: its stage ran past the allowance
    bool stopped;                  // a stop was passed on to it
    char stage[CHILD_STAGE_BYTES]; // the stage it was in at the end, "" when none was named
    int64_t allowed_ms;            // that stage's allowance
    std::string output;            // what it wrote to its standard output and error
};

struct ChildTask {
    WorkerEntry entry;
    void* parameter;
    int (*stop_wait)(int64_t timeout_ms);
    void (*look)(void* parameter); // the parent's side: what the child shares as it runs
};

void platform_run_in_child(const ChildTask* task, ChildEnd* end, int* stop_signal);
void platform_child_stage(const char* stage, int64_t allowed_ms);

uint64_t platform_memory_available();
uint64_t platform_memory_used();
bool platform_limit_memory(uint64_t bytes);

// Test seam of the allocator. Arming it with n > 0 makes the n-th call of
// platform_alloc from now on return nullptr (once). The counters let a test
// check that every buffer obtained was given back.
struct AllocSeamStats {
    uint32_t calls;    // platform_alloc calls since the last arm
    uint32_t failures; // calls that returned nullptr since the last arm
    int32_t live;      // blocks obtained and not yet freed, ever
};

void alloc_seam_arm(uint32_t fail_at_call);
AllocSeamStats alloc_seam_stats();

// Test seam of thread creation: arming it with n makes the next n calls of
// platform_thread_start return nullptr. Every implementation of
// platform_thread_start asks thread_seam_take_failure() first.
void thread_seam_arm(uint32_t failures);
bool thread_seam_take_failure();
