// The readiness facts of this process on Linux: its user and pid, its
// resource limits and what it is granted when it tries SCHED_FIFO and
// mlockall (the system's files: readiness_system_posix.cpp).
#include "platform/platform_readiness.h"

#include "platform/common/readiness_common.h"
#include "platform/platform_realtime.h"
#include "platform/posix/readiness_posix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
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
        *fact = unknown_fact(std::string("no thread to try it on: ") + std::strerror(started));
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
    *fact = unknown_fact("not tried in a sanitizer build (it would lock the shadow memory)");
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
        return unknown_fact(std::string("getrlimit: ") + std::strerror(errno));
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
