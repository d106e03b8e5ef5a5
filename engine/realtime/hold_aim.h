// Where the capacity search (capacity_search.h) sends its next hold: the
// holds so far aim it, the model (search_model.h) only aims the first.
#pragma once

#include "engine/realtime/capacity_search.h"
#include "engine/realtime/search_model.h"

#include <cstdint>

// Two counts closer than this are one answer: RESOLUTION_SHARE of
// `count`, at least one stream.
uint32_t count_resolution(uint32_t count);

// Every miss of a failed hold lies far past its usual periods, at no
// rhythm of the load's own and at the speed expected: the host paused it.
// The hold still failed; only its slowest period says nothing of what the
// count costs.
bool struck_by_pauses(const TrialRequest* request, const TrialOutcome* outcome);

// Where the next hold goes, given the largest count that played (`low`, 0:
// none) and the smallest that failed (`high`, past the bound: none), and
// how many holds in a row failed.
uint32_t next_count(const Knowledge* known, const SearchPlan* plan, uint32_t low, uint32_t high,
                    uint32_t last, const TrialOutcome* outcome, uint32_t failures, bool paused);
