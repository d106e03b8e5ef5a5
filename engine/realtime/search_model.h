// The model that aims the capacity search (capacity_search.h): what the
// trials have shown of the cost a stream adds (b, through the idle run's
// fixed part a), of the usual wake-up and of the periods' spread. It aims
// the first hold and sets each trial's judge; holds alone decide a count.
#pragma once

#include "engine/realtime/capacity_search.h"

#include <cstdint>
#include <memory>

// Trials the model keeps a point of; later ones only join the pool.
constexpr uint32_t MAX_POINTS = 64;

// What the trials have shown.
struct Knowledge {
    double per_stream_ns;  // b
    int64_t usual_late_ns; // the median of the trials' median wake-ups
    SpreadHistogram pool;  // X: every trial's periods over their own median
    uint32_t point_count;  // each trial's streams a thread and median work
    double counts[MAX_POINTS];
    double medians[MAX_POINTS];
    uint32_t late_count;
    double lates[MAX_POINTS];
};

std::unique_ptr<Knowledge> model_start(const SearchPlan* plan);
// The trial's periods join the pool over their own median, and its median
// work corrects b.
void model_learn(Knowledge* known, const SearchPlan* plan, const TrialRequest* request,
                 const TrialOutcome* outcome);
// Whether the pool holds enough periods to show its tail.
bool model_pooled(const Knowledge* known);
// The pooled spread's tail over a whole hold at the confirm's odds.
double model_tail(const Knowledge* known, const SearchPlan* plan);
// The count whose expected work, times the pooled tail, fills what a usual
// wake-up leaves of the period; 0 when not even one stream does.
uint32_t model_aim(const Knowledge* known, const SearchPlan* plan);
MissJudge model_judge(const Knowledge* known, const SearchPlan* plan, uint32_t streams);
// Slowest over fastest time a stream among the trials of at least half
// `count`; 0 when fewer than one was measured.
double model_speed_spread(const Knowledge* known, const SearchPlan* plan, uint32_t count);
