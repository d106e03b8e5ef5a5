// The verdict on one buffer size and core count: what fits, the system's
// dropouts there, and what flags each load.
#include "report/buffer_summary.h"

#include "platform/common/echoed.h"
#include "report/hold_words.h"
#include "report/miss_words.h"
#include "report/offline_words.h"
#include "report/readiness_report.h"
#include "report/realtime_words.h"

#include <cstdio>

std::string buffer_summary(const RtPlan* plan, const RtConfigResult* config,
                           const ReadinessReport* readiness) {
    if (!config->idle_done) {
        return std::to_string(config->frames) + " samples: stopped during the idle run";
    }
    BufferVerdictInput input{};
    input.frames = config->frames;
    input.threads = config->threads;
    input.idle_sustainable = config->sustainable;
    input.dropouts_per_minute = config->dropouts_per_minute;
    input.misses = config->dropouts;
    input.minutes = config->dropout_minutes;
    for (uint32_t l = 0; l < plan->loads.size(); ++l) {
        const RtTestResult* test = &config->tests[l];
        if (test->state == RT_NOT_RUN) {
            continue;
        }
        VerdictTest verdict{echoed(plan->loads[l].name),
                            test->state == RT_DONE || test->state == RT_PLAYS, test->plays};
        verdict.refused = test->state == RT_DOES_NOT_PLAY
                              ? thousands(test->plays) + " does not play"
                              : test_state_text(test->state);
        if (test->state == RT_NONE_PLAYS && test->search_end == END_HOLDS && test->failed_at > 1) {
            // Fewer than it tried may play: not known, never "none".
            verdict.refused = "no count it held played, the fewest " + thousands(test->failed_at) +
                              " (the search's holds ran out before it tried fewer)";
        }
        input.tests.push_back(verdict);
    }
    std::string text = buffer_verdict(&input, readiness);
    const std::string causes = miss_breakdown(&config->dropouts);
    if (!causes.empty()) {
        text += " [" + causes + "]";
    }
    for (uint32_t l = 0; l < plan->loads.size(); ++l) {
        const RtTestResult* test = &config->tests[l];
        if (!plan->loads[l].flags.empty() && test->state != RT_NOT_RUN) {
            text += "; " + echoed(plan->loads[l].name) + " is flagged: " + plan->loads[l].flags;
        }
        text += offline_flags(&plan->loads[l], test);
        // A count cut by what was prepared, not by a hold that failed.
        if (test->state == RT_DONE &&
            (test->search_end == END_CEILING || test->memory_refused_at > 0)) {
            text += "; " + echoed(plan->loads[l].name) + " " +
                    median_gap_sentence(test, &config->idle_shape);
        }
        const double change = test_speed_change(test);
        if (test->state != RT_NOT_RUN && change >= SPEED_SPREAD_NOTE) {
            char note[200];
            std::snprintf(note, sizeof note,
                          "; %s's speed varied %.2fx during its search (another guest on "
                          "the host, or the processor's frequency): its figure moves with it",
                          echoed(plan->loads[l].name).c_str(), change);
            text += note;
        }
    }
    return text;
}
