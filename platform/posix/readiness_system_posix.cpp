// The readiness facts of the system on Linux: processors, ticks, the
// kernel's settings and the scheduler's debugfs, read from /proc, /sys and
// /dev under a root folder, so that tests can point it at a fixture tree.
#include "platform/posix/readiness_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
// Parses /proc/stat's "cpu" and "cpuN" lines; false when unreadable.
bool read_stat(const Reader& reader, std::vector<std::pair<int64_t, StatTicks>>* lines,
               Fact* fact) {
    std::string content;
    int error = read_all(reader.path("proc/stat"), &content);
    if (error != 0) {
        *fact = unknown_fact(std::string("/proc/stat: ") + std::strerror(error));
        return false;
    }
    lines->clear();
    size_t at = 0;
    while (at < content.size()) {
        size_t end = content.find('\n', at);
        std::string line = content.substr(at, end == std::string::npos ? end : end - at);
        at = end == std::string::npos ? content.size() : end + 1;
        if (line.compare(0, 3, "cpu") != 0) {
            continue;
        }
        int64_t processor = -1; // the "cpu" line: all processors
        const char* values = line.c_str() + 3;
        if (*values >= '0' && *values <= '9') {
            processor = std::strtoll(values, nullptr, 10);
        }
        values = std::strchr(values, ' ');
        uint64_t field[8] = {}; // user nice system idle iowait irq softirq steal
        for (uint64_t& value : field) {
            char* next = nullptr;
            value = values != nullptr ? std::strtoull(values, &next, 10) : 0;
            values = next;
        }
        StatTicks ticks{};
        ticks.busy = field[0] + field[1] + field[2] + field[5] + field[6];
        ticks.steal = field[7];
        ticks.total = ticks.busy + field[3] + field[4] + ticks.steal;
        lines->emplace_back(processor, ticks);
    }
    if (lines->empty()) {
        *fact = unknown_fact("/proc/stat has no cpu lines");
        return false;
    }
    fact->state = FACT_READ;
    fact->text = "read";
    return true;
}

void read_ticks(const Reader& reader, uint32_t interval_ms, ReadinessFacts* facts) {
    std::vector<std::pair<int64_t, StatTicks>> first;
    std::vector<std::pair<int64_t, StatTicks>> last;
    if (!read_stat(reader, &first, &facts->proc_stat)) {
        return;
    }
    if (interval_ms > 0) {
        timespec pause{static_cast<time_t>(interval_ms / 1000),
                       static_cast<long>(interval_ms % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
        if (!read_stat(reader, &last, &facts->proc_stat)) {
            return;
        }
    } else {
        last = first;
    }
    auto find = [](const std::vector<std::pair<int64_t, StatTicks>>& lines, int64_t processor,
                   StatTicks* ticks) {
        for (const auto& line : lines) {
            if (line.first == processor) {
                *ticks = line.second;
                return true;
            }
        }
        return false;
    };
    find(first, -1, &facts->all_first);
    find(last, -1, &facts->all_last);
    for (CpuFacts& cpu : facts->cpus) {
        cpu.ticks_read = find(first, cpu.processor, &cpu.ticks_first) &&
                         find(last, cpu.processor, &cpu.ticks_last);
    }
}

void read_cpu_list(const Reader& reader, ReadinessFacts* facts) {
    Fact online = reader.text("sys/devices/system/cpu/online");
    std::vector<uint32_t> processors = parse_cpu_list(online.text);
    if (online.state == FACT_READ && !processors.empty()) {
        facts->cpu_list = online;
    } else {
        std::vector<std::pair<int64_t, StatTicks>> lines;
        Fact stat;
        if (read_stat(reader, &lines, &stat)) {
            for (const auto& line : lines) {
                if (line.first >= 0) {
                    processors.push_back(static_cast<uint32_t>(line.first));
                }
            }
        }
        facts->cpu_list = processors.empty()
                              ? unknown_fact(online.text + ", and no cpuN lines in /proc/stat")
                              : Fact{FACT_READ, 0, "from /proc/stat (" + online.text + ")"};
    }
    facts->cpus.clear();
    for (uint32_t processor : processors) {
        CpuFacts cpu{};
        cpu.processor = processor;
        std::string folder = "sys/devices/system/cpu/cpu" + std::to_string(processor) + "/";
        cpu.governor = reader.text(folder + "cpufreq/scaling_governor");
        cpu.current_khz = reader.number(folder + "cpufreq/scaling_cur_freq");
        cpu.maximum_khz = reader.number(folder + "cpufreq/cpuinfo_max_freq");
        cpu.siblings = reader.text(folder + "topology/thread_siblings_list");
        facts->cpus.push_back(cpu);
    }
}

// debugfs is root's only and not always mounted.
void read_debugfs(const Reader& reader, ReadinessFacts* facts) {
    DIR* sched = opendir(reader.path("sys/kernel/debug/sched").c_str());
    int error = errno;
    if (sched == nullptr) {
        std::string why = error == EACCES || reader.uid != 0
                              ? "needs root and debugfs (/sys/kernel/debug/sched: " +
                                    std::string(std::strerror(error)) + ")"
                              : "debugfs is not mounted (mount -t debugfs none /sys/kernel/debug)";
        facts->preempt_mode = unknown_fact(why);
        facts->fair_server = unknown_fact(why);
    } else {
        closedir(sched);
        facts->preempt_mode = reader.text("sys/kernel/debug/sched/preempt");
        facts->fair_server = reader.text("sys/kernel/debug/sched/fair_server/cpu0/runtime");
        if (facts->fair_server.state == FACT_MISSING) {
            facts->fair_server.text = "no /sys/kernel/debug/sched/fair_server";
        }
    }
    for (CpuFacts& cpu : facts->cpus) {
        if (facts->fair_server.state != FACT_READ) {
            cpu.fair_runtime_ns = facts->fair_server;
            cpu.fair_period_ns = facts->fair_server;
            continue;
        }
        std::string folder =
            "sys/kernel/debug/sched/fair_server/cpu" + std::to_string(cpu.processor) + "/";
        cpu.fair_runtime_ns = reader.number(folder + "runtime");
        cpu.fair_period_ns = reader.number(folder + "period");
    }
}

void read_cpuinfo_flags(const Reader& reader, ReadinessFacts* facts) {
    std::string content;
    int error = read_all(reader.path("proc/cpuinfo"), &content);
    if (error != 0) {
        facts->cpuinfo_hypervisor =
            unknown_fact(std::string("/proc/cpuinfo: ") + std::strerror(error));
        return;
    }
    size_t flags = content.compare(0, 5, "flags") == 0 ? 0 : content.find("\nflags");
    if (flags == std::string::npos) {
        facts->cpuinfo_hypervisor =
            unknown_fact("no flags line in /proc/cpuinfo (not an x86 processor)");
        return;
    }
    flags += content[flags] == '\n' ? 1U : 0U;
    size_t end = content.find('\n', flags);
    std::string line =
        " " + content.substr(flags, end == std::string::npos ? end : end - flags) + " ";
    facts->cpuinfo_hypervisor.state = FACT_READ;
    facts->cpuinfo_hypervisor.number = line.find(" hypervisor ") != std::string::npos;
    facts->cpuinfo_hypervisor.text =
        facts->cpuinfo_hypervisor.number != 0 ? "flag set" : "flag not set";
}

void read_dma_latency(const Reader& reader, ReadinessFacts* facts) {
    std::string path = reader.path("dev/cpu_dma_latency");
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        facts->cpu_dma_latency.state = errno == ENOENT ? FACT_MISSING : FACT_UNKNOWN;
        facts->cpu_dma_latency.text = "/dev/cpu_dma_latency: " + std::string(std::strerror(errno));
        return;
    }
    bool writable = access(path.c_str(), W_OK) == 0;
    char text[96];
    std::snprintf(text, sizeof text, "present, %s (mode %03o, owner uid %u)",
                  writable ? "writable" : "not writable by this user",
                  static_cast<unsigned>(status.st_mode & 0777),
                  static_cast<unsigned>(status.st_uid));
    facts->cpu_dma_latency = Fact{FACT_READ, writable ? 1 : 0, text};
}
} // namespace

void readiness_system_facts(const char* root, uint32_t interval_ms, ReadinessFacts* facts) {
    Reader reader{root != nullptr ? root : "",
                  facts->uid.state == FACT_READ ? facts->uid.number : -1};
    while (!reader.root.empty() && reader.root.back() == '/') {
        reader.root.pop_back();
    }
    read_cpu_list(reader, facts);
    read_ticks(reader, interval_ms, facts);
    facts->kernel_version = reader.text("proc/sys/kernel/version");
    facts->realtime = reader.number("sys/kernel/realtime");
    facts->cmdline = reader.text("proc/cmdline");
    read_debugfs(reader, facts);
    facts->rt_runtime_us = reader.number("proc/sys/kernel/sched_rt_runtime_us");
    facts->rt_period_us = reader.number("proc/sys/kernel/sched_rt_period_us");
    facts->smt_active = reader.number("sys/devices/system/cpu/smt/active");
    read_dma_latency(reader, facts);
    facts->swappiness = reader.number("proc/sys/vm/swappiness");
    read_cpuinfo_flags(reader, facts);
    facts->hypervisor_type = reader.text("sys/hypervisor/type");
    facts->clocksource =
        reader.text("sys/devices/system/clocksource/clocksource0/current_clocksource");
    facts->clocksources =
        reader.text("sys/devices/system/clocksource/clocksource0/available_clocksource");
    scan_rt_threads(reader, facts);
}
