// Windows' items, judged from the facts the platform layer gathered: plain
// records, so they build and are tested on every system.
#include "readiness/readiness_items.h"

#include <algorithm>
#include <iterator>

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
    if (!fact_read(plan)) {
        add_item(report, "power_plan", READY_UNKNOWN, plan.text, plan_advice);
    } else {
        std::string value =
            (fact_read(facts->power_plan_name) ? facts->power_plan_name.text : "unnamed") + " {" +
            plan.text + "}";
        auto listed = [&](const auto& guids) {
            return std::any_of(std::begin(guids), std::end(guids),
                               [&](const char* guid) { return plan.text == guid; });
        };
        if (listed(FAST_PLANS)) {
            add_item(report, "power_plan", READY_OK, value,
                     "Fine: the cores neither slow down nor sleep deeply.");
        } else if (listed(SLOW_PLANS)) {
            add_item(report, "power_plan", READY_WARN, value, plan_advice);
        } else {
            add_item(report, "power_plan", READY_UNKNOWN,
                     value + ": a plan of its own, whose settings are not read", plan_advice);
        }
    }

    const Fact& responsiveness = facts->system_responsiveness;
    const char* responsiveness_advice =
        "Set SystemResponsiveness to 10 (a DWORD under HKLM\\SOFTWARE\\Microsoft\\Windows "
        "NT\\CurrentVersion\\Multimedia\\SystemProfile; 0 counts as 10), then restart.";
    if (!fact_read(responsiveness)) {
        add_item(report, "mmcss_responsiveness", READY_UNKNOWN, responsiveness.text,
                 responsiveness_advice);
    } else {
        // Windows rounds up to tens and reads 0 as 10.
        int64_t kept = responsiveness.number == 0 ? 10 : (responsiveness.number + 9) / 10 * 10;
        add_item(report, "mmcss_responsiveness", kept <= 10 ? READY_OK : READY_WARN,
                 item_text("%lld (%lld %% of the processor kept for other work)",
                           static_cast<long long>(responsiveness.number),
                           static_cast<long long>(kept)),
                 kept <= 10 ? "Fine: MMCSS keeps the least it can for other work."
                            : responsiveness_advice);
    }

    const Fact& category = facts->pro_audio_category;
    const char* task_advice = "Set \"Scheduling Category\" to High under HKLM\\SOFTWARE\\Microsoft"
                              "\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile\\Tasks\\Pro "
                              "Audio (Windows installs it so).";
    if (!fact_read(category)) {
        add_item(report, "mmcss_pro_audio",
                 category.state == FACT_MISSING ? READY_WARN : READY_UNKNOWN, category.text,
                 task_advice);
    } else {
        std::string value =
            "Scheduling Category " + category.text +
            (fact_read(facts->pro_audio_priority) ? ", Priority " + facts->pro_audio_priority.text
                                                  : "");
        bool high = category.text == "High";
        add_item(report, "mmcss_pro_audio", high ? READY_OK : READY_WARN, value,
                 high ? "Fine: the task runs its threads in MMCSS's highest band." : task_advice);
    }

    granted_item(report, "mmcss_granted", run->sched_fifo, facts->mmcss_granted,
                 "MMCSS \"Pro Audio\"",
                 "Start the Multimedia Class Scheduler service (MMCSS) and keep its \"Pro "
                 "Audio\" task in the registry (see mmcss_pro_audio).");

    const Fact& current = facts->timer_current_100ns;
    const Fact& finest = facts->timer_finest_100ns;
    if (!fact_read(current) || !fact_read(finest)) {
        add_item(report, "timer_resolution", READY_UNKNOWN,
                 fact_read(current) ? finest.text : current.text,
                 "Nothing to set: a run asks for a high-resolution timer (or 1 ms) itself.");
    } else {
        add_item(
            report, "timer_resolution", finest.number <= 10000 ? READY_OK : READY_WARN,
            item_text("current %.3f ms, finest %.3f ms", static_cast<double>(current.number) / 1e4,
                      static_cast<double>(finest.number) / 1e4),
            finest.number <= 10000
                ? "Fine: a run asks for a high-resolution timer (or 1 ms) itself."
                : "This system's timer is coarser than 1 ms: shorter periods cannot be timed on "
                  "it, so use larger buffers.");
    }
    virtual_machine_item(report, facts);
}
