// What a hold's periods show and what limits the count, in words: shared
// by the text, the JSON and the picture.
#pragma once

#include "engine/realtime/hold_shape.h"
#include "engine/realtime/realtime_run.h"

#include <string>
#include <vector>

// What a hold of this length can show: "no more dropouts than the idle
// system in 3 s".
std::string hold_claim_text(double seconds);

// One sentence for each limit the hold's periods show: the load's bursts
// ("its cost rose 4.0x for 50 ms every 400 ms"), slow phases, the host's
// pauses (and, given the idle run's shape, whether it had them too).
// Empty when none.
std::vector<std::string> hold_limit_sentences(const HoldShape* hold, const HoldShape* idle);

// Where the count lies far below the count at which the hold's median
// period would just fit, why: "" when it does not. A count that stopped
// at the ceiling says so instead: it is a floor, not the reach; one the
// memory limit stopped says that: "1,200 plays: the memory limit stopped
// the search (used 3.1 GB at 1,216 instances; 2,400 would not fit)".
std::string median_gap_sentence(const RtTestResult* test, const HoldShape* idle);

// Below this share of median_fits the gap is worth a sentence.
constexpr double MEDIAN_GAP_NOTE = 0.85;
