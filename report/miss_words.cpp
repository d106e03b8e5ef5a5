#include "report/miss_words.h"

#include "report/readiness_report.h"
#include "report/realtime_report.h"

#include "platform/common/echoed.h"
#include "report/hold_words.h"
#include "report/offline_words.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {
const char* const CAUSE_WORDS[MISS_CAUSES] = {"work", "late wake-up", "preempted", "throttled",
                                              "unknown"};
const char* const SOURCE_WORDS[PREEMPT_SOURCES] = {"another thread", "interrupts", "hypervisor",
                                                   "preempted"};
} // namespace

const char* cause_words(MissCause cause) {
    return CAUSE_WORDS[cause];
}

const char* source_words(PreemptSource source) {
    return SOURCE_WORDS[source];
}

std::string miss_breakdown(const MissCounts* counts) {
    std::vector<std::pair<uint64_t, const char*>> parts;
    for (uint32_t c = 0; c < MISS_CAUSES; ++c) {
        if (c != CAUSE_PREEMPTED && counts->by_cause[c] > 0) {
            parts.emplace_back(counts->by_cause[c], CAUSE_WORDS[c]);
        }
    }
    for (uint32_t s = 0; s < PREEMPT_SOURCES; ++s) {
        if (counts->preempted_by[s] > 0) {
            parts.emplace_back(counts->preempted_by[s], SOURCE_WORDS[s]);
        }
    }
    std::stable_sort(parts.begin(), parts.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::string text;
    for (const auto& [count, words] : parts) {
        text += (text.empty() ? "" : ", ") + thousands(count) + " " + words;
    }
    return text;
}

nlohmann::ordered_json misses_json(const MissCounts* counts) {
    nlohmann::ordered_json misses;
    for (uint32_t c = 0; c < MISS_CAUSES; ++c) {
        misses[MISS_CAUSE_NAMES[c]] = counts->by_cause[c];
    }
    nlohmann::ordered_json by;
    for (uint32_t s = 0; s < PREEMPT_SOURCES; ++s) {
        by[PREEMPT_SOURCE_NAMES[s]] = counts->preempted_by[s];
    }
    misses["preempted_by"] = by;
    misses["confirmed"] = counts->confirmed;
    return misses;
}

std::vector<PluginCost> load_costs(const RtRunResult* result, uint32_t index) {
    std::vector<PluginCost> costs;
    for (const RtConfigResult& config : result->configs) {
        const double each = config.tests[index].stream_ns_offline;
        bool seen = false;
        for (const PluginCost& cost : costs) {
            seen = seen || cost.frames == config.frames;
        }
        if (each > 0.0 && !seen) {
            costs.push_back(PluginCost{config.frames, each, each / config.frames, 0, 0, true,
                                       PLUGIN_OUTPUT_SOUND});
        }
    }
    return costs;
}

std::string load_label(const RtLoad* load) {
    return load->name.size() <= LOAD_LABEL_WIDTH ? load->name : load->key;
}

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
