// The words and figures the real-time reports share.
#include "report/realtime_words.h"

#include <cinttypes>
#include <cstdio>

const char* const NOT_SUSTAINABLE_TEXT = "not sustainable at this buffer on this system";

const char* test_state_text(RtTestState state) {
    switch (state) {
    case RT_NOT_RUN:
        return "not run";
    case RT_DONE:
        return "done";
    case RT_NONE_PLAYS:
        return "none plays";
    case RT_INTERRUPTED:
        return "stopped";
    case RT_NO_MEMORY:
        return "no memory";
    case RT_FAILED:
        return "failed";
    case RT_PLAYS:
        return "plays";
    case RT_DOES_NOT_PLAY:
        return "does not play";
    }
    return "unknown";
}

const char* search_end_key(SearchEnd end) {
    switch (end) {
    case END_MET:
        return "met";
    case END_CEILING:
        return "ceiling";
    case END_HOLDS:
        return "holds";
    case END_MEMORY:
        return "memory";
    case END_BUDGET:
        return "time";
    case END_NONE:
        break;
    }
    return "none";
}

const char* search_end_text(SearchEnd end) {
    switch (end) {
    case END_MET:
        return "a count that played and one that failed met";
    case END_CEILING:
        return "the ceiling itself played";
    case END_HOLDS:
        return "the holds ran out before the two met";
    case END_MEMORY:
        return "the memory limit stopped it";
    case END_BUDGET:
        return "its share of the run's time ran out before the two met";
    case END_NONE:
        break;
    }
    return "it was stopped";
}

double ns_to_ms(int64_t ns) {
    return static_cast<double>(ns) / 1e6;
}

double kernel_bound_share(const RtTestResult* test) {
    return test->kernel_bound > 0
               ? static_cast<double>(test->plays) / static_cast<double>(test->kernel_bound)
               : 0.0;
}

std::string idle_floor_text(const RtFigures* figures) {
    char text[120];
    std::snprintf(text, sizeof text,
                  "%" PRIu64 " of %" PRIu64 " periods missed, worst wake-up %.3f ms late",
                  figures->missed, figures->periods, ns_to_ms(figures->lateness.max));
    return text;
}
