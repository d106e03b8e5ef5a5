// The readiness scan of real-time threads on Linux: every task under /proc
// whose policy and priority would compete with ours, with the processors
// it may run on.
#include "platform/platform_realtime.h"
#include "platform/posix/readiness_posix.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sched.h>

namespace {
constexpr uint64_t PF_KTHREAD = 0x00200000;

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
} // namespace

void scan_rt_threads(const Reader& reader, ReadinessFacts* facts) {
    facts->rt_threads.clear();
    DIR* proc = opendir(reader.path("proc").c_str());
    if (proc == nullptr) {
        facts->rt_scan = unknown_fact("/proc: " + std::string(std::strerror(errno)));
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
                                   : unknown_fact("no processes under /proc (not mounted?)");
}
