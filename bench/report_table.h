// Turns the best time per iteration of each benchmark into the report's
// markdown tables: clock and latencies, the kernels against their bounds,
// the mix against memory, and the timed loops with their yields.
#pragma once

#include <cstdio>
#include <map>
#include <string>

// Best (lowest) real time per iteration in nanoseconds, by benchmark name.
using BestTimes = std::map<std::string, double>;

void print_report(const BestTimes& best, FILE* out);
