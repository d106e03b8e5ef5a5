// Linux's items on the kernel: its preemption, its boot options, real-time
// throttling, its clock and the real-time threads that compete with ours.
#include "readiness/readiness_linux.h"

#include "platform/platform_realtime.h"

#include <algorithm>
#include <iterator>

namespace {
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

bool preempt_rt(const ReadinessFacts* facts) {
    return (fact_read(facts->realtime) && facts->realtime.number == 1) ||
           (fact_read(facts->kernel_version) && has_word(facts->kernel_version.text, "PREEMPT_RT"));
}

// "none voluntary (full) lazy": the word in parentheses.
std::string current_mode(const std::string& modes) {
    size_t open = modes.find('(');
    size_t close = modes.find(')', open);
    return open == std::string::npos || close == std::string::npos
               ? ""
               : modes.substr(open + 1, close - open - 1);
}
} // namespace

void preemption_item(ReadinessReport* report, const ReadinessFacts* facts) {
    const char* ok_full = "Fine: a waking real-time thread preempts the kernel at once.";
    const char* to_full = "Boot with preempt=full on the kernel command line so that a waking "
                          "audio thread preempts the kernel at once, or use a PREEMPT_RT kernel.";
    const std::string& version = facts->kernel_version.text;
    if (preempt_rt(facts)) {
        add_item(report, "preemption", READY_OK, "PREEMPT_RT (" + version + ")",
                 "Fine: a fully preemptible real-time kernel.");
        return;
    }
    if (!fact_read(facts->kernel_version)) {
        add_item(report, "preemption", READY_UNKNOWN, version, to_full);
        return;
    }
    if (has_word(version, "PREEMPT_DYNAMIC")) {
        std::string mode =
            fact_read(facts->preempt_mode) ? current_mode(facts->preempt_mode.text) : "";
        std::string from = "debugfs";
        std::string option;
        if (!fact_read(facts->preempt_mode) && boot_option(facts->cmdline, "preempt", &option)) {
            mode = option;
            from = "preempt= on the command line";
        }
        if (mode.empty()) {
            add_item(report, "preemption", READY_UNKNOWN,
                     "PREEMPT_DYNAMIC, its mode not readable: " + facts->preempt_mode.text,
                     "Boot with preempt=full to be sure of it (as root, "
                     "/sys/kernel/debug/sched/preempt shows the mode).");
            return;
        }
        bool full = mode == "full" || mode == "lazy";
        add_item(report, "preemption", full ? READY_OK : READY_WARN,
                 "PREEMPT_DYNAMIC, mode " + mode + " (from " + from + ")",
                 full ? ok_full : to_full);
    } else if (has_word(version, "PREEMPT") || has_word(version, "PREEMPT_LAZY")) {
        add_item(report, "preemption", READY_OK, "PREEMPT (" + version + ")", ok_full);
    } else {
        add_item(
            report, "preemption", READY_WARN,
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
        add_item(report, "threadirqs", READY_OK, "forced by PREEMPT_RT",
                 "Fine: interrupt handlers run as threads.");
    } else if (!fact_read(cmdline)) {
        add_item(report, "threadirqs", READY_UNKNOWN, cmdline.text, threaded_advice);
    } else if (has_word(cmdline.text, "threadirqs")) {
        add_item(report, "threadirqs", READY_OK, "on", "Fine: interrupt handlers run as threads.");
    } else {
        add_item(report, "threadirqs", READY_WARN, "not on the kernel command line",
                 threaded_advice);
    }

    std::string list = processor_list(ours);
    std::string value;
    if (!fact_read(cmdline)) {
        add_item(report, "nohz_full", READY_UNKNOWN, cmdline.text,
                 "nohz_full= with isolcpus= stops the scheduler tick on cores kept for audio.");
    } else if (!boot_option(cmdline, "nohz_full", &value)) {
        add_item(report, "nohz_full", READY_OK, "not set",
                 "Fine for most systems: the tick costs microseconds, and nohz_full=<cores> with "
                 "isolcpus= removes it from cores kept for audio.");
    } else {
        bool ours_covered = covers(boot_cpus(value), ours);
        add_item(
            report, "nohz_full", ours_covered ? READY_OK : READY_WARN,
            "nohz_full=" + value + (ours_covered ? "" : ", our processors " + list + " outside it"),
            ours_covered ? "Fine: no scheduler tick on our processors."
                         : "Run the audio threads on the nohz_full cores, or list ours there.");
    }

    const char* isolate_advice = "Keep cores for audio: boot with isolcpus=<cores> (or give "
                                 "them a cpuset of their own) and run the audio threads there.";
    if (!fact_read(cmdline)) {
        add_item(report, "isolcpus", READY_UNKNOWN, cmdline.text, isolate_advice);
    } else if (!boot_option(cmdline, "isolcpus", &value)) {
        add_item(report, "isolcpus", READY_WARN, "not set: any thread may run on our processors",
                 isolate_advice);
    } else {
        bool ours_covered = covers(boot_cpus(value), ours);
        add_item(report, "isolcpus", ours_covered ? READY_OK : READY_WARN,
                 "isolcpus=" + value +
                     (ours_covered ? "" : ", our processors " + list + " outside it"),
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
    if (!fact_read(runtime)) {
        add_item(report, "rt_throttling", READY_UNKNOWN, runtime.text, off_advice);
    } else if (runtime.number < 0) {
        add_item(report, "rt_throttling", READY_OK, "off (sched_rt_runtime_us -1)",
                 "Fine: real-time threads are never stopped.");
    } else if (fact_read(period) && runtime.number >= period.number) {
        add_item(report, "rt_throttling", READY_OK,
                 item_text("%lld us of every %lld us: never stopped",
                           static_cast<long long>(runtime.number),
                           static_cast<long long>(period.number)),
                 "Fine: the runtime covers the whole period.");
    } else {
        add_item(report, "rt_throttling", READY_WARN,
                 fact_read(period)
                     ? item_text("real-time threads stopped after %lld us of every %lld us",
                                 static_cast<long long>(runtime.number),
                                 static_cast<long long>(period.number))
                     : item_text("real-time threads stopped after %lld us of each period (%s)",
                                 static_cast<long long>(runtime.number), period.text.c_str()),
                 off_advice);
    }

    const char* fair_advice = "As root, write 0 to /sys/kernel/debug/sched/fair_server/cpuN/"
                              "runtime for our cores (until the next boot) so that normal "
                              "threads cannot take a share of an audio core.";
    const Fact& server = facts->fair_server;
    if (server.state == FACT_MISSING) {
        add_item(report, "fair_server", READY_OK, server.text + " (it came with kernel 6.12)",
                 "Fine: no share of a core is kept for normal threads.");
        return;
    }
    if (!fact_read(server)) {
        add_item(report, "fair_server", READY_UNKNOWN, server.text,
                 "Run the check as root with debugfs mounted to read it: from kernel 6.12 on it "
                 "keeps 50 ms a second of each core for normal threads.");
        return;
    }
    std::string value;
    std::string why;
    for (uint32_t p : ours) {
        const CpuFacts* cpu = cpu_of(facts, p);
        if (cpu == nullptr || !fact_read(cpu->fair_runtime_ns) || !fact_read(cpu->fair_period_ns)) {
            why = cpu == nullptr ? item_text("cpu%u not among the processors read", p)
                                 : cpu->fair_runtime_ns.text + ", " + cpu->fair_period_ns.text;
        } else if (cpu->fair_runtime_ns.number > 0) {
            value += item_text("%scpu%u %.0f ms of every %.0f ms", value.empty() ? "" : ", ", p,
                               static_cast<double>(cpu->fair_runtime_ns.number) / 1e6,
                               static_cast<double>(cpu->fair_period_ns.number) / 1e6);
        }
    }
    if (!value.empty()) {
        add_item(report, "fair_server", READY_WARN, "kept for normal threads: " + value,
                 fair_advice);
    } else if (!why.empty() || ours.empty()) {
        add_item(report, "fair_server", READY_UNKNOWN,
                 ours.empty() ? "no processors to look at" : why, fair_advice);
    } else {
        add_item(report, "fair_server", READY_OK, "off on our processors (runtime 0)",
                 "Fine: no share of our cores is kept for normal threads.");
    }
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
    if (!fact_read(current)) {
        add_item(report, "clocksource", READY_UNKNOWN, current.text,
                 "A cheap clock (tsc, kvm-clock) keeps reading the time cheap: "
                 "/sys/devices/system/clocksource/clocksource0 says which is in use.");
        return;
    }
    std::string value = current.text;
    if (fact_read(facts->clocksources)) {
        value += " (available: " + facts->clocksources.text + ")";
    }
    auto listed = [&](const auto& names) {
        return std::any_of(std::begin(names), std::end(names),
                           [&](const char* name) { return current.text == name; });
    };
    if (listed(FAST)) {
        add_item(report, "clocksource", READY_OK, value, "Fine: reading the time is cheap.");
    } else if (listed(SLOW)) {
        add_item(report, "clocksource", READY_WARN, value, advice);
    } else {
        add_item(report, "clocksource", READY_UNKNOWN, value + ": not one this check knows",
                 advice);
    }
}

void competitors_item(ReadinessReport* report, const ReadinessFacts* facts,
                      const std::vector<uint32_t>& ours) {
    if (!fact_read(facts->rt_scan)) {
        add_item(report, "rt_competitors", READY_UNKNOWN, facts->rt_scan.text,
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
        return t->policy == 6 ? item_text("%s (pid %lld, SCHED_DEADLINE)", t->name.c_str(),
                                          static_cast<long long>(t->pid))
                              : item_text("%s (pid %lld, %s %d)", t->name.c_str(),
                                          static_cast<long long>(t->pid),
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
            : item_text("%zu kernel thread%s, e.g. %s (kernel threads count: they run at that "
                        "priority, if only for moments)",
                        kernel, kernel == 1 ? "" : "s", describe(first_kernel).c_str());
    if (user > 0) {
        const RtThreadFact* first_user = *std::find_if(
            found.begin(), found.end(), [](const RtThreadFact* t) { return !t->kernel_thread; });
        std::string value = describe(first_user);
        value += user > 1 ? item_text(" and %zu more user thread%s", user - 1, user == 2 ? "" : "s")
                          : "";
        if (!kernel_text.empty()) {
            value += "; " + kernel_text;
        }
        add_item(report, "rt_competitors", READY_WARN, value,
                 "Run that program below priority 80 or on other cores (chrt, taskset), or stop it "
                 "while measuring.");
    } else if (kernel > 0) {
        add_item(
            report, "rt_competitors", READY_OK, "only " + kernel_text,
            "Fine: kernel threads such as migration/N run at top priority only for moments; if "
            "they do run, the misses say so as preemption by a thread.");
    } else {
        add_item(report, "rt_competitors", READY_OK,
                 item_text("none at priority %d or above on our processors", RT_PRIORITY),
                 "Fine: nothing outranks the audio threads.");
    }
}
