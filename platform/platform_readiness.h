// What the operating system says about its fitness for real-time audio: the
// raw facts, read and never judged (readiness/readiness.h judges).
// One implementation per system: posix/readiness_posix.cpp (Linux: the
// process; readiness_system_posix.cpp the files) and
// win32/readiness_win32.cpp.
//
// Every fact is either read or not; when not, its text says why in one line
// (an unreadable file, a value not understood, a call refused). Nothing is
// guessed and no failure stops the reading.
//
// Contract:
//   readiness_process_facts  what only this process can learn: its user and
//                            pid, its resource limits, whether SCHED_FIFO
//                            and mlockall are granted (tried on a
//                            short-lived thread, and locked then unlocked
//                            unless memory is locked already), the CPUID
//                            hypervisor bit and vendor. On Windows it reads
//                            every Windows fact (power plan, MMCSS, timer
//                            resolution, Wine).
//   readiness_system_facts   Linux: the files under `root` ("" or "/" for
//                            this system; tests pass a fixture tree holding
//                            proc/... and sys/...), /proc/stat read twice,
//                            `interval_ms` between them (0: read once).
//                            Uses the uid from the process facts to say why
//                            debugfs is unreadable. Does nothing on Windows.
//   parse_cpu_list           "0-3,8" as the kernel writes processor lists;
//                            anything else in the text ends the list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum FactState : uint32_t {
    FACT_UNKNOWN = 0, // not read: text says why
    FACT_READ = 1,    // text (and number, for numbers) holds the value
    FACT_MISSING = 2, // the file or key does not exist: text names it
};

struct Fact {
    FactState state = FACT_UNKNOWN;
    int64_t number = 0;
    std::string text = "not read";
};

// One /proc/stat line in clock ticks.
struct StatTicks {
    uint64_t busy;  // user, nice, system, irq, softirq
    uint64_t steal; // taken by the hypervisor
    uint64_t total; // all of the above, idle and iowait
};

struct CpuFacts {
    uint32_t processor;
    Fact governor;         // cpufreq/scaling_governor
    Fact current_khz;      // cpufreq/scaling_cur_freq
    Fact maximum_khz;      // cpufreq/cpuinfo_max_freq
    Fact siblings;         // topology/thread_siblings_list, itself included
    Fact fair_runtime_ns;  // debugfs sched/fair_server/cpuN/runtime
    Fact fair_period_ns;   // debugfs sched/fair_server/cpuN/period
    bool ticks_read;       // both /proc/stat readings had this processor
    StatTicks ticks_first; // first /proc/stat reading
    StatTicks ticks_last;  // second reading, or the first again
};

// A thread at a real-time priority of RT_PRIORITY or more, or under
// SCHED_DEADLINE (which outranks every priority).
struct RtThreadFact {
    int64_t pid;
    int64_t tid;
    std::string name;
    int32_t policy;     // 1 SCHED_FIFO, 2 SCHED_RR, 6 SCHED_DEADLINE
    int32_t priority;   // rt_priority, 0 under SCHED_DEADLINE
    bool kernel_thread; // PF_KTHREAD in the flags
    std::string cpus;   // Cpus_allowed_list, "" when unreadable
};

enum ReadinessSystem : uint32_t { READINESS_LINUX = 0, READINESS_WINDOWS = 1 };

struct ReadinessFacts {
    ReadinessSystem system = READINESS_LINUX;
    // From the process.
    Fact uid;
    Fact pid;
    Fact rtprio_limit;     // RLIMIT_RTPRIO soft limit, -1 unlimited
    Fact memlock_limit;    // RLIMIT_MEMLOCK soft limit in bytes, -1 unlimited
    Fact sched_fifo;       // 1 granted, 0 refused; text says how it was learnt
    Fact mlockall;         // 1 granted, 0 refused
    Fact cpuid_hypervisor; // 1 when CPUID leaf 1 sets the hypervisor bit
    Fact cpuid_vendor;     // leaf 0x40000000's vendor, e.g. "KVMKVMKVM"
    // From the files under the root (Linux).
    Fact kernel_version; // proc/sys/kernel/version, what uname -v says
    Fact realtime;       // sys/kernel/realtime, 1 on PREEMPT_RT
    Fact cmdline;        // proc/cmdline
    Fact preempt_mode;   // debugfs sched/preempt, e.g. "none voluntary (full) lazy"
    Fact fair_server;    // whether debugfs sched/fair_server could be read at all
    Fact rt_runtime_us;  // proc/sys/kernel/sched_rt_runtime_us, -1 unlimited
    Fact rt_period_us;   // proc/sys/kernel/sched_rt_period_us
    Fact smt_active;     // sys/devices/system/cpu/smt/active
    Fact cpu_list;       // sys/devices/system/cpu/online, else /proc/stat's
    std::vector<CpuFacts> cpus;
    Fact proc_stat;                       // whether proc/stat was read
    StatTicks all_first;                  // its "cpu" line, first reading
    StatTicks all_last;                   // and second
    Fact cpu_dma_latency;                 // dev/cpu_dma_latency: 1 writable, 0 not
    Fact swappiness;                      // proc/sys/vm/swappiness
    Fact cpuinfo_hypervisor;              // 1 when proc/cpuinfo's flags have "hypervisor"
    Fact hypervisor_type;                 // sys/hypervisor/type
    Fact clocksource;                     // current_clocksource
    Fact clocksources;                    // available_clocksource
    Fact rt_scan;                         // whether proc/[pid]/task/*/stat could be scanned
    std::vector<RtThreadFact> rt_threads; // other processes' only
    // Windows.
    Fact wine;            // wine_get_version
    Fact power_plan;      // the active scheme's GUID, lowercase
    Fact power_plan_name; // its friendly name
    Fact system_responsiveness;
    Fact pro_audio_category;  // Tasks\Pro Audio "Scheduling Category"
    Fact pro_audio_priority;  // Tasks\Pro Audio "Priority"
    Fact mmcss_granted;       // 1 when AvSetMmThreadCharacteristics("Pro Audio") was
    Fact timer_current_100ns; // NtQueryTimerResolution's current
    Fact timer_finest_100ns;  // and finest
};

void readiness_process_facts(ReadinessFacts* facts);
void readiness_system_facts(const char* root, uint32_t interval_ms, ReadinessFacts* facts);

std::vector<uint32_t> parse_cpu_list(const std::string& text);
