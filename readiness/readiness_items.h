// Between the readiness files only: how an item is worded and added, the
// items both systems judge alike, and each system's list of items.
#pragma once

#include "readiness/readiness.h"

#include <cstdint>
#include <string>

__attribute__((format(gnu_printf, 1, 2))) std::string item_text(const char* format, ...);

void add_item(ReadinessReport* report, const char* name, ReadinessState state, std::string value,
              std::string advice);

bool fact_read(const Fact& fact);

// A trial's item: what the run saw, else what the check's own trial found.
void granted_item(ReadinessReport* report, const char* name, int32_t in_run, const Fact& trial,
                  const char* what, const char* allow);

void virtual_machine_item(ReadinessReport* report, const ReadinessFacts* facts);

void linux_items(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run);
void windows_items(ReadinessReport* report, const ReadinessFacts* facts, const ReadinessRun* run);
