// Operations the real-time mode needs from the operating system. One
// implementation per system: posix/realtime_posix.cpp (Linux, with hwloc)
// and win32/realtime_win32.cpp.
//
// Each set-up step fills an RtStep: whether it took effect and one line for
// the report, saying what was done or, when refused, why and what would
// allow it. A refused step never stops the run.
//
// Contract:
//   rt_now_ns              monotonic clock in nanoseconds (Linux
//                          CLOCK_MONOTONIC, Windows the performance counter).
//   rt_timer_open          per thread, before timing: what rt_sleep_until
//                          waits on. Windows: a high-resolution waitable
//                          timer, or where refused timeBeginPeriod(1) with
//                          the last fraction of a millisecond spun; the step
//                          says which.
//   rt_sleep_until         returns at or after `when_ns` on rt_now_ns's clock
//                          (Linux: clock_nanosleep TIMER_ABSTIME).
//   rt_lock_memory         the whole process: current and future pages.
//   rt_raise_priority      the calling thread: SCHED_FIFO at RT_PRIORITY on
//                          Linux, MMCSS "Pro Audio" on Windows;
//                          rt_drop_priority undoes it before the thread ends.
//   rt_min_timer_slack     the calling thread's timer slack at 1 ns (Linux).
//   rt_flush_denormals     the calling thread's FTZ and DAZ bits.
//   rt_denormals_flushed   whether both are still set on the calling thread
//                          (a plugin may clear them): 1, 0, or -1 unknown.
//   rt_physical_cores      one logical processor of each physical core (not
//                          hyper-thread siblings), at most `max`; their count.
//   rt_pin_thread          the calling thread to that logical processor.
//   rt_thread_cpu_ns       processor time the calling thread has used.
//   rt_thread_counters     the calling thread's processor time, exact to
//                          the moment (Linux: CLOCK_THREAD_CPUTIME_ID;
//                          getrusage's is brought up to date only at ticks
//                          and sleeps), and its involuntary context
//                          switches; -1 for what the system does not count.
//                          Two system calls, no file and no allocation:
//                          read every period on the real-time thread.
//   rt_thread_id           the calling thread's id for rt_stall_counters;
//                          -1 where there is none.
//   rt_stall_counters      what may have kept thread `thread_id` (-1: none)
//                          from running on `processor`: its run-queue delay
//                          and the core's steal, interrupt and softirq
//                          time; -1 for what cannot be read. Opens files:
//                          read by an observer thread, never by a thread
//                          that keeps periods.
//   rt_throttle_share      the share of time the kernel lets real-time
//                          threads run before it throttles them, 0 to 1; 1
//                          when nothing is reserved, -1 when unknown.
//   rt_hold_idle_states    the whole machine: out of deep idle states (whose
//                          wake-up takes up to hundreds of microseconds)
//                          until rt_release_idle_states. Linux: a latency
//                          request of 0 on /dev/cpu_dma_latency, held while
//                          its descriptor stays open.
//   (Threads come from platform_engine.h: platform_thread_start_with.)
//   rt_machine_facts       what the reports say of the machine.
#pragma once

#include <cstdint>

constexpr int32_t RT_PRIORITY = 80;
constexpr uint32_t RT_NOTE_SIZE = 240;

struct RtStep {
    int32_t done; // 1 when in effect
    char note[RT_NOTE_SIZE];
};

int64_t rt_now_ns();

struct RtTimer;
RtTimer* rt_timer_open(RtStep* step);
void rt_sleep_until(RtTimer* timer, int64_t when_ns);
void rt_timer_close(RtTimer* timer);

void rt_lock_memory(RtStep* step);
void rt_raise_priority(RtStep* step);
void rt_drop_priority();
void rt_min_timer_slack(RtStep* step);
void rt_flush_denormals(RtStep* step);
int32_t rt_denormals_flushed();
uint32_t rt_physical_cores(uint32_t* processors, uint32_t max, RtStep* step);
void rt_pin_thread(uint32_t processor, RtStep* step);
int64_t rt_thread_cpu_ns();
void rt_hold_idle_states(RtStep* step);
void rt_release_idle_states();

struct RtThreadCounters {
    int64_t cpu_ns;      // -1: not counted
    int64_t involuntary; // -1: not counted
};
void rt_thread_counters(RtThreadCounters* counters);

struct RtStallCounters {
    int64_t run_delay_ns; // time runnable but waiting for the core
    int64_t steal_ns;     // the hypervisor's, counted in clock ticks (10 ms as a rule)
    int64_t irq_ns;       // interrupts' and softirqs', likewise
};
constexpr uint32_t RT_PROCESSOR_ANY = UINT32_MAX; // not known: the whole machine's counters
int64_t rt_thread_id();
void rt_stall_counters(uint32_t processor, int64_t thread_id, RtStallCounters* counters);
double rt_throttle_share();

struct MachineFacts {
    char processor[128];
    uint32_t physical_cores;
    uint32_t logical_cores;
    char os[128];      // e.g. "Debian GNU/Linux 12 (bookworm)", "Windows 10.0 (Wine 8.0)"
    char kernel[128];  // e.g. "Linux 6.1.0-18-amd64"
    char governor[64]; // frequency governor, "" where not readable
    char host[64];     // the machine's name, "" where not known
};
void rt_machine_facts(MachineFacts* facts);
