// Linux's items on the processors: their governor and speed, the threads
// that share their cores, and the time a hypervisor takes from them.
#include "readiness/readiness_linux.h"

#include <algorithm>
#include <utility>

namespace {
// Below this share of a sibling's or the hypervisor's time, nothing to change.
constexpr double BUSY_SIBLING = 0.10;
constexpr double STEAL_SHARE = 0.001;
constexpr double SLOW_CORE = 0.90;
} // namespace

std::string processor_list(const std::vector<uint32_t>& processors) {
    std::string list;
    for (uint32_t p : processors) {
        list += (list.empty() ? "" : ",") + std::to_string(p);
    }
    return list;
}

const CpuFacts* cpu_of(const ReadinessFacts* facts, uint32_t processor) {
    for (const CpuFacts& cpu : facts->cpus) {
        if (cpu.processor == processor) {
            return &cpu;
        }
    }
    return nullptr;
}

void governor_item(ReadinessReport* report, const ReadinessFacts* facts) {
    std::vector<std::pair<std::string, uint32_t>> counts;
    for (const CpuFacts& cpu : facts->cpus) {
        if (!fact_read(cpu.governor)) {
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
        add_item(report, "governor", READY_UNKNOWN, why,
                 "Where cpufreq exists, the performance governor keeps the cores at full speed "
                 "(cpupower frequency-set -g performance).");
        return;
    }
    std::string value;
    for (const auto& count : counts) {
        value +=
            item_text("%s%s on %u", value.empty() ? "" : ", ", count.first.c_str(), count.second);
    }
    value += facts->cpus.size() == 1 ? " processor"
                                     : item_text(" of %zu processors", facts->cpus.size());
    bool performance = counts.size() == 1 && counts[0].first == "performance";
    add_item(report, "governor", performance ? READY_OK : READY_WARN, value,
             performance
                 ? "Fine: the cores are kept at full speed."
                 : "Use the performance governor (cpupower frequency-set -g performance, or "
                   "write performance to each cpufreq/scaling_governor) so that a period's work "
                   "never waits for a core to speed up.");
}

void frequency_item(ReadinessReport* report, const ReadinessFacts* facts) {
    const CpuFacts* slowest = nullptr;
    double lowest = 2.0;
    for (const CpuFacts& cpu : facts->cpus) {
        if (fact_read(cpu.current_khz) && fact_read(cpu.maximum_khz) &&
            cpu.maximum_khz.number > 0) {
            double share = static_cast<double>(cpu.current_khz.number) /
                           static_cast<double>(cpu.maximum_khz.number);
            if (share < lowest) {
                lowest = share;
                slowest = &cpu;
            }
        }
    }
    if (slowest == nullptr) {
        std::string why = facts->cpus.empty()                     ? facts->cpu_list.text
                          : fact_read(facts->cpus[0].current_khz) ? facts->cpus[0].maximum_khz.text
                                                                  : facts->cpus[0].current_khz.text;
        add_item(
            report, "frequency", READY_UNKNOWN, why,
            "Where cpufreq exists, the performance governor holds the cores at their top speed.");
        return;
    }
    std::string value =
        item_text("slowest cpu%u at %.2f of %.2f GHz (%.0f %%)", slowest->processor,
                  static_cast<double>(slowest->current_khz.number) / 1e6,
                  static_cast<double>(slowest->maximum_khz.number) / 1e6, lowest * 100.0);
    add_item(report, "frequency", lowest >= SLOW_CORE ? READY_OK : READY_WARN, value,
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
        all_read = all_read && fact_read(cpu.siblings);
        any_siblings = any_siblings || parse_cpu_list(cpu.siblings.text).size() > 1;
    }
    const char* off_advice = "Fine: no other thread shares our cores.";
    const char* on_advice = "Two threads share each core, so work on a sibling slows ours: turn "
                            "SMT off (echo off > /sys/devices/system/cpu/smt/control, or in the "
                            "firmware) or keep the siblings idle (see smt_siblings).";
    if (fact_read(facts->smt_active)) {
        bool on = facts->smt_active.number != 0;
        add_item(report, "smt", on ? READY_WARN : READY_OK, on ? "on" : "off",
                 on ? on_advice : off_advice);
    } else if (any_siblings || all_read) {
        add_item(report, "smt", any_siblings ? READY_WARN : READY_OK,
                 any_siblings ? "on (from the thread siblings lists)"
                              : "off (from the thread siblings lists)",
                 any_siblings ? on_advice : off_advice);
    } else {
        add_item(report, "smt", READY_UNKNOWN,
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
        if (cpu == nullptr || !fact_read(cpu->siblings)) {
            siblings_known = false;
            unmeasured = cpu == nullptr ? item_text("cpu%u not among the processors read", p)
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
                unmeasured = item_text(
                    "cpu%u shares cpu%u's core; its load was not measured (%s)", s, p,
                    fact_read(facts->proc_stat) ? "no interval" : facts->proc_stat.text.c_str());
                continue;
            }
            double busy =
                static_cast<double>(sibling->ticks_last.busy - sibling->ticks_first.busy) /
                static_cast<double>(total);
            busiest = std::max(busiest, busy);
            value += item_text("%scpu%u (sibling of cpu%u) %.0f %% busy", value.empty() ? "" : ", ",
                               s, p, busy * 100.0);
        }
    }
    const char* busy_advice = "Keep the siblings of the audio cores idle: move other work away "
                              "(taskset, a cpuset) or turn SMT off (see smt).";
    if (!siblings_known && value.empty()) {
        add_item(report, "smt_siblings", READY_UNKNOWN,
                 ours.empty() ? std::string("no processors to look at") : unmeasured, busy_advice);
    } else if (!unmeasured.empty() && busiest < BUSY_SIBLING) {
        add_item(report, "smt_siblings", READY_UNKNOWN, unmeasured, busy_advice);
    } else if (value.empty()) {
        add_item(report, "smt_siblings", READY_OK,
                 item_text("no sibling shares a core with cpu %s", processor_list(ours).c_str()),
                 "Fine: nothing else runs on our cores' other threads.");
    } else {
        add_item(report, "smt_siblings", busiest >= BUSY_SIBLING ? READY_WARN : READY_OK, value,
                 busiest >= BUSY_SIBLING ? busy_advice
                                         : "Fine: our cores' siblings were nearly idle.");
    }
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
        value = item_text("%.2f %% of our processors' time during the run", share * 100.0);
    } else if (fact_read(facts->proc_stat) && facts->all_last.total > 0) {
        share =
            static_cast<double>(facts->all_last.steal) / static_cast<double>(facts->all_last.total);
        value = item_text("%.2f %% since boot", share * 100.0);
        uint64_t total = facts->all_last.total - facts->all_first.total;
        if (total > 0) {
            double lately = static_cast<double>(facts->all_last.steal - facts->all_first.steal) /
                            static_cast<double>(total);
            value += item_text(", %.2f %% during the check", lately * 100.0);
            share = std::max(share, lately);
        }
    } else {
        add_item(report, "steal", READY_UNKNOWN, facts->proc_stat.text,
                 "Where /proc/stat can be read, the check shows how much time a hypervisor takes.");
        return;
    }
    add_item(report, "steal", share > STEAL_SHARE ? READY_WARN : READY_OK, value,
             share > STEAL_SHARE ? advice : "Fine: the hypervisor took (next to) no time from us.");
}
