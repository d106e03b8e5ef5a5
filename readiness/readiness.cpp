#include "readiness/readiness.h"

#include "platform/platform_realtime.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
// Below this share of a sibling's or the hypervisor's time, nothing to change.
constexpr double BUSY_SIBLING = 0.10;
constexpr double STEAL_SHARE = 0.001;
constexpr double SLOW_CORE = 0.90;

__attribute__((format(gnu_printf, 1, 2))) std::string text(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

void add(ReadinessReport* report, const char* name, ReadinessState state, std::string value,
         std::string advice) {
    report->items.push_back(
        ReadinessItem{name, state, std::move(value), std::move(advice), std::string()});
}

bool read(const Fact& fact) {
    return fact.state == FACT_READ;
}

std::string processor_list(const std::vector<uint32_t>& processors) {
    std::string list;
    for (uint32_t p : processors) {
        list += (list.empty() ? "" : ",") + std::to_string(p);
    }
    return list;
}

// The words of a command line or version string.
std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> found;
    size_t at = 0;
    while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
        size_t end = line.find(' ', at);
        found.push_back(line.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    return found;
}

bool has_word(const std::string& line, const char* word) {
    std::vector<std::string> all = words(line);
    return std::find(all.begin(), all.end(), word) != all.end();
}

// The value of `key=` on the command line; false when absent.
bool boot_option(const Fact& cmdline, const char* key, std::string* value) {
    std::string prefix = std::string(key) + "=";
    for (const std::string& word : words(cmdline.text)) {
        if (word.compare(0, prefix.size(), prefix) == 0) {
            *value = word.substr(prefix.size());
            return true;
        }
    }
    return false;
}

// isolcpus= and nohz_full= may start with flags ("domain,managed_irq,2-3").
std::vector<uint32_t> boot_cpus(const std::string& value) {
    size_t at = 0;
    while (at < value.size() && !(value[at] >= '0' && value[at] <= '9')) {
        size_t comma = value.find(',', at);
        at = comma == std::string::npos ? value.size() : comma + 1;
    }
    return parse_cpu_list(value.substr(at));
}

bool covers(const std::vector<uint32_t>& set, const std::vector<uint32_t>& processors) {
    for (uint32_t p : processors) {
        if (std::find(set.begin(), set.end(), p) == set.end()) {
            return false;
        }
    }
    return !processors.empty();
}

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

const CpuFacts* cpu_of(const ReadinessFacts* facts, uint32_t processor) {
    for (const CpuFacts& cpu : facts->cpus) {
        if (cpu.processor == processor) {
            return &cpu;
        }
    }
    return nullptr;
}

bool is_root(const ReadinessFacts* facts) {
    return read(facts->uid) && facts->uid.number == 0;
}

// A trial's item: what the run saw, else what the check's own trial found.
void granted_item(ReadinessReport* report, const char* name, int32_t in_run, const Fact& trial,
                  const char* what, const char* allow) {
    if (in_run >= 0) {
        add(report, name, in_run != 0 ? READY_OK : READY_WARN,
            in_run != 0 ? "granted in the run" : "refused in the run",
            in_run != 0 ? text("Fine: the run had %s.", what) : std::string(allow));
    } else if (read(trial)) {
        add(report, name, trial.number != 0 ? READY_OK : READY_WARN, trial.text,
            trial.number != 0 ? text("Fine: a run will have %s.", what) : std::string(allow));
    } else {
        add(report, name, READY_UNKNOWN, trial.text, allow);
    }
}

void limit_item(ReadinessReport* report, const ReadinessFacts* facts, const char* name,
                const Fact& limit, bool enough, std::string value, const char* allow) {
    if (!read(limit)) {
        add(report, name, READY_UNKNOWN, limit.text, allow);
    } else if (is_root(facts)) {
        add(report, name, READY_OK, value + " (root is not bound by it)",
            "Fine: this runs as root, which the limit does not bind.");
    } else {
        add(report, name, enough ? READY_OK : READY_WARN, value,
            enough ? "Fine: it allows what a run asks for." : allow);
    }
}

void limits(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run) {
    const Fact& rtprio = facts->rtprio_limit;
    limit_item(
        report, facts, "rtprio_limit", rtprio, rtprio.number < 0 || rtprio.number >= RT_PRIORITY,
        rtprio.number < 0 ? "unlimited" : text("%lld", static_cast<long long>(rtprio.number)),
        "Raise it to 95 for your user: a line \"@audio - rtprio 95\" in "
        "/etc/security/limits.d/audio.conf, membership of the audio group, then log in "
        "again.");
    const Fact& memlock = facts->memlock_limit;
    limit_item(report, facts, "memlock_limit", memlock, memlock.number < 0,
               memlock.number < 0
                   ? "unlimited"
                   : text("%lld KiB", static_cast<long long>((memlock.number / 1024))),
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

void governor_item(ReadinessReport* report, const ReadinessFacts* facts) {
    std::vector<std::pair<std::string, uint32_t>> counts;
    for (const CpuFacts& cpu : facts->cpus) {
        if (!read(cpu.governor)) {
            continue;
        }
        auto found = std::find_if(counts.begin(), counts.end(),
                                  [&](const auto& c) { return c.first == cpu.governor.text; });
        if (found == counts.end()) {
            counts.emplace_back(cpu.governor.text, 1);
        } else {
            ++found->second;
        }
    }
    if (counts.empty()) {
        std::string why = facts->cpus.empty() ? facts->cpu_list.text : facts->cpus[0].governor.text;
        if (!facts->cpus.empty() && facts->cpus[0].governor.state == FACT_MISSING) {
            why += " (no cpufreq: the frequency is not the kernel's to set, as in most virtual "
                   "machines)";
        }
        add(report, "governor", READY_UNKNOWN, why,
            "Where cpufreq exists, the performance governor keeps the cores at full speed "
            "(cpupower frequency-set -g performance).");
        return;
    }
    std::string value;
    for (const auto& count : counts) {
        value += text("%s%s on %u", value.empty() ? "" : ", ", count.first.c_str(), count.second);
    }
    value +=
        facts->cpus.size() == 1 ? " processor" : text(" of %zu processors", facts->cpus.size());
    bool performance = counts.size() == 1 && counts[0].first == "performance";
    add(report, "governor", performance ? READY_OK : READY_WARN, value,
        performance ? "Fine: the cores are kept at full speed."
                    : "Use the performance governor (cpupower frequency-set -g performance, or "
                      "write performance to each cpufreq/scaling_governor) so that a period's work "
                      "never waits for a core to speed up.");
}

void frequency_item(ReadinessReport* report, const ReadinessFacts* facts) {
    const CpuFacts* slowest = nullptr;
    double lowest = 2.0;
    for (const CpuFacts& cpu : facts->cpus) {
        if (read(cpu.current_khz) && read(cpu.maximum_khz) && cpu.maximum_khz.number > 0) {
            double share = static_cast<double>(cpu.current_khz.number) /
                           static_cast<double>(cpu.maximum_khz.number);
            if (share < lowest) {
                lowest = share;
                slowest = &cpu;
            }
        }
    }
    if (slowest == nullptr) {
        std::string why = facts->cpus.empty()                ? facts->cpu_list.text
                          : read(facts->cpus[0].current_khz) ? facts->cpus[0].maximum_khz.text
                                                             : facts->cpus[0].current_khz.text;
        add(report, "frequency", READY_UNKNOWN, why,
            "Where cpufreq exists, the performance governor holds the cores at their top speed.");
        return;
    }
    std::string value =
        text("slowest cpu%u at %.2f of %.2f GHz (%.0f %%)", slowest->processor,
             static_cast<double>(slowest->current_khz.number) / 1e6,
             static_cast<double>(slowest->maximum_khz.number) / 1e6, lowest * 100.0);
    add(report, "frequency", lowest >= SLOW_CORE ? READY_OK : READY_WARN, value,
        lowest >= SLOW_CORE
            ? "Fine: every core runs at 90 % or more of its top speed."
            : "Cores idling below their top speed take a while to speed up once audio starts: "
              "the performance governor (see governor) holds them at full speed.");
}

void smt_items(ReadinessReport* report, const ReadinessFacts* facts,
               const std::vector<uint32_t>& ours) {
    bool any_siblings = false;
    bool all_read = !facts->cpus.empty();
    for (const CpuFacts& cpu : facts->cpus) {
        all_read = all_read && read(cpu.siblings);
        any_siblings = any_siblings || parse_cpu_list(cpu.siblings.text).size() > 1;
    }
    const char* off_advice = "Fine: no other thread shares our cores.";
    const char* on_advice = "Two threads share each core, so work on a sibling slows ours: turn "
                            "SMT off (echo off > /sys/devices/system/cpu/smt/control, or in the "
                            "firmware) or keep the siblings idle (see smt_siblings).";
    if (read(facts->smt_active)) {
        bool on = facts->smt_active.number != 0;
        add(report, "smt", on ? READY_WARN : READY_OK, on ? "on" : "off",
            on ? on_advice : off_advice);
    } else if (any_siblings || all_read) {
        add(report, "smt", any_siblings ? READY_WARN : READY_OK,
            any_siblings ? "on (from the thread siblings lists)"
                         : "off (from the thread siblings lists)",
            any_siblings ? on_advice : off_advice);
    } else {
        add(report, "smt", READY_UNKNOWN,
            facts->smt_active.text + "; " +
                (facts->cpus.empty() ? facts->cpu_list.text : facts->cpus[0].siblings.text),
            "Where SMT is on, keep our cores' siblings idle or turn it off (echo off > "
            "/sys/devices/system/cpu/smt/control).");
    }

    // The siblings of our processors and how busy they were.
    std::string value;
    std::string unmeasured;
    double busiest = 0.0;
    bool siblings_known = !ours.empty();
    for (uint32_t p : ours) {
        const CpuFacts* cpu = cpu_of(facts, p);
        if (cpu == nullptr || !read(cpu->siblings)) {
            siblings_known = false;
            unmeasured = cpu == nullptr ? text("cpu%u not among the processors read", p)
                                        : cpu->siblings.text;
            continue;
        }
        for (uint32_t s : parse_cpu_list(cpu->siblings.text)) {
            if (std::find(ours.begin(), ours.end(), s) != ours.end()) {
                continue; // our own thread runs there
            }
            const CpuFacts* sibling = cpu_of(facts, s);
            uint64_t total = 0;
            if (sibling != nullptr && sibling->ticks_read) {
                total = sibling->ticks_last.total - sibling->ticks_first.total;
            }
            if (total == 0) {
                unmeasured =
                    text("cpu%u shares cpu%u's core; its load was not measured (%s)", s, p,
                         read(facts->proc_stat) ? "no interval" : facts->proc_stat.text.c_str());
                continue;
            }
            double busy =
                static_cast<double>(sibling->ticks_last.busy - sibling->ticks_first.busy) /
                static_cast<double>(total);
            busiest = std::max(busiest, busy);
            value += text("%scpu%u (sibling of cpu%u) %.0f %% busy", value.empty() ? "" : ", ", s,
                          p, busy * 100.0);
        }
    }
    const char* busy_advice = "Keep the siblings of the audio cores idle: move other work away "
                              "(taskset, a cpuset) or turn SMT off (see smt).";
    if (!siblings_known && value.empty()) {
        add(report, "smt_siblings", READY_UNKNOWN,
            ours.empty() ? std::string("no processors to look at") : unmeasured, busy_advice);
    } else if (!unmeasured.empty() && busiest < BUSY_SIBLING) {
        add(report, "smt_siblings", READY_UNKNOWN, unmeasured, busy_advice);
    } else if (value.empty()) {
        add(report, "smt_siblings", READY_OK,
            text("no sibling shares a core with cpu %s", processor_list(ours).c_str()),
            "Fine: nothing else runs on our cores' other threads.");
    } else {
        add(report, "smt_siblings", busiest >= BUSY_SIBLING ? READY_WARN : READY_OK, value,
            busiest >= BUSY_SIBLING ? busy_advice : "Fine: our cores' siblings were nearly idle.");
    }
}

bool preempt_rt(const ReadinessFacts* facts) {
    return (read(facts->realtime) && facts->realtime.number == 1) ||
           (read(facts->kernel_version) && has_word(facts->kernel_version.text, "PREEMPT_RT"));
}

// "none voluntary (full) lazy": the word in parentheses.
std::string current_mode(const std::string& modes) {
    size_t open = modes.find('(');
    size_t close = modes.find(')', open);
    return open == std::string::npos || close == std::string::npos
               ? ""
               : modes.substr(open + 1, close - open - 1);
}

void preemption_item(ReadinessReport* report, const ReadinessFacts* facts) {
    const char* ok_full = "Fine: a waking real-time thread preempts the kernel at once.";
    const char* to_full = "Boot with preempt=full on the kernel command line so that a waking "
                          "audio thread preempts the kernel at once, or use a PREEMPT_RT kernel.";
    const std::string& version = facts->kernel_version.text;
    if (preempt_rt(facts)) {
        add(report, "preemption", READY_OK, "PREEMPT_RT (" + version + ")",
            "Fine: a fully preemptible real-time kernel.");
        return;
    }
    if (!read(facts->kernel_version)) {
        add(report, "preemption", READY_UNKNOWN, version, to_full);
        return;
    }
    if (has_word(version, "PREEMPT_DYNAMIC")) {
        std::string mode = read(facts->preempt_mode) ? current_mode(facts->preempt_mode.text) : "";
        std::string from = "debugfs";
        std::string option;
        if (!read(facts->preempt_mode) && boot_option(facts->cmdline, "preempt", &option)) {
            mode = option;
            from = "preempt= on the command line";
        }
        if (mode.empty()) {
            add(report, "preemption", READY_UNKNOWN,
                "PREEMPT_DYNAMIC, its mode not readable: " + facts->preempt_mode.text,
                "Boot with preempt=full to be sure of it (as root, "
                "/sys/kernel/debug/sched/preempt shows the mode).");
            return;
        }
        bool full = mode == "full" || mode == "lazy";
        add(report, "preemption", full ? READY_OK : READY_WARN,
            "PREEMPT_DYNAMIC, mode " + mode + " (from " + from + ")", full ? ok_full : to_full);
    } else if (has_word(version, "PREEMPT") || has_word(version, "PREEMPT_LAZY")) {
        add(report, "preemption", READY_OK, "PREEMPT (" + version + ")", ok_full);
    } else {
        add(report, "preemption", READY_WARN,
            "neither PREEMPT nor PREEMPT_DYNAMIC (" + version + "): voluntary or none",
            "Use a kernel built with PREEMPT_DYNAMIC booted with preempt=full, or a PREEMPT_RT "
            "kernel, so that a waking audio thread preempts the kernel at once.");
    }
}

void command_line_items(ReadinessReport* report, const ReadinessFacts* facts,
                        const std::vector<uint32_t>& ours) {
    const Fact& cmdline = facts->cmdline;
    const char* threaded_advice = "Boot with threadirqs so that interrupt handlers run as threads "
                                  "below our priority 80 instead of in the middle of our periods.";
    if (preempt_rt(facts)) {
        add(report, "threadirqs", READY_OK, "forced by PREEMPT_RT",
            "Fine: interrupt handlers run as threads.");
    } else if (!read(cmdline)) {
        add(report, "threadirqs", READY_UNKNOWN, cmdline.text, threaded_advice);
    } else if (has_word(cmdline.text, "threadirqs")) {
        add(report, "threadirqs", READY_OK, "on", "Fine: interrupt handlers run as threads.");
    } else {
        add(report, "threadirqs", READY_WARN, "not on the kernel command line", threaded_advice);
    }

    std::string list = processor_list(ours);
    std::string value;
    if (!read(cmdline)) {
        add(report, "nohz_full", READY_UNKNOWN, cmdline.text,
            "nohz_full= with isolcpus= stops the scheduler tick on cores kept for audio.");
    } else if (!boot_option(cmdline, "nohz_full", &value)) {
        add(report, "nohz_full", READY_OK, "not set",
            "Fine for most systems: the tick costs microseconds, and nohz_full=<cores> with "
            "isolcpus= removes it from cores kept for audio.");
    } else {
        bool ours_covered = covers(boot_cpus(value), ours);
        add(report, "nohz_full", ours_covered ? READY_OK : READY_WARN,
            "nohz_full=" + value + (ours_covered ? "" : ", our processors " + list + " outside it"),
            ours_covered ? "Fine: no scheduler tick on our processors."
                         : "Run the audio threads on the nohz_full cores, or list ours there.");
    }

    const char* isolate_advice = "Keep cores for audio: boot with isolcpus=<cores> (or give "
                                 "them a cpuset of their own) and run the audio threads there.";
    if (!read(cmdline)) {
        add(report, "isolcpus", READY_UNKNOWN, cmdline.text, isolate_advice);
    } else if (!boot_option(cmdline, "isolcpus", &value)) {
        add(report, "isolcpus", READY_WARN, "not set: any thread may run on our processors",
            isolate_advice);
    } else {
        bool ours_covered = covers(boot_cpus(value), ours);
        add(report, "isolcpus", ours_covered ? READY_OK : READY_WARN,
            "isolcpus=" + value + (ours_covered ? "" : ", our processors " + list + " outside it"),
            ours_covered ? "Fine: other threads are kept off our processors."
                         : "Run the audio threads on the isolated cores, or isolate ours.");
    }
}

void throttling_items(ReadinessReport* report, const ReadinessFacts* facts,
                      const std::vector<uint32_t>& ours) {
    const Fact& runtime = facts->rt_runtime_us;
    const Fact& period = facts->rt_period_us;
    const char* off_advice = "Turn it off with sysctl kernel.sched_rt_runtime_us=-1 (in "
                             "/etc/sysctl.d to keep it), so that a fully loaded audio core is "
                             "never stopped.";
    if (!read(runtime)) {
        add(report, "rt_throttling", READY_UNKNOWN, runtime.text, off_advice);
    } else if (runtime.number < 0) {
        add(report, "rt_throttling", READY_OK, "off (sched_rt_runtime_us -1)",
            "Fine: real-time threads are never stopped.");
    } else if (read(period) && runtime.number >= period.number) {
        add(report, "rt_throttling", READY_OK,
            text("%lld us of every %lld us: never stopped", static_cast<long long>(runtime.number),
                 static_cast<long long>(period.number)),
            "Fine: the runtime covers the whole period.");
    } else {
        add(report, "rt_throttling", READY_WARN,
            read(period) ? text("real-time threads stopped after %lld us of every %lld us",
                                static_cast<long long>(runtime.number),
                                static_cast<long long>(period.number))
                         : text("real-time threads stopped after %lld us of each period (%s)",
                                static_cast<long long>(runtime.number), period.text.c_str()),
            off_advice);
    }

    const char* fair_advice = "As root, write 0 to /sys/kernel/debug/sched/fair_server/cpuN/"
                              "runtime for our cores (until the next boot) so that normal "
                              "threads cannot take a share of an audio core.";
    const Fact& server = facts->fair_server;
    if (server.state == FACT_MISSING) {
        add(report, "fair_server", READY_OK, server.text + " (it came with kernel 6.12)",
            "Fine: no share of a core is kept for normal threads.");
        return;
    }
    if (!read(server)) {
        add(report, "fair_server", READY_UNKNOWN, server.text,
            "Run the check as root with debugfs mounted to read it: from kernel 6.12 on it "
            "keeps 50 ms a second of each core for normal threads.");
        return;
    }
    std::string value;
    std::string why;
    for (uint32_t p : ours) {
        const CpuFacts* cpu = cpu_of(facts, p);
        if (cpu == nullptr || !read(cpu->fair_runtime_ns) || !read(cpu->fair_period_ns)) {
            why = cpu == nullptr ? text("cpu%u not among the processors read", p)
                                 : cpu->fair_runtime_ns.text + ", " + cpu->fair_period_ns.text;
        } else if (cpu->fair_runtime_ns.number > 0) {
            value += text("%scpu%u %.0f ms of every %.0f ms", value.empty() ? "" : ", ", p,
                          static_cast<double>(cpu->fair_runtime_ns.number) / 1e6,
                          static_cast<double>(cpu->fair_period_ns.number) / 1e6);
        }
    }
    if (!value.empty()) {
        add(report, "fair_server", READY_WARN, "kept for normal threads: " + value, fair_advice);
    } else if (!why.empty() || ours.empty()) {
        add(report, "fair_server", READY_UNKNOWN, ours.empty() ? "no processors to look at" : why,
            fair_advice);
    } else {
        add(report, "fair_server", READY_OK, "off on our processors (runtime 0)",
            "Fine: no share of our cores is kept for normal threads.");
    }
}

void memory_items(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run) {
    const Fact& latency = facts->cpu_dma_latency;
    const char* allow = "Let the run hold the cores out of deep idle states: run as root, or "
                        "give the audio group write access to /dev/cpu_dma_latency with a udev "
                        "rule (KERNEL==\"cpu_dma_latency\", GROUP=\"audio\", MODE=\"0660\").";
    if (run->idle_hold >= 0) {
        add(report, "cpu_dma_latency", run->idle_hold != 0 ? READY_OK : READY_WARN,
            run->idle_hold != 0 ? "held at 0 us during the run" : "refused in the run",
            run->idle_hold != 0 ? "Fine: no core slept deeply during the run." : allow);
    } else if (read(latency)) {
        add(report, "cpu_dma_latency", latency.number != 0 ? READY_OK : READY_WARN, latency.text,
            latency.number != 0 ? "Fine: a run holds the cores out of deep idle states through it."
                                : allow);
    } else if (latency.state == FACT_MISSING) {
        add(report, "cpu_dma_latency", READY_WARN, latency.text,
            "Without it deep idle states cannot be held off from a program: boot with "
            "processor.max_cstate=1 (and intel_idle.max_cstate=1 on Intel) instead.");
    } else {
        add(report, "cpu_dma_latency", READY_UNKNOWN, latency.text, allow);
    }

    const Fact& swappiness = facts->swappiness;
    bool locked = run->mlockall >= 0 ? run->mlockall != 0
                                     : read(facts->mlockall) && facts->mlockall.number != 0;
    if (!read(swappiness)) {
        add(report, "swappiness", READY_UNKNOWN, swappiness.text,
            "Lock the run's memory (see mlockall) so that swapping cannot touch it.");
    } else if (locked || swappiness.number <= 10) {
        add(report, "swappiness", READY_OK,
            swappiness.text + (locked ? ", but memory is locked" : ""),
            locked ? "Fine: locked memory is never swapped out."
                   : "Fine: the kernel swaps only under real memory pressure.");
    } else {
        add(report, "swappiness", READY_WARN, swappiness.text,
            "Let the run lock its memory (see mlockall), or lower it with sysctl "
            "vm.swappiness=10 (in /etc/sysctl.d to keep it).");
    }
}

// "KVMKVMKVM" and the like, as people call them.
std::string hypervisor_name(const std::string& vendor) {
    static const char* const NAMES[][2] = {
        {"KVMKVMKVM", "KVM"},          {"Microsoft Hv", "Hyper-V"},    {"VMwareVMware", "VMware"},
        {"XenVMMXenVMM", "Xen"},       {"VBoxVBoxVBox", "VirtualBox"}, {"TCGTCGTCGTCG", "QEMU"},
        {" lrpepyh  vr", "Parallels"}, {"bhyve bhyve ", "bhyve"},      {"ACRNACRNACRN", "ACRN"},
        {" QNXQVMBSQG ", "QNX"},       {"Linux KVM Hv", "KVM"}};
    for (const auto& name : NAMES) {
        if (vendor == name[0]) {
            return name[1];
        }
    }
    return "a hypervisor";
}

void virtual_machine_item(ReadinessReport* report, const ReadinessFacts* facts) {
    const Fact& flag =
        read(facts->cpuinfo_hypervisor) ? facts->cpuinfo_hypervisor : facts->cpuid_hypervisor;
    if (!read(flag)) {
        add(report, "virtual_machine", READY_UNKNOWN,
            facts->cpuinfo_hypervisor.text + "; CPUID: " + facts->cpuid_hypervisor.text,
            "Measure on real hardware for figures that hold there.");
        return;
    }
    if (flag.number == 0) {
        add(report, "virtual_machine", READY_OK, "no hypervisor flag", "Fine: real hardware.");
        return;
    }
    // Named as the system calls it, else by CPUID's vendor, shown as given.
    std::string name = "a hypervisor";
    if (read(facts->hypervisor_type)) {
        name = facts->hypervisor_type.text + " (/sys/hypervisor/type)";
    } else if (read(facts->cpuid_vendor)) {
        name = hypervisor_name(facts->cpuid_vendor.text) + " (CPUID vendor \"" +
               facts->cpuid_vendor.text + "\")";
    }
    add(report, "virtual_machine", READY_WARN, name + ", hypervisor flag set",
        facts->system == READINESS_LINUX
            ? "Measure on real hardware for figures that hold there: the host takes the "
              "processor away whenever it likes (see steal)."
            : "Measure on real hardware for figures that hold there: the host takes the "
              "processor away whenever it likes.");
}

void steal_item(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run,
                size_t processors) {
    const char* advice = "The host runs other work on our processors: give this guest dedicated "
                         "cores (vCPU pinning, no overcommit) or measure on real hardware.";
    double share = -1.0;
    std::string value;
    if (run->steal_ns >= 0 && run->elapsed_ns > 0) {
        share = static_cast<double>(run->steal_ns) /
                (static_cast<double>(run->elapsed_ns) *
                 static_cast<double>(std::max<size_t>(processors, 1)));
        value = text("%.2f %% of our processors' time during the run", share * 100.0);
    } else if (read(facts->proc_stat) && facts->all_last.total > 0) {
        share =
            static_cast<double>(facts->all_last.steal) / static_cast<double>(facts->all_last.total);
        value = text("%.2f %% since boot", share * 100.0);
        uint64_t total = facts->all_last.total - facts->all_first.total;
        if (total > 0) {
            double lately = static_cast<double>(facts->all_last.steal - facts->all_first.steal) /
                            static_cast<double>(total);
            value += text(", %.2f %% during the check", lately * 100.0);
            share = std::max(share, lately);
        }
    } else {
        add(report, "steal", READY_UNKNOWN, facts->proc_stat.text,
            "Where /proc/stat can be read, the check shows how much time a hypervisor takes.");
        return;
    }
    add(report, "steal", share > STEAL_SHARE ? READY_WARN : READY_OK, value,
        share > STEAL_SHARE ? advice : "Fine: the hypervisor took (next to) no time from us.");
}

void clocksource_item(ReadinessReport* report, const ReadinessFacts* facts) {
    static const char* const FAST[] = {
        "tsc", "kvm-clock", "arch_sys_counter", "hyperv_clocksource_tsc_page",
        "xen", "timebase",  "riscv_clocksource"};
    static const char* const SLOW[] = {"hpet", "acpi_pm", "jiffies", "pit", "refined-jiffies"};
    const Fact& current = facts->clocksource;
    const char* advice = "Reading the time costs microseconds on this clock: boot with "
                         "clocksource=tsc if tsc is available (tsc=reliable if the kernel "
                         "marked it unstable).";
    if (!read(current)) {
        add(report, "clocksource", READY_UNKNOWN, current.text,
            "A cheap clock (tsc, kvm-clock) keeps reading the time cheap: "
            "/sys/devices/system/clocksource/clocksource0 says which is in use.");
        return;
    }
    std::string value = current.text;
    if (read(facts->clocksources)) {
        value += " (available: " + facts->clocksources.text + ")";
    }
    auto listed = [&](const auto& names) {
        return std::any_of(std::begin(names), std::end(names),
                           [&](const char* name) { return current.text == name; });
    };
    if (listed(FAST)) {
        add(report, "clocksource", READY_OK, value, "Fine: reading the time is cheap.");
    } else if (listed(SLOW)) {
        add(report, "clocksource", READY_WARN, value, advice);
    } else {
        add(report, "clocksource", READY_UNKNOWN, value + ": not one this check knows", advice);
    }
}

void competitors_item(ReadinessReport* report, const ReadinessFacts* facts,
                      const std::vector<uint32_t>& ours) {
    if (!read(facts->rt_scan)) {
        add(report, "rt_competitors", READY_UNKNOWN, facts->rt_scan.text,
            "Keep other threads at real-time priority 80 or above off the audio cores.");
        return;
    }
    std::vector<const RtThreadFact*> found;
    for (const RtThreadFact& thread : facts->rt_threads) {
        // A thread whose processors are unknown may be on ours.
        std::vector<uint32_t> cpus = parse_cpu_list(thread.cpus);
        bool shared = cpus.empty();
        for (uint32_t p : ours) {
            shared = shared || std::find(cpus.begin(), cpus.end(), p) != cpus.end();
        }
        if (shared) {
            found.push_back(&thread);
        }
    }
    // SCHED_DEADLINE outranks every priority; then the highest priority,
    // a user-space thread before a kernel thread.
    std::stable_sort(found.begin(), found.end(), [](const RtThreadFact* a, const RtThreadFact* b) {
        auto rank = [](const RtThreadFact* t) {
            return (t->policy == 6 ? 1000 : t->priority) * 2 + (t->kernel_thread ? 0 : 1);
        };
        return rank(a) > rank(b);
    });
    auto describe = [](const RtThreadFact* t) {
        return t->policy == 6
                   ? text("%s (pid %lld, SCHED_DEADLINE)", t->name.c_str(),
                          static_cast<long long>(t->pid))
                   : text("%s (pid %lld, %s %d)", t->name.c_str(), static_cast<long long>(t->pid),
                          t->policy == 2 ? "SCHED_RR" : "SCHED_FIFO", t->priority);
    };
    size_t kernel = static_cast<size_t>(std::count_if(
        found.begin(), found.end(), [](const RtThreadFact* t) { return t->kernel_thread; }));
    size_t user = found.size() - kernel;
    const RtThreadFact* first_kernel = nullptr;
    for (const RtThreadFact* t : found) {
        if (t->kernel_thread && first_kernel == nullptr) {
            first_kernel = t;
        }
    }
    std::string kernel_text =
        first_kernel == nullptr
            ? ""
            : text("%zu kernel thread%s, e.g. %s (kernel threads count: they run at that "
                   "priority, if only for moments)",
                   kernel, kernel == 1 ? "" : "s", describe(first_kernel).c_str());
    if (user > 0) {
        const RtThreadFact* first_user = *std::find_if(
            found.begin(), found.end(), [](const RtThreadFact* t) { return !t->kernel_thread; });
        std::string value = describe(first_user);
        value +=
            user > 1 ? text(" and %zu more user thread%s", user - 1, user == 2 ? "" : "s") : "";
        if (!kernel_text.empty()) {
            value += "; " + kernel_text;
        }
        add(report, "rt_competitors", READY_WARN, value,
            "Run that program below priority 80 or on other cores (chrt, taskset), or stop it "
            "while measuring.");
    } else if (kernel > 0) {
        add(report, "rt_competitors", READY_OK, "only " + kernel_text,
            "Fine: kernel threads such as migration/N run at top priority only for moments; if "
            "they do run, the misses say so as preemption by a thread.");
    } else {
        add(report, "rt_competitors", READY_OK,
            text("none at priority %d or above on our processors", RT_PRIORITY),
            "Fine: nothing outranks the audio threads.");
    }
}

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
    if (read(facts->cpu_dma_latency) && facts->cpu_dma_latency.number == 0) {
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

void windows_items(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run) {
    static const char* const FAST_PLANS[] = {
        "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c",  // High performance
        "e9a42b02-d5df-448d-aa00-03f14749eb61"}; // Ultimate Performance
    static const char* const SLOW_PLANS[] = {"381b4222-f694-41f0-9685-ff5bb260df2e",  // Balanced
                                             "a1841308-3541-4fab-bc81-f71556f20b4a"}; // Power saver
    const char* plan_advice = "Choose High performance (powercfg /setactive SCHEME_MIN, or Power "
                              "Options in the Control Panel) so that cores neither slow down nor "
                              "sleep deeply.";
    const Fact& plan = facts->power_plan;
    if (!read(plan)) {
        add(report, "power_plan", READY_UNKNOWN, plan.text, plan_advice);
    } else {
        std::string value =
            (read(facts->power_plan_name) ? facts->power_plan_name.text : "unnamed") + " {" +
            plan.text + "}";
        auto listed = [&](const auto& guids) {
            return std::any_of(std::begin(guids), std::end(guids),
                               [&](const char* guid) { return plan.text == guid; });
        };
        if (listed(FAST_PLANS)) {
            add(report, "power_plan", READY_OK, value,
                "Fine: the cores neither slow down nor sleep deeply.");
        } else if (listed(SLOW_PLANS)) {
            add(report, "power_plan", READY_WARN, value, plan_advice);
        } else {
            add(report, "power_plan", READY_UNKNOWN,
                value + ": a plan of its own, whose settings are not read", plan_advice);
        }
    }

    const Fact& responsiveness = facts->system_responsiveness;
    const char* responsiveness_advice =
        "Set SystemResponsiveness to 10 (a DWORD under HKLM\\SOFTWARE\\Microsoft\\Windows "
        "NT\\CurrentVersion\\Multimedia\\SystemProfile; 0 counts as 10), then restart.";
    if (!read(responsiveness)) {
        add(report, "mmcss_responsiveness", READY_UNKNOWN, responsiveness.text,
            responsiveness_advice);
    } else {
        // Windows rounds up to tens and reads 0 as 10.
        int64_t kept = responsiveness.number == 0 ? 10 : (responsiveness.number + 9) / 10 * 10;
        add(report, "mmcss_responsiveness", kept <= 10 ? READY_OK : READY_WARN,
            text("%lld (%lld %% of the processor kept for other work)",
                 static_cast<long long>(responsiveness.number), static_cast<long long>(kept)),
            kept <= 10 ? "Fine: MMCSS keeps the least it can for other work."
                       : responsiveness_advice);
    }

    const Fact& category = facts->pro_audio_category;
    const char* task_advice = "Set \"Scheduling Category\" to High under HKLM\\SOFTWARE\\Microsoft"
                              "\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile\\Tasks\\Pro "
                              "Audio (Windows installs it so).";
    if (!read(category)) {
        add(report, "mmcss_pro_audio", category.state == FACT_MISSING ? READY_WARN : READY_UNKNOWN,
            category.text, task_advice);
    } else {
        std::string value =
            "Scheduling Category " + category.text +
            (read(facts->pro_audio_priority) ? ", Priority " + facts->pro_audio_priority.text : "");
        bool high = category.text == "High";
        add(report, "mmcss_pro_audio", high ? READY_OK : READY_WARN, value,
            high ? "Fine: the task runs its threads in MMCSS's highest band." : task_advice);
    }

    granted_item(report, "mmcss_granted", run->sched_fifo, facts->mmcss_granted,
                 "MMCSS \"Pro Audio\"",
                 "Start the Multimedia Class Scheduler service (MMCSS) and keep its \"Pro "
                 "Audio\" task in the registry (see mmcss_pro_audio).");

    const Fact& current = facts->timer_current_100ns;
    const Fact& finest = facts->timer_finest_100ns;
    if (!read(current) || !read(finest)) {
        add(report, "timer_resolution", READY_UNKNOWN, read(current) ? finest.text : current.text,
            "Nothing to set: a run asks for a high-resolution timer (or 1 ms) itself.");
    } else {
        add(report, "timer_resolution", finest.number <= 10000 ? READY_OK : READY_WARN,
            text("current %.3f ms, finest %.3f ms", static_cast<double>(current.number) / 1e4,
                 static_cast<double>(finest.number) / 1e4),
            finest.number <= 10000
                ? "Fine: a run asks for a high-resolution timer (or 1 ms) itself."
                : "This system's timer is coarser than 1 ms: shorter periods cannot be timed on "
                  "it, so use larger buffers.");
    }
    virtual_machine_item(report, facts);
}
} // namespace

void readiness_read_facts(ReadinessFacts* facts) {
    readiness_process_facts(facts);
    readiness_system_facts("/", READINESS_INTERVAL_MS, facts);
}

void readiness_assess(const ReadinessFacts* facts, const ReadinessRun* run,
                      ReadinessReport* report) {
    *report = ReadinessReport{};
    ReadinessRun none;
    if (run == nullptr) {
        run = &none;
    }
    if (facts->system == READINESS_WINDOWS) {
        windows_items(report, facts, run);
    } else {
        linux_items(report, facts, run);
    }
}

const ReadinessItem* readiness_find(const ReadinessReport* report, const char* name) {
    for (const ReadinessItem& item : report->items) {
        if (item.name == name) {
            return &item;
        }
    }
    return nullptr;
}
