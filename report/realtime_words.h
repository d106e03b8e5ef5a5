// The words and figures the real-time mode's text, JSON and SVG reports
// share, so that the three say the same thing of a run.
#pragma once

#include "engine/realtime/realtime_run.h"

#include <cstdint>
#include <string>

// The verdict on an idle system that missed.
extern const char* const NOT_SUSTAINABLE_TEXT;

// "done", "none plays", "does not play"...: a test's state.
const char* test_state_text(RtTestState state);

// Why a search stopped, in words ("met", "ceiling", "holds", "memory", "time" in
// the JSON; a phrase in the text).
const char* search_end_key(SearchEnd end);
const char* search_end_text(SearchEnd end);

// Nanoseconds as the reports print them, in milliseconds.
double ns_to_ms(int64_t ns);

// The count a test held over its kernel-alone bound; 0 when it has no bound.
double kernel_bound_share(const RtTestResult* test);

// "0 of 24 periods missed, worst wake-up 0.061 ms late": what an idle run
// missed, and how late it woke at worst.
std::string idle_floor_text(const RtFigures* figures);
