// Missed periods' causes in words and in the JSON.
#include "report/miss_words.h"

#include "report/readiness_report.h"

#include <algorithm>
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
