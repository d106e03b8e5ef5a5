#include "report/miss_words.h"

#include "report/readiness_report.h"

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

std::string dropout_sentence(const RtConfigResult* config) {
    const uint64_t total = miss_total(&config->dropouts);
    char text[200];
    if (total == 0) {
        std::snprintf(text, sizeof text, "the system itself dropped no period in %.1f minutes",
                      config->dropout_minutes);
        return text;
    }
    const double rate = config->dropouts_per_minute;
    std::snprintf(text, sizeof text, "the system itself dropped %.*f period%s a minute here (%s)",
                  rate < 10.0 ? 1 : 0, rate, rate == 1.0 ? "" : "s",
                  miss_breakdown(&config->dropouts).c_str());
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

std::string buffer_summary(const RtPlan* plan, const RtConfigResult* config) {
    std::string fits;
    for (RtTestKind kind : plan->tests) {
        const RtTestResult* test = &config->tests[kind];
        std::string figure = test->state == RT_DONE           ? thousands(test->sustained)
                             : test->state == RT_FITS         ? "fits"
                             : test->state == RT_DOES_NOT_FIT ? "does not fit"
                                                              : "";
        if (!figure.empty()) {
            fits += (fits.empty() ? "" : ", ") + std::string(RT_TEST_NAMES[kind]) + " " + figure;
        }
    }
    std::string what;
    if (!config->idle_done) {
        what = "stopped";
    } else if (!config->sustainable) {
        what = "not sustainable at this buffer on this system";
    } else if (fits.empty()) {
        what = "no test finished";
    } else if (plan->fixed_streams > 0) {
        what = thousands(plan->fixed_streams) + " streams: " + fits;
    } else {
        what = fits + " streams fit";
    }
    char head[64];
    std::snprintf(head, sizeof head, "%u samples, %u core%s: ", config->frames, config->threads,
                  config->threads == 1 ? "" : "s");
    return head + what + "; " + dropout_sentence(config);
}
