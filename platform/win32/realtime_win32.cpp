// Real-time services on Windows: the performance counter, a high-resolution
// waitable timer (or timeBeginPeriod(1) and a spin where that is refused),
// MMCSS "Pro Audio", the SSE control register, the physical cores from
// GetLogicalProcessorInformationEx, affinity masks, and what the registry
// and ntdll say of the machine.
#include "platform/platform_realtime.h"

#include "platform/common/step_note.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <avrt.h>
#include <mmsystem.h>

#include <cstdarg>
#include <cstdio>
#include <intrin.h>
#include <new>
#include <vector>
#include <xmmintrin.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002 // Windows 10 1803 and later
#endif

struct RtTimer {
    HANDLE timer;
    bool high_resolution;
};

namespace {
constexpr int64_t NS_PER_SECOND = 1000000000;
// With the 1 ms system timer, Sleep wakes up to about a millisecond late:
// the last stretch before the time asked for is spun on the counter.
constexpr int64_t SPIN_NS = 1500000;

thread_local HANDLE mmcss_task = nullptr;

uint32_t cores_from_windows(uint32_t* processors, uint32_t max) {
    DWORD length = 0;
    GetLogicalProcessorInformationEx(RelationProcessorCore, nullptr, &length);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0) {
        return 0;
    }
    std::vector<unsigned char> buffer(length);
    auto* first = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data());
    if (!GetLogicalProcessorInformationEx(RelationProcessorCore, first, &length)) {
        return 0;
    }
    uint32_t found = 0;
    for (DWORD offset = 0; offset < length && found < max;) {
        auto* info =
            reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data() + offset);
        KAFFINITY mask = info->Processor.GroupMask[0].Mask;
        // Processor group 0 only: the first logical processor of the core.
        if (info->Processor.GroupMask[0].Group == 0 && mask != 0) {
            uint32_t bit = 0;
            while ((mask & (KAFFINITY{1} << bit)) == 0) {
                ++bit;
            }
            processors[found++] = bit;
        }
        offset += info->Size;
    }
    return found;
}

void windows_version(MachineFacts* facts) {
    using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    using WineVersionFunction = const char*(CDECL*)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    auto get_version = reinterpret_cast<GetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (get_version != nullptr && get_version(&version) == 0) {
        std::snprintf(facts->kernel, sizeof facts->kernel, "Windows NT %lu.%lu build %lu",
                      version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);
    } else {
        std::snprintf(facts->kernel, sizeof facts->kernel, "Windows NT");
    }
    auto wine_version = reinterpret_cast<WineVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    if (wine_version != nullptr) {
        std::snprintf(facts->os, sizeof facts->os, "Windows %lu.%lu (Wine %.40s)",
                      version.dwMajorVersion, version.dwMinorVersion, wine_version());
    } else {
        std::snprintf(facts->os, sizeof facts->os, "Windows %lu.%lu", version.dwMajorVersion,
                      version.dwMinorVersion);
    }
}
} // namespace

int64_t rt_now_ns() {
    static const int64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return value.QuadPart > 0 ? value.QuadPart : int64_t{1};
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency * NS_PER_SECOND +
           now.QuadPart % frequency * NS_PER_SECOND / frequency;
}

RtTimer* rt_timer_open(RtStep* step) {
    auto* timer = new (std::nothrow) RtTimer{};
    if (timer == nullptr) {
        rt_note(step, 0, "no timer: out of memory");
        return nullptr;
    }
    timer->timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (timer->timer != nullptr) {
        timer->high_resolution = true;
        rt_note(step, 1, "high-resolution waitable timer");
        return timer;
    }
    DWORD error = GetLastError();
    timeBeginPeriod(1);
    rt_note(step, 0,
            "high-resolution waitable timer refused (error %lu): timeBeginPeriod(1), Sleep and the "
            "last %.1f ms spun on the performance counter; allow with: Windows 10 version 1803 or "
            "later",
            error, static_cast<double>(SPIN_NS) / 1e6);
    return timer;
}

void rt_sleep_until(RtTimer* timer, int64_t when_ns) {
    int64_t left = when_ns - rt_now_ns();
    if (timer != nullptr && timer->high_resolution && left > 0) {
        LARGE_INTEGER due{};
        due.QuadPart = -(left / 100); // relative, in 100 ns units
        if (SetWaitableTimer(timer->timer, &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(timer->timer, INFINITE);
        }
    } else if (left > SPIN_NS) {
        Sleep(static_cast<DWORD>((left - SPIN_NS) / 1000000));
    }
    while (rt_now_ns() < when_ns) {
        YieldProcessor();
    }
}

void rt_timer_close(RtTimer* timer) {
    if (timer == nullptr) {
        return;
    }
    if (timer->high_resolution) {
        CloseHandle(timer->timer);
    } else {
        timeEndPeriod(1);
    }
    delete timer;
}

void rt_lock_memory(RtStep* step) {
    rt_note(step, 0,
            "memory not locked: Windows has no lock of the whole process (VirtualLock takes single "
            "regions within the working-set quota); every buffer is written before timing");
}

void rt_raise_priority(RtStep* step) {
    DWORD task_index = 0;
    mmcss_task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &task_index);
    if (mmcss_task != nullptr) {
        rt_note(step, 1, "MMCSS \"Pro Audio\"");
        return;
    }
    DWORD error = GetLastError();
    bool raised = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
    rt_note(step, 0,
            "MMCSS \"Pro Audio\" refused (error %lu)%s; allow with: the Multimedia Class Scheduler "
            "service running",
            error, raised ? ", time-critical thread priority instead" : "");
}

void rt_drop_priority() {
    if (mmcss_task != nullptr) {
        AvRevertMmThreadCharacteristics(mmcss_task);
        mmcss_task = nullptr;
    }
}

void rt_min_timer_slack(RtStep* step) {
    rt_note(step, 1, "no timer slack on Windows: nothing to set");
}

void rt_flush_denormals(RtStep* step) {
    _mm_setcsr(_mm_getcsr() | 0x8040); // flush to zero (bit 15), denormals are zero (bit 6)
    rt_note(step, 1, "denormals flushed to zero (FTZ and DAZ)");
}

int32_t rt_denormals_flushed() {
    return (_mm_getcsr() & 0x8040) == 0x8040 ? 1 : 0;
}

uint32_t rt_physical_cores(uint32_t* processors, uint32_t max, RtStep* step) {
    uint32_t found = cores_from_windows(processors, max);
    if (found > 0) {
        rt_note(step, 1, "%u physical cores (GetLogicalProcessorInformationEx)", found);
        return found;
    }
    processors[0] = 0;
    rt_note(step, 0,
            "physical cores unknown (GetLogicalProcessorInformationEx failed): one core, "
            "processor 0");
    return 1;
}

void rt_pin_thread(uint32_t processor, RtStep* step) {
    if (processor < sizeof(DWORD_PTR) * 8 &&
        SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR{1} << processor) != 0) {
        rt_note(step, 1, "pinned to processor %u", processor);
    } else {
        rt_note(step, 0,
                "not pinned to processor %u: SetThreadAffinityMask failed (error %lu); allow with: "
                "a processor in this process's affinity mask",
                processor, GetLastError());
    }
}

// The thread's cycles are precise where its times are not (they move in
// scheduler ticks); cycles become nanoseconds at the rate the time-stamp
// counter keeps against the performance counter, measured once.
void rt_thread_counters(RtThreadCounters* counters) {
    static const double cycles_per_ns = [] {
        LARGE_INTEGER frequency{};
        LARGE_INTEGER start{};
        LARGE_INTEGER now{};
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        const uint64_t first = __rdtsc();
        do {
            QueryPerformanceCounter(&now);
        } while (now.QuadPart - start.QuadPart < frequency.QuadPart / 50);
        const double ns = static_cast<double>(now.QuadPart - start.QuadPart) * 1e9 /
                          static_cast<double>(frequency.QuadPart);
        return static_cast<double>(__rdtsc() - first) / ns;
    }();
    ULONG64 cycles = 0;
    counters->involuntary = -1;
    counters->cpu_ns = -1;
    // Wine answers 0: no processor time is counted there.
    if (QueryThreadCycleTime(GetCurrentThread(), &cycles) && cycles != 0 && cycles_per_ns > 0.0) {
        counters->cpu_ns = static_cast<int64_t>(static_cast<double>(cycles) / cycles_per_ns);
    }
}

int64_t rt_thread_id() {
    return -1;
}

void rt_stall_counters(uint32_t /*processor*/, int64_t /*thread_id*/, RtStallCounters* counters) {
    *counters = RtStallCounters{-1, -1, -1};
}

double rt_throttle_share() {
    return 1.0; // Windows keeps no real-time reservation of this kind
}

int64_t rt_thread_cpu_ns() {
    FILETIME created{};
    FILETIME ended{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) {
        return 0;
    }
    auto ticks = [](FILETIME time) {
        return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 100;
}

void rt_hold_idle_states(RtStep* step) {
    rt_note(step, 0,
            "deep idle states allowed: Windows has no such hold for a program; the power plan "
            "\"High performance\" keeps the processor out of them");
}

void rt_release_idle_states() {}

void rt_machine_facts(MachineFacts* facts) {
    *facts = MachineFacts{};
    DWORD size = sizeof facts->processor;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                     "ProcessorNameString", RRF_RT_REG_SZ, nullptr, facts->processor,
                     &size) != ERROR_SUCCESS) {
        std::snprintf(facts->processor, sizeof facts->processor, "unknown processor");
    }
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    facts->logical_cores = system.dwNumberOfProcessors;
    uint32_t processors[64];
    facts->physical_cores = cores_from_windows(processors, 64);
    windows_version(facts);
    DWORD host_size = sizeof facts->host;
    if (!GetComputerNameA(facts->host, &host_size)) {
        facts->host[0] = '\0';
    }
}
