// The machine a report was measured on, at the head of every report of the
// console runner, text and JSON: without it no two results can be compared.
#pragma once

#include "platform/platform_realtime.h"

#include <nlohmann/json.hpp>

#include <cstdio>

// Every JSON report carries it first; a reader takes every version up to
// its own (reports without it are version 1).
constexpr int REPORT_SCHEMA_VERSION = 4;

struct MachineReport {
    MachineFacts facts;
    char program[64];  // "test_zem_cli 1.0.0.0"
    char compiler[64]; // "GCC 12.2.0"
    uint32_t bits;     // 32 or 64
    char date[32];     // "2026-12-07 06:12:33 UTC"
};

// Reads the machine's facts, the build and the time now.
void describe_machine(MachineReport* report);

void print_machine_text(FILE* out, const MachineReport* report);
nlohmann::ordered_json machine_json(const MachineReport* report);
