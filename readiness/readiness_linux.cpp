// Linux's items in the order the check gives them, the process's own limits
// and memory among them, and what running as root would add.
#include "readiness/readiness_linux.h"

#include "platform/platform_realtime.h"

namespace {
// The processors we judge: the run's, or every one the facts list.
std::vector<uint32_t> our_processors(const ReadinessFacts* facts, const ReadinessRun* run) {
    if (!run->processors.empty()) {
        return run->processors;
    }
    std::vector<uint32_t> all;
    for (const CpuFacts& cpu : facts->cpus) {
        all.push_back(cpu.processor);
    }
    return all;
}

bool is_root(const ReadinessFacts* facts) {
    return fact_read(facts->uid) && facts->uid.number == 0;
}

void limit_item(ReadinessReport* report, const ReadinessFacts* facts, const char* name,
                const Fact& limit, bool enough, std::string value, const char* allow) {
    if (!fact_read(limit)) {
        add_item(report, name, READY_UNKNOWN, limit.text, allow);
    } else if (is_root(facts)) {
        add_item(report, name, READY_OK, value + " (root is not bound by it)",
                 "Fine: this runs as root, which the limit does not bind.");
    } else {
        add_item(report, name, enough ? READY_OK : READY_WARN, value,
                 enough ? "Fine: it allows what a run asks for." : allow);
    }
}

void limits(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run) {
    const Fact& rtprio = facts->rtprio_limit;
    limit_item(
        report, facts, "rtprio_limit", rtprio, rtprio.number < 0 || rtprio.number >= RT_PRIORITY,
        rtprio.number < 0 ? "unlimited" : item_text("%lld", static_cast<long long>(rtprio.number)),
        "Raise it to 95 for your user: a line \"@audio - rtprio 95\" in "
        "/etc/security/limits.d/audio.conf, membership of the audio group, then log in "
        "again.");
    const Fact& memlock = facts->memlock_limit;
    limit_item(report, facts, "memlock_limit", memlock, memlock.number < 0,
               memlock.number < 0
                   ? "unlimited"
                   : item_text("%lld KiB", static_cast<long long>((memlock.number / 1024))),
               "Make it unlimited for your user: a line \"@audio - memlock unlimited\" in "
               "/etc/security/limits.d/audio.conf, membership of the audio group, then log in "
               "again.");
    granted_item(report, "sched_fifo", run->sched_fifo, facts->sched_fifo,
                 "SCHED_FIFO at priority 80",
                 "Allow real-time scheduling: run as root, or raise the rtprio limit to 80 or "
                 "more (see rtprio_limit), in a container or service that keeps CAP_SYS_NICE.");
    granted_item(report, "mlockall", run->mlockall, facts->mlockall, "its memory locked",
                 "Allow locking memory: run as root, or make the memlock limit unlimited (see "
                 "memlock_limit).");
}

void memory_items(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run) {
    const Fact& latency = facts->cpu_dma_latency;
    const char* allow = "Let the run hold the cores out of deep idle states: run as root, or "
                        "give the audio group write access to /dev/cpu_dma_latency with a udev "
                        "rule (KERNEL==\"cpu_dma_latency\", GROUP=\"audio\", MODE=\"0660\").";
    if (run->idle_hold >= 0) {
        add_item(report, "cpu_dma_latency", run->idle_hold != 0 ? READY_OK : READY_WARN,
                 run->idle_hold != 0 ? "held at 0 us during the run" : "refused in the run",
                 run->idle_hold != 0 ? "Fine: no core slept deeply during the run." : allow);
    } else if (fact_read(latency)) {
        add_item(
            report, "cpu_dma_latency", latency.number != 0 ? READY_OK : READY_WARN, latency.text,
            latency.number != 0 ? "Fine: a run holds the cores out of deep idle states through it."
                                : allow);
    } else if (latency.state == FACT_MISSING) {
        add_item(report, "cpu_dma_latency", READY_WARN, latency.text,
                 "Without it deep idle states cannot be held off from a program: boot with "
                 "processor.max_cstate=1 (and intel_idle.max_cstate=1 on Intel) instead.");
    } else {
        add_item(report, "cpu_dma_latency", READY_UNKNOWN, latency.text, allow);
    }

    const Fact& swappiness = facts->swappiness;
    bool locked = run->mlockall >= 0 ? run->mlockall != 0
                                     : fact_read(facts->mlockall) && facts->mlockall.number != 0;
    if (!fact_read(swappiness)) {
        add_item(report, "swappiness", READY_UNKNOWN, swappiness.text,
                 "Lock the run's memory (see mlockall) so that swapping cannot touch it.");
    } else if (locked || swappiness.number <= 10) {
        add_item(report, "swappiness", READY_OK,
                 swappiness.text + (locked ? ", but memory is locked" : ""),
                 locked ? "Fine: locked memory is never swapped out."
                        : "Fine: the kernel swaps only under real memory pressure.");
    } else {
        add_item(report, "swappiness", READY_WARN, swappiness.text,
                 "Let the run lock its memory (see mlockall), or lower it with sysctl "
                 "vm.swappiness=10 (in /etc/sysctl.d to keep it).");
    }
}
} // namespace

void linux_items(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run) {
    std::vector<uint32_t> ours = our_processors(facts, run);
    limits(report, facts, run);
    governor_item(report, facts);
    frequency_item(report, facts);
    smt_items(report, facts, ours);
    preemption_item(report, facts);
    command_line_items(report, facts, ours);
    throttling_items(report, facts, ours);
    memory_items(report, facts, run);
    virtual_machine_item(report, facts);
    steal_item(report, facts, run, ours.size());
    clocksource_item(report, facts);
    competitors_item(report, facts, ours);
    if (is_root(facts)) {
        return;
    }
    // What a root run would learn or be granted that this one was not.
    std::vector<std::string> gains;
    if (facts->preempt_mode.state == FACT_UNKNOWN || facts->fair_server.state == FACT_UNKNOWN) {
        gains.push_back("read the preemption mode and the fair server (debugfs)");
    }
    if (fact_read(facts->cpu_dma_latency) && facts->cpu_dma_latency.number == 0) {
        gains.push_back("hold the cores out of deep idle states (/dev/cpu_dma_latency)");
    }
    std::string refused;
    for (const char* name : {"sched_fifo", "mlockall"}) {
        const ReadinessItem* item = readiness_find(report, name);
        if (item != nullptr && item->state == READY_WARN) {
            refused += (refused.empty() ? "be granted " : " and ") + std::string(name);
        }
    }
    if (!refused.empty()) {
        gains.push_back(refused);
    }
    for (size_t g = 0; g < gains.size(); ++g) {
        report->root_note += (g == 0                  ? "As root this would also "
                              : g + 1 == gains.size() ? " and "
                                                      : ", ") +
                             gains[g];
    }
    report->root_note += gains.empty() ? "" : ".";
}
