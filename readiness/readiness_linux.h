// Between Linux's readiness files only: each group of items, in the order
// linux_items gives them, and the processor helpers they share.
#pragma once

#include "readiness/readiness_items.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::string processor_list(const std::vector<uint32_t>& processors);
const CpuFacts* cpu_of(const ReadinessFacts* facts, uint32_t processor);

// readiness_linux_cpus.cpp
void governor_item(ReadinessReport* report, const ReadinessFacts* facts);
void frequency_item(ReadinessReport* report, const ReadinessFacts* facts);
void smt_items(ReadinessReport* report, const ReadinessFacts* facts,
               const std::vector<uint32_t>& ours);
void steal_item(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run,
                size_t processors);

// readiness_linux_kernel.cpp
void preemption_item(ReadinessReport* report, const ReadinessFacts* facts);
void command_line_items(ReadinessReport* report, const ReadinessFacts* facts,
                        const std::vector<uint32_t>& ours);
void throttling_items(ReadinessReport* report, const ReadinessFacts* facts,
                      const std::vector<uint32_t>& ours);
void clocksource_item(ReadinessReport* report, const ReadinessFacts* facts);
void competitors_item(ReadinessReport* report, const ReadinessFacts* facts,
                      const std::vector<uint32_t>& ours);
