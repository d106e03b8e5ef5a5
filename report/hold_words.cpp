// What a hold's periods show and what limits the count, in words.
#include "report/hold_words.h"

#include "engine/realtime/hold_aim.h"
#include "report/readiness_report.h"

#include <cstdio>

namespace {
// "" when the memory limit did not stop the search.
std::string memory_limit_sentence(const RtTestResult* test) {
    if (test->memory_refused_at == 0 || test->search_end != END_MEMORY) {
        return "";
    }
    char used[96] = "";
    if (test->memory_used_bytes > 0) {
        std::snprintf(used, sizeof used, "used %.1f GB at ",
                      static_cast<double>(test->memory_used_bytes) / BYTES_PER_GB);
    }
    const std::string count = test->plays > 0 ? thousands(test->plays) + " plays" : "none plays";
    return count + ": the memory limit stopped the search (" + used +
           thousands(test->memory_prepared) + " instances; " + thousands(test->memory_refused_at) +
           " would not fit)";
}
} // namespace

std::string hold_claim_text(double seconds) {
    char text[96];
    std::snprintf(text, sizeof text, "no more dropouts than the idle system in %g s", seconds);
    return text;
}

std::vector<std::string> hold_limit_sentences(const HoldShape* hold, const HoldShape* idle) {
    std::vector<std::string> sentences;
    const HoldLimits* limits = &hold->limits;
    char text[200];
    if (limits->bursts) {
        std::snprintf(text, sizeof text,
                      "its cost rose %.1fx for %.0f ms every %.0f ms, in all its work at once",
                      limits->burst_factor, limits->burst_ms, limits->burst_every_ms);
        sentences.emplace_back(text);
    }
    if (limits->slow_phases) {
        std::snprintf(text, sizeof text,
                      "it ran %.2fx slower for %.0f %% of the hold, in stretches of a second or "
                      "more",
                      limits->slow_factor, limits->slow_share * 100.0);
        sentences.emplace_back(text);
    }
    if (limits->pauses > 0) {
        const char* idle_word = idle == nullptr           ? ""
                                : idle->limits.pauses > 0 ? " (the idle run had such pauses too)"
                                                          : " (the idle run had none)";
        std::snprintf(text, sizeof text,
                      "the host paused it %u time%s, up to %.1f ms, about %.0f a minute%s",
                      limits->pauses, limits->pauses == 1 ? "" : "s", limits->pause_longest_ms,
                      limits->pauses_per_minute, idle_word);
        sentences.emplace_back(text);
    }
    return sentences;
}

std::string median_gap_sentence(const RtTestResult* test, const HoldShape* idle) {
    // A count the user asked for was not cut by anything: only a search's is.
    const bool counted = test->state == RT_DONE;
    const std::string memory = memory_limit_sentence(test);
    if (!memory.empty()) {
        return memory;
    }
    if (counted && test->search_end == END_CEILING) {
        return thousands(test->plays) + " plays: the search's ceiling itself played (" +
               thousands(test->search_bound) + " prepared" +
               (test->memory_capped      ? ", all the memory the run may use"
                : test->instances_capped ? ", the most instances a run prepares"
                                         : "") +
               "), so more may play";
    }
    if (!counted || test->median_fits == 0 ||
        static_cast<double>(test->plays) >=
            MEDIAN_GAP_NOTE * static_cast<double>(test->median_fits)) {
        return "";
    }
    const std::vector<std::string> limits = hold_limit_sentences(&test->shape, idle);
    const HoldLimits* found = &test->shape.limits;
    char text[400];
    std::snprintf(text, sizeof text,
                  "%s plays, %.2f of the %s at which its median period would just fit: ",
                  thousands(test->plays).c_str(),
                  static_cast<double>(test->plays) / static_cast<double>(test->median_fits),
                  thousands(test->median_fits).c_str());
    std::string sentence = text;
    const bool stopped_short = test->search_end == END_HOLDS || test->search_end == END_BUDGET;
    const bool met = test->failed_at <= test->plays + count_resolution(test->plays);
    if (limits.empty() && test->failed_at > test->plays && met && test->failed_shape.periods > 0) {
        // The two met: what cut the count is what failed the hold above it.
        std::snprintf(text, sizeof text,
                      "a hold of %s failed (%s period%s missed in %s, the slowest %.2fx the "
                      "median)",
                      thousands(test->failed_at).c_str(),
                      thousands(test->failed_hold.missed).c_str(),
                      test->failed_hold.missed == 1 ? "" : "s",
                      thousands(test->failed_hold.periods).c_str(), test->failed_shape.spread.max);
        sentence += text;
        for (const std::string& limit : hold_limit_sentences(&test->failed_shape, idle)) {
            sentence += "; " + limit;
        }
        return sentence;
    }
    if (limits.empty() && stopped_short && test->failed_at > test->plays) {
        // Not the spread: the search stopped short, between a count that
        // played and one that failed.
        std::snprintf(text, sizeof text,
                      "the search's %s ran out before it met %s, the lowest count that "
                      "failed, so between the two is not known",
                      test->search_end == END_HOLDS ? "holds" : "share of the run's time",
                      thousands(test->failed_at).c_str());
        sentence += text;
        // What failed the hold far above may still be what cuts the count.
        const std::vector<std::string> failed =
            test->failed_shape.periods > 0 ? hold_limit_sentences(&test->failed_shape, idle)
                                           : std::vector<std::string>{};
        for (size_t l = 0; l < failed.size(); ++l) {
            sentence += (l == 0 ? "; at " + thousands(test->failed_at) + " " : "; ") + failed[l];
        }
        return sentence;
    }
    if (limits.empty()) {
        std::snprintf(text, sizeof text,
                      "the spread of its periods cut it (the slowest %.2fx the "
                      "median, the 99.9th percentile %.2fx)",
                      test->shape.spread.max, test->shape.spread.p999);
        return sentence + text;
    }
    sentence += limits[0];
    for (size_t l = 1; l < limits.size(); ++l) {
        sentence += "; " + limits[l];
    }
    if (!found->bursts && !found->slow_phases) {
        sentence += "; on a quieter machine expect up to " + thousands(test->median_fits);
    }
    return sentence;
}
