// The readiness facts on Linux: resource limits and trials from this
// process; everything else from /proc, /sys and /dev under a root folder,
// so that tests can point it at a fixture tree.
#include "platform/platform_readiness.h"

#include "platform/common/readiness_common.h"
#include "platform/platform_realtime.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {
constexpr size_t MAX_FILE = 1 << 20;
constexpr uint64_t PF_KTHREAD = 0x00200000;

std::string trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\n");
    size_t last = text.find_last_not_of(" \t\n");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The whole of a small file, or errno.
int read_all(const std::string& path, std::string* text) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        return errno;
    }
    text->clear();
    char buffer[4096];
    size_t got = 0;
    int error = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text->size() < MAX_FILE) {
        text->append(buffer, got);
    }
    if (std::ferror(file) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    std::fclose(file);
    return error;
}

struct Reader {
    std::string root; // "" for this system, else the folder without its last '/'
    int64_t uid;

    std::string path(const std::string& relative) const {
        return root + "/" + relative;
    }

    // A file's text, trimmed; missing, or unknown with why.
    Fact text(const std::string& relative) const {
        Fact fact;
        std::string content;
        int error = read_all(path(relative), &content);
        if (error == ENOENT || error == ENOTDIR) {
            fact.state = FACT_MISSING;
            fact.text = "no /" + relative;
        } else if (error != 0) {
            fact.text = "/" + relative + ": " + std::strerror(error);
        } else if (trim(content).empty()) {
            fact.text = "/" + relative + " is empty";
        } else {
            fact.state = FACT_READ;
            fact.text = trim(content);
        }
        return fact;
    }

    Fact number(const std::string& relative) const {
        Fact fact = text(relative);
        if (fact.state != FACT_READ) {
            return fact;
        }
        char* end = nullptr;
        errno = 0;
        long long value = std::strtoll(fact.text.c_str(), &end, 10);
        if (errno != 0 || end == fact.text.c_str() || *end != '\0') {
            fact.state = FACT_UNKNOWN;
            fact.text = "/" + relative + " is not a number: \"" + fact.text.substr(0, 40) + "\"";
        } else {
            fact.number = value;
        }
        return fact;
    }
};

Fact unknown(const std::string& why) {
    Fact fact;
    fact.text = why;
    return fact;
}

// Parses /proc/stat's "cpu" and "cpuN" lines; false when unreadable.
bool read_stat(const Reader& reader, std::vector<std::pair<int64_t, StatTicks>>* lines,
               Fact* fact) {
    std::string content;
    int error = read_all(reader.path("proc/stat"), &content);
    if (error != 0) {
        *fact = unknown(std::string("/proc/stat: ") + std::strerror(error));
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
        *fact = unknown("/proc/stat has no cpu lines");
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
                              ? unknown(online.text + ", and no cpuN lines in /proc/stat")
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
        facts->preempt_mode = unknown(why);
        facts->fair_server = unknown(why);
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
        facts->cpuinfo_hypervisor = unknown(std::string("/proc/cpuinfo: ") + std::strerror(error));
        return;
    }
    size_t flags = content.compare(0, 5, "flags") == 0 ? 0 : content.find("\nflags");
    if (flags == std::string::npos) {
        facts->cpuinfo_hypervisor =
            unknown("no flags line in /proc/cpuinfo (not an x86 processor)");
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

bool all_digits(const char* name) {
    return *name != '\0' && std::strspn(name, "0123456789") == std::strlen(name);
}

// One task's stat: the name between the parentheses, then fields 3 on; the
// flags are field 9, rt_priority 40 and policy 41.
bool parse_task_stat(const std::string& content, RtThreadFact* thread) {
    size_t open = content.find('(');
    size_t close = content.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    thread->name = content.substr(open + 1, close - open - 1);
    const char* at = content.c_str() + close + 1;
    uint64_t flags = 0;
    for (int field = 3; field <= 41; ++field) {
        while (*at == ' ') {
            ++at;
        }
        if (*at == '\0') {
            return false;
        }
        char* end = nullptr;
        uint64_t value = std::strtoull(at, &end, 10);
        if (field == 9) {
            flags = value;
        } else if (field == 40) {
            thread->priority = static_cast<int32_t>(value);
        } else if (field == 41) {
            thread->policy = static_cast<int32_t>(value);
        }
        at = std::strchr(at, ' ');
        if (at == nullptr) {
            at = "";
        }
    }
    thread->kernel_thread = (flags & PF_KTHREAD) != 0;
    return true;
}

std::string allowed_cpus(const Reader& reader, const std::string& task) {
    std::string content;
    if (read_all(reader.path(task + "/status"), &content) != 0) {
        return "";
    }
    size_t at = content.find("Cpus_allowed_list:");
    if (at == std::string::npos) {
        return "";
    }
    at += std::strlen("Cpus_allowed_list:");
    return trim(content.substr(at, content.find('\n', at) - at));
}

void scan_task_folder(const Reader& reader, int64_t pid, const std::string& tasks,
                      ReadinessFacts* facts) {
    DIR* folder = opendir(reader.path(tasks).c_str());
    if (folder == nullptr) {
        return; // the process ended while we looked
    }
    while (dirent* entry = readdir(folder)) {
        if (!all_digits(entry->d_name)) {
            continue;
        }
        std::string task = tasks + "/" + entry->d_name;
        std::string content;
        RtThreadFact thread{};
        if (read_all(reader.path(task + "/stat"), &content) != 0 ||
            !parse_task_stat(content, &thread)) {
            continue;
        }
        bool fixed = (thread.policy == SCHED_FIFO || thread.policy == SCHED_RR) &&
                     thread.priority >= RT_PRIORITY;
        if (fixed || thread.policy == 6) { // 6: SCHED_DEADLINE
            thread.pid = pid;
            thread.tid = std::strtoll(entry->d_name, nullptr, 10);
            thread.cpus = allowed_cpus(reader, task);
            facts->rt_threads.push_back(thread);
        }
    }
    closedir(folder);
}

void scan_rt_threads(const Reader& reader, ReadinessFacts* facts) {
    facts->rt_threads.clear();
    DIR* proc = opendir(reader.path("proc").c_str());
    if (proc == nullptr) {
        facts->rt_scan = unknown("/proc: " + std::string(std::strerror(errno)));
        return;
    }
    uint32_t processes = 0;
    while (dirent* entry = readdir(proc)) {
        if (!all_digits(entry->d_name)) {
            continue;
        }
        int64_t pid = std::strtoll(entry->d_name, nullptr, 10);
        ++processes;
        if (facts->pid.state != FACT_READ || pid != facts->pid.number) {
            scan_task_folder(reader, pid, "proc/" + std::string(entry->d_name) + "/task", facts);
        }
    }
    closedir(proc);
    facts->rt_scan = processes > 0 ? Fact{FACT_READ, processes, "scanned"}
                                   : unknown("no processes under /proc (not mounted?)");
}

void* try_sched_fifo(void* result) {
    sched_param parameter{};
    parameter.sched_priority = RT_PRIORITY;
    *static_cast<int*>(result) = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter);
    return nullptr;
}

void sched_fifo_trial(Fact* fact) {
    int error = 0;
    pthread_t thread{};
    int started = pthread_create(&thread, nullptr, try_sched_fifo, &error);
    if (started != 0) {
        *fact = unknown(std::string("no thread to try it on: ") + std::strerror(started));
        return;
    }
    pthread_join(thread, nullptr);
    fact->state = FACT_READ;
    fact->number = error == 0 ? 1 : 0;
    fact->text =
        error == 0
            ? "granted (tried on a short-lived thread)"
            : "refused (tried on a short-lived thread: " + std::string(std::strerror(error)) + ")";
}

// Locked memory now: "VmLck:" in /proc/self/status, in kB.
int64_t locked_kb() {
    std::string content;
    if (read_all("/proc/self/status", &content) != 0) {
        return -1;
    }
    size_t at = content.find("VmLck:");
    return at == std::string::npos ? -1 : std::strtoll(content.c_str() + at + 6, nullptr, 10);
}

void mlockall_trial(Fact* fact) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    *fact = unknown("not tried in a sanitizer build (it would lock the shadow memory)");
    return;
#endif
    if (locked_kb() > 0) {
        *fact = Fact{FACT_READ, 1, "granted (this process holds locked memory already)"};
        return;
    }
    if (mlockall(MCL_CURRENT) == 0) {
        munlockall();
        *fact = Fact{FACT_READ, 1, "granted (tried mlockall, then unlocked)"};
    } else {
        *fact = Fact{FACT_READ, 0,
                     "refused (tried mlockall: " + std::string(std::strerror(errno)) + ")"};
    }
}

Fact limit(int resource) {
    rlimit value{};
    if (getrlimit(resource, &value) != 0) {
        return unknown(std::string("getrlimit: ") + std::strerror(errno));
    }
    if (value.rlim_cur == RLIM_INFINITY) {
        return Fact{FACT_READ, -1, "unlimited"};
    }
    return Fact{FACT_READ, static_cast<int64_t>(value.rlim_cur),
                std::to_string(static_cast<unsigned long long>(value.rlim_cur))};
}
} // namespace

void readiness_process_facts(ReadinessFacts* facts) {
    facts->system = READINESS_LINUX;
    facts->uid = Fact{FACT_READ, static_cast<int64_t>(getuid()), std::to_string(getuid())};
    facts->pid = Fact{FACT_READ, static_cast<int64_t>(getpid()), std::to_string(getpid())};
    facts->rtprio_limit = limit(RLIMIT_RTPRIO);
    facts->memlock_limit = limit(RLIMIT_MEMLOCK);
    sched_fifo_trial(&facts->sched_fifo);
    mlockall_trial(&facts->mlockall);
    read_cpuid_hypervisor(&facts->cpuid_hypervisor, &facts->cpuid_vendor);
}

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
