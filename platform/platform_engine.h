// Operations the measurement engine needs from the operating system: a
// monotonic high-resolution counter, a processor yield, threads and the
// buffer allocator. One implementation per operating system sits beside
// this header (platform_posix.cpp, platform_win32.cpp); nothing else in the
// project includes an OS header.
//
// Contract:
//   platform_counter_frequency  writes ticks per second and returns true, or
//                               writes 0 and returns false without a counter.
//   platform_counter_now        current tick count, never decreasing.
//   platform_yield              gives other ready threads the processor and
//                               returns at once when there is none.
//   platform_thread_start       runs entry(nullptr) on a new thread with
//                               default attributes; nullptr on failure.
//   platform_thread_start_with  the same, running entry(parameter).
//   platform_thread_wait        returns once that thread has ended.
//   platform_thread_close       releases the handle (after a wait).
//   platform_alloc/free         the standard allocator, behind a test seam.
//   platform_shared_alloc/free  zeroed memory that a child of platform_run_apart
//                               writes and its parent reads.
//   platform_run_apart          runs entry(parameter) in a child process (fork on
//                               Linux), so that a crash there ends the child
//                               alone; while it runs, stop_wait(ms) is polled
//                               and a stop is passed on to the child, its
//                               signal left in *stop_signal. Returns 0 when the
//                               child ended by itself, else the signal that
//                               ended it (-1: it could not start). Where no
//                               process can be forked (Windows) entry runs here.
#pragma once

#include <cstddef>
#include <cstdint>

using WorkerEntry = uint32_t (*)(void* parameter);
struct PlatformThread;

bool platform_counter_frequency(int64_t* frequency);
int64_t platform_counter_now();
void platform_yield();

PlatformThread* platform_thread_start(WorkerEntry entry);
PlatformThread* platform_thread_start_with(WorkerEntry entry, void* parameter);
void platform_thread_wait(PlatformThread* thread);
void platform_thread_close(PlatformThread* thread);

void* platform_alloc(size_t bytes);
void platform_free(void* block);

void* platform_shared_alloc(size_t bytes);
void platform_shared_free(void* block, size_t bytes);
int platform_run_apart(WorkerEntry entry, void* parameter, int (*stop_wait)(int64_t timeout_ms),
                       int* stop_signal);

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
