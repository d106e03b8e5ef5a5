// The readiness check: facts read from fixture trees of several kernels
// (tests/fixtures/readiness/), the items judged from them, Windows' items
// from a filled record, and the verdict's wording from scripted figures.
#include "report/readiness_report.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

namespace {
std::unique_ptr<ReadinessFacts> read_fixture(const std::string& fixture, int64_t uid,
                                             int64_t pid = 1) {
    auto facts = std::make_unique<ReadinessFacts>();
    facts->uid = Fact{FACT_READ, uid, std::to_string(uid)};
    facts->pid = Fact{FACT_READ, pid, std::to_string(pid)};
    facts->rtprio_limit = Fact{FACT_READ, 0, "0"};
    facts->memlock_limit = Fact{FACT_READ, 65536 * 1024, "67108864"};
    readiness_system_facts((std::string(ZEM_READINESS_FIXTURES "/") + fixture).c_str(), 0,
                           facts.get());
    return facts;
}

ReadinessReport assess(const ReadinessFacts* facts, const ReadinessRun& run) {
    ReadinessReport report;
    readiness_assess(facts, &run, &report);
    return report;
}

// Checks one item's state and that its value holds `part`.
void expect_item(const ReadinessReport& report, const char* name, ReadinessState state,
                 const std::string& part) {
    const ReadinessItem* item = readiness_find(&report, name);
    ASSERT_NE(item, nullptr) << name;
    EXPECT_EQ(readiness_state_name(item->state), std::string(readiness_state_name(state))) << name;
    EXPECT_NE(item->value.find(part), std::string::npos) << name << ": " << item->value;
}

struct Expected {
    const char* name;
    ReadinessState state;
    const char* part;
};
} // namespace

TEST(Readiness, ItemsFromEachKernelsFiles) {
    struct Case {
        const char* fixture;
        int64_t uid;
        std::vector<uint32_t> ours;
        std::vector<Expected> items;
    };
    const Case cases[] = {
        {"dynamic_6x",
         0,
         {0},
         {{"rtprio_limit", READY_OK, "root is not bound"},
          {"preemption", READY_WARN, "PREEMPT_DYNAMIC, mode voluntary (from debugfs)"},
          {"threadirqs", READY_OK, "on"},
          {"isolcpus", READY_WARN, "isolcpus=managed_irq,domain,1, our processors 0 outside it"},
          {"nohz_full", READY_WARN, "outside it"},
          {"rt_throttling", READY_WARN, "after 950000 us of every 1000000 us"},
          {"fair_server", READY_WARN, "cpu0 50 ms of every 1000 ms"},
          {"governor", READY_WARN, "powersave on 1, performance on 1 of 2 processors"},
          {"frequency", READY_WARN, "slowest cpu0 at 0.80 of 3.60 GHz (22 %)"},
          {"smt", READY_WARN, "on"},
          {"smt_siblings", READY_UNKNOWN, "cpu1 shares cpu0's core; its load was not measured"},
          {"virtual_machine", READY_OK, "no hypervisor flag"},
          {"steal", READY_OK, "0.00 % since boot"},
          {"clocksource", READY_OK, "tsc (available: tsc hpet acpi_pm)"},
          {"cpu_dma_latency", READY_OK, "present, writable"},
          {"rt_competitors", READY_WARN,
           "jackd (rt) (pid 900, SCHED_FIFO 85); 1 kernel thread, e.g. migration/0 (pid 18, "
           "SCHED_FIFO 99) (kernel threads count"}}},
        {"old_4x",
         1000,
         {0},
         {{"rtprio_limit", READY_WARN, "0"},
          {"memlock_limit", READY_WARN, "65536 KiB"},
          {"preemption", READY_WARN, "neither PREEMPT nor PREEMPT_DYNAMIC"},
          {"threadirqs", READY_WARN, "not on the kernel command line"},
          {"rt_throttling", READY_WARN, "of each period (no /proc/sys/kernel/sched_rt_period_us)"},
          {"fair_server", READY_UNKNOWN, "needs root and debugfs"},
          {"governor", READY_WARN, "ondemand on 1 processor"},
          {"frequency", READY_OK, "(100 %)"},
          {"smt", READY_OK, "off (from the thread siblings lists)"},
          {"smt_siblings", READY_OK, "no sibling shares a core with cpu 0"},
          {"virtual_machine", READY_WARN, "xen (/sys/hypervisor/type), hypervisor flag set"},
          {"steal", READY_WARN, "4.76 % since boot"},
          {"clocksource", READY_WARN, "hpet"},
          {"cpu_dma_latency", READY_WARN, "/dev/cpu_dma_latency: No such file"},
          {"swappiness", READY_OK, "10"},
          {"rt_competitors", READY_UNKNOWN, "no processes under /proc"}}},
        {"rt",
         0,
         {1},
         {{"preemption", READY_OK, "PREEMPT_RT"},
          {"threadirqs", READY_OK, "forced by PREEMPT_RT"},
          {"isolcpus", READY_OK, "isolcpus=1"},
          {"nohz_full", READY_OK, "nohz_full=1"},
          {"rt_throttling", READY_OK, "off"},
          {"fair_server", READY_OK, "no /sys/kernel/debug/sched/fair_server (it came with"},
          {"steal", READY_UNKNOWN, "/proc/stat: No such file"}}},
        {"container",
         1000,
         {},
         {{"preemption", READY_UNKNOWN, "its mode not readable: needs root and debugfs"},
          {"governor", READY_UNKNOWN, "no /sys/devices/system/cpu/cpu0/cpufreq/scaling_governor"},
          {"frequency", READY_UNKNOWN, "no /sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq"},
          {"smt", READY_UNKNOWN, "no /sys/devices/system/cpu/smt/active"},
          {"clocksource", READY_UNKNOWN, "no /sys/devices/system/clocksource"},
          {"virtual_machine", READY_UNKNOWN, "/proc/cpuinfo: No such file"},
          {"steal", READY_OK, "0.00 % since boot"}}},
        {"no_such_tree", 1000, {0}, {{"threadirqs", READY_UNKNOWN, "no /proc/cmdline"}}},
    };
    std::vector<std::string> names;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        auto facts = read_fixture(c.fixture, c.uid);
        ReadinessRun run;
        run.processors = c.ours;
        ReadinessReport report = assess(facts.get(), run);
        for (const Expected& e : c.items) {
            expect_item(report, e.name, e.state, e.part);
        }
        // The same items every time, each with a value and one sentence of advice.
        std::vector<std::string> these;
        for (const ReadinessItem& item : report.items) {
            these.push_back(item.name);
            EXPECT_FALSE(item.value.empty()) << item.name;
            EXPECT_EQ(item.advice.back(), '.') << item.name;
            EXPECT_EQ(item.advice.find(". "), std::string::npos) << item.name;
        }
        EXPECT_EQ(std::set<std::string>(these.begin(), these.end()).size(), these.size());
        EXPECT_TRUE(names.empty() || names == these);
        names = these;
        // Root would add something only where something was out of reach.
        EXPECT_EQ(report.root_note.empty(), c.uid == 0) << report.root_note;
    }
    EXPECT_EQ(names.size(), 20u);
}

TEST(Readiness, RunFactsOurProcessorsAndOwnProcessChangeTheItems) {
    auto facts = read_fixture("dynamic_6x", 0, 900); // jackd is our own process now
    facts->cpus[1].ticks_first = StatTicks{100, 0, 1000};
    facts->cpus[1].ticks_last = StatTicks{130, 0, 1100};
    ReadinessRun run;
    run.processors = {0};
    ReadinessReport report = assess(facts.get(), run);
    expect_item(report, "smt_siblings", READY_WARN, "cpu1 (sibling of cpu0) 30 % busy");
    expect_item(report, "rt_competitors", READY_OK, "only 1 kernel thread, e.g. migration/0");

    run = ReadinessRun{{1}, 0, 1, 1, 3000000, 1000000000};
    report = assess(facts.get(), run);
    expect_item(report, "sched_fifo", READY_WARN, "refused in the run");
    expect_item(report, "mlockall", READY_OK, "granted in the run");
    expect_item(report, "swappiness", READY_OK, "60, but memory is locked");
    expect_item(report, "cpu_dma_latency", READY_OK, "held at 0 us during the run");
    expect_item(report, "steal", READY_WARN, "0.30 % of our processors' time during the run");
    expect_item(report, "isolcpus", READY_OK, "isolcpus=managed_irq,domain,1");
    expect_item(report, "rt_competitors", READY_OK, "none at priority 80"); // migration/0 is on 0
}

TEST(Readiness, WindowsItemsFromAFilledRecord) {
    ReadinessFacts facts;
    facts.system = READINESS_WINDOWS;
    facts.power_plan = Fact{FACT_READ, 0, "381b4222-f694-41f0-9685-ff5bb260df2e"};
    facts.power_plan_name = Fact{FACT_READ, 0, "Balanced"};
    facts.system_responsiveness = Fact{FACT_READ, 0, "0"};
    facts.pro_audio_category = Fact{FACT_MISSING, 0, "no HKLM\\...\\Pro Audio"};
    facts.mmcss_granted = Fact{FACT_READ, 1, "granted (tried, then reverted)"};
    facts.timer_current_100ns = Fact{FACT_READ, 156250, "156250"};
    facts.timer_finest_100ns = Fact{FACT_READ, 5000, "5000"};
    facts.cpuid_hypervisor = Fact{FACT_READ, 1, "set"};
    facts.cpuid_vendor = Fact{FACT_READ, 0, "Microsoft Hv"};
    ReadinessReport report = assess(&facts, ReadinessRun{});
    expect_item(report, "power_plan", READY_WARN, "Balanced {381b4222-");
    expect_item(report, "mmcss_responsiveness", READY_OK, "0 (10 % of the processor kept");
    expect_item(report, "mmcss_pro_audio", READY_WARN, "no HKLM");
    expect_item(report, "mmcss_granted", READY_OK, "granted");
    expect_item(report, "timer_resolution", READY_OK, "current 15.625 ms, finest 0.500 ms");
    expect_item(report, "virtual_machine", READY_WARN, "Hyper-V (CPUID vendor \"Microsoft Hv\")");
    EXPECT_EQ(report.items.size(), 6u);
    EXPECT_TRUE(report.root_note.empty());

    // Under Wine: what it cannot give is unknown, saying so.
    facts.power_plan = Fact{FACT_UNKNOWN, 0, "not available under Wine (error 120)"};
    facts.system_responsiveness = Fact{FACT_READ, 25, "25"};
    report = assess(&facts, ReadinessRun{});
    expect_item(report, "power_plan", READY_UNKNOWN, "not available under Wine (error 120)");
    expect_item(report, "mmcss_responsiveness", READY_WARN, "25 (30 % of the processor kept");
}

TEST(Readiness, VerdictNamesTheLargestCauseAndTheItemBehindIt) {
    ReadinessReport readiness;
    readiness.items = {{"virtual_machine", READY_WARN, "KVM", "", ""},
                       {"threadirqs", READY_WARN, "not on", "", ""},
                       {"rt_throttling", READY_OK, "off", "", ""},
                       {"fair_server", READY_UNKNOWN, "needs root", "", ""}};
    BufferVerdictInput input{128, true, {{"ZEM-1", true, 5100}, {"ZEM-2", true, 4000}},
                             1.2, {},   10.0};
    input.misses.by_cause[CAUSE_WORK] = 500; // the streams' own: never a dropout's cause
    input.misses.by_cause[CAUSE_LATE_WAKEUP] = 3;
    input.misses.by_cause[CAUSE_PREEMPTED] = 9;
    input.misses.preempted_by[SOURCE_HYPERVISOR] = 7;
    input.misses.preempted_by[SOURCE_INTERRUPTS] = 2;
    EXPECT_EQ(buffer_verdict(&input, &readiness),
              "128 samples: ZEM-1 5,100 plays, ZEM-2 4,000 plays; the idle system: dropouts "
              "about 1 a minute, mostly from the hypervisor (this is a virtual machine: expect "
              "better on real "
              "hardware)");

    input.misses.preempted_by[SOURCE_INTERRUPTS] = 8;
    EXPECT_NE(buffer_verdict(&input, &readiness)
                  .find("mostly from interrupts (interrupt handlers are not threads"),
              std::string::npos);

    input = BufferVerdictInput{64, false, {}, 0.25, {}, 12.0};
    input.misses.by_cause[CAUSE_THROTTLED] = 3;
    EXPECT_EQ(buffer_verdict(&input, &readiness),
              "64 samples: nothing is held here, as the idle system alone missed more than 1 % "
              "of its periods; the idle system: dropouts about 1 every 4 minutes, mostly from "
              "real-time throttling (fair_server could not be read)");

    input = BufferVerdictInput{1024, true, {{"ZEM-1", true, 1234567}, {"ZEM-M", false, 0}},
                               0.0,  {},   12.0};
    input.misses.by_cause[CAUSE_WORK] = 40;
    EXPECT_EQ(buffer_verdict(&input, &readiness),
              "1024 samples: ZEM-1 1,234,567 plays, ZEM-M none plays; the idle system: no "
              "dropouts in 12 minutes");
}
