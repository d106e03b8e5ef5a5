// Real-time services on Linux: CLOCK_MONOTONIC and clock_nanosleep with
// TIMER_ABSTIME, mlockall, SCHED_FIFO, the timer slack, the SSE control
// register, hwloc's view of the cores, and what /proc, /sys and uname say of
// the machine.
#include "platform/platform_realtime.h"

#include "platform/common/step_note.h"
#include "platform/posix/posix_clock.h"

#include <hwloc.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

struct RtTimer {
    int unused;
};

namespace {
// The latency request lasts while this stays open.
int idle_hold_descriptor = -1;

// First line of a file, without its newline; false when unreadable.
bool read_line(const char* path, char* text, size_t size) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return false;
    }
    bool read = std::fgets(text, static_cast<int>(size), file) != nullptr;
    std::fclose(file);
    if (read) {
        text[std::strcspn(text, "\n")] = '\0';
    }
    return read;
}

// Value of the first line of `path` that starts with `key`, after the
// separator and any quotes.
bool read_field(const char* path, const char* key, char separator, char* text, size_t size) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return false;
    }
    char line[512];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, key, std::strlen(key)) != 0) {
            continue;
        }
        const char* value = std::strchr(line, separator);
        if (value == nullptr) {
            continue;
        }
        value += 1;
        while (*value == ' ' || *value == '\t' || *value == '"') {
            ++value;
        }
        std::snprintf(text, size, "%s", value);
        text[std::strcspn(text, "\"\n")] = '\0';
        found = true;
    }
    std::fclose(file);
    return found;
}

uint32_t hwloc_cores(uint32_t* processors, uint32_t max) {
    hwloc_topology_t topology = nullptr;
    if (hwloc_topology_init(&topology) != 0) {
        return 0;
    }
    uint32_t found = 0;
    if (hwloc_topology_load(topology) == 0) {
        int cores = hwloc_get_nbobjs_by_type(topology, HWLOC_OBJ_CORE);
        for (int c = 0; c < cores && found < max; ++c) {
            hwloc_obj_t core =
                hwloc_get_obj_by_type(topology, HWLOC_OBJ_CORE, static_cast<unsigned>(c));
            hwloc_obj_t unit =
                hwloc_get_obj_inside_cpuset_by_type(topology, core->cpuset, HWLOC_OBJ_PU, 0);
            if (unit != nullptr) {
                processors[found++] = unit->os_index;
            }
        }
    }
    hwloc_topology_destroy(topology);
    return found;
}
} // namespace

int64_t rt_now_ns() {
    return monotonic_ns();
}

RtTimer* rt_timer_open(RtStep* step) {
    rt_note(step, 1, "clock_nanosleep to an absolute time on CLOCK_MONOTONIC");
    static RtTimer timer{};
    return &timer;
}

void rt_sleep_until(RtTimer* /*timer*/, int64_t when_ns) {
    timespec when{};
    when.tv_sec = static_cast<time_t>(when_ns / NS_PER_SECOND);
    when.tv_nsec = static_cast<long>(when_ns % NS_PER_SECOND);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
    }
}

void rt_timer_close(RtTimer* /*timer*/) {}

void rt_lock_memory(RtStep* step) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Locking would pin the sanitizer's terabytes of shadow mappings.
    rt_note(step, 0, "memory not locked: a sanitizer build; allow with: an ordinary build");
    return;
#endif
    if (mlockall(MCL_CURRENT | MCL_FUTURE) == 0) {
        rt_note(step, 1, "memory locked (mlockall, current and future pages)");
        return;
    }
    int error = errno;
    rlimit limit{};
    getrlimit(RLIMIT_MEMLOCK, &limit);
    rt_note(step, 0,
            "memory not locked: mlockall refused (%s, memlock limit %llu KiB); allow with: root, "
            "or a memlock limit of unlimited (ulimit -l unlimited, /etc/security/limits.d)",
            std::strerror(error), static_cast<unsigned long long>(limit.rlim_cur / 1024));
}

void rt_raise_priority(RtStep* step) {
    sched_param parameter{};
    parameter.sched_priority = RT_PRIORITY;
    int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter);
    if (error == 0) {
        rt_note(step, 1, "SCHED_FIFO priority %d", RT_PRIORITY);
        return;
    }
    rlimit limit{};
    getrlimit(RLIMIT_RTPRIO, &limit);
    rt_note(
        step, 0,
        "normal scheduling: SCHED_FIFO refused (%s, rtprio limit %llu); allow with: root, or an "
        "rtprio limit of at least %d (ulimit -r, /etc/security/limits.d, the audio group)",
        std::strerror(error), static_cast<unsigned long long>(limit.rlim_cur), RT_PRIORITY);
}

void rt_drop_priority() {
    sched_param parameter{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &parameter);
}

void rt_min_timer_slack(RtStep* step) {
    if (prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0) {
        rt_note(step, 1, "timer slack 1 ns");
    } else {
        rt_note(step, 0, "timer slack left at its default: PR_SET_TIMERSLACK refused (%s)",
                std::strerror(errno));
    }
}

void rt_flush_denormals(RtStep* step) {
#if defined(__x86_64__) || defined(__i386__)
    _mm_setcsr(_mm_getcsr() | 0x8040); // flush to zero (bit 15), denormals are zero (bit 6)
    rt_note(step, 1, "denormals flushed to zero (FTZ and DAZ)");
#else
    rt_note(step, 0, "denormals not flushed: no known control register on this processor");
#endif
}

int32_t rt_denormals_flushed() {
#if defined(__x86_64__) || defined(__i386__)
    return (_mm_getcsr() & 0x8040) == 0x8040 ? 1 : 0;
#else
    return -1;
#endif
}

uint32_t rt_physical_cores(uint32_t* processors, uint32_t max, RtStep* step) {
    uint32_t found = hwloc_cores(processors, max);
    if (found > 0) {
        rt_note(step, 1, "%u physical cores (hwloc)", found);
        return found;
    }
    processors[0] = 0;
    rt_note(step, 0, "physical cores unknown (hwloc found none): one core, processor 0");
    return 1;
}

void rt_pin_thread(uint32_t processor, RtStep* step) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(processor, &set);
    int error = pthread_setaffinity_np(pthread_self(), sizeof set, &set);
    if (error == 0) {
        rt_note(step, 1, "pinned to processor %u", processor);
    } else {
        rt_note(step, 0,
                "not pinned to processor %u: %s; allow with: a processor this process may use "
                "(taskset, the cgroup's cpuset)",
                processor, std::strerror(error));
    }
}

int64_t rt_thread_cpu_ns() {
    timespec used{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return timespec_ns(used);
}

void rt_thread_counters(RtThreadCounters* counters) {
    timespec used{};
    counters->cpu_ns = clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used) == 0 ? timespec_ns(used) : -1;
    rusage usage{};
    counters->involuntary = getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nivcsw : -1;
}

int64_t rt_thread_id() {
    return static_cast<int64_t>(gettid());
}

void rt_stall_counters(uint32_t processor, int64_t thread_id, RtStallCounters* counters) {
    *counters = RtStallCounters{-1, -1, -1};
    char text[256];
    long long run_ns = 0;
    long long delay_ns = 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%lld/schedstat",
                  static_cast<long long>(thread_id));
    if (thread_id >= 0 && read_line(path, text, sizeof text) &&
        std::sscanf(text, "%lld %lld", &run_ns, &delay_ns) == 2) {
        counters->run_delay_ns = delay_ns;
    }
    char key[32];
    if (processor == RT_PROCESSOR_ANY) {
        std::snprintf(key, sizeof key, "cpu ");
    } else {
        std::snprintf(key, sizeof key, "cpu%u ", processor);
    }
    if (!read_field("/proc/stat", key, ' ', text, sizeof text)) {
        return;
    }
    // user nice system idle iowait irq softirq steal
    long long fields[8] = {};
    if (std::sscanf(text, "%lld %lld %lld %lld %lld %lld %lld %lld", &fields[0], &fields[1],
                    &fields[2], &fields[3], &fields[4], &fields[5], &fields[6], &fields[7]) == 8) {
        const long tick = sysconf(_SC_CLK_TCK);
        const int64_t tick_ns = tick > 0 ? 1000000000 / tick : 10000000;
        counters->irq_ns = (fields[5] + fields[6]) * tick_ns;
        counters->steal_ns = fields[7] * tick_ns;
    }
}

double rt_throttle_share() {
    char runtime[64];
    char period[64];
    if (!read_line("/proc/sys/kernel/sched_rt_runtime_us", runtime, sizeof runtime) ||
        !read_line("/proc/sys/kernel/sched_rt_period_us", period, sizeof period)) {
        return -1.0;
    }
    double run = std::atof(runtime);
    double whole = std::atof(period);
    if (run < 0.0) {
        return 1.0; // -1: no throttling
    }
    return whole > 0.0 ? run / whole : -1.0;
}

void rt_hold_idle_states(RtStep* step) {
    if (idle_hold_descriptor >= 0) {
        rt_note(step, 1, "deep idle states held off (/dev/cpu_dma_latency at 0 us)");
        return;
    }
    int descriptor = open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC);
    int32_t latency_us = 0;
    if (descriptor >= 0 && write(descriptor, &latency_us, sizeof latency_us) ==
                               static_cast<ssize_t>(sizeof latency_us)) {
        idle_hold_descriptor = descriptor;
        rt_note(step, 1, "deep idle states held off (/dev/cpu_dma_latency at 0 us)");
        return;
    }
    int error = errno;
    if (descriptor >= 0) {
        close(descriptor);
    }
    rt_note(step, 0,
            "deep idle states allowed: /dev/cpu_dma_latency refused (%s); allow with: root, or "
            "write access to /dev/cpu_dma_latency (a udev rule giving it to the audio group)",
            std::strerror(error));
}

void rt_release_idle_states() {
    if (idle_hold_descriptor >= 0) {
        close(idle_hold_descriptor);
        idle_hold_descriptor = -1;
    }
}

void rt_machine_facts(MachineFacts* facts) {
    *facts = MachineFacts{};
    if (!read_field("/proc/cpuinfo", "model name", ':', facts->processor,
                    sizeof facts->processor)) {
        std::snprintf(facts->processor, sizeof facts->processor, "unknown processor");
    }
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    facts->logical_cores = online > 0 ? static_cast<uint32_t>(online) : 0;
    uint32_t processors[1024];
    facts->physical_cores = hwloc_cores(processors, 1024);
    if (!read_field("/etc/os-release", "PRETTY_NAME", '=', facts->os, sizeof facts->os)) {
        std::snprintf(facts->os, sizeof facts->os, "Linux");
    }
    utsname names{};
    if (uname(&names) == 0) {
        std::snprintf(facts->kernel, sizeof facts->kernel, "%.60s %.60s", names.sysname,
                      names.release);
    }
    read_line("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", facts->governor,
              sizeof facts->governor);
    if (gethostname(facts->host, sizeof facts->host - 1) != 0) {
        facts->host[0] = '\0';
    }
}
