// The machine a report was measured on, as text and JSON.
#include "report/machine.h"

#include "resources/version.h"

#include <ctime>

namespace {
#define ZEM_STRING(x) #x
#define ZEM_EXPAND(x) ZEM_STRING(x)
#if defined(__clang__)
const char* const COMPILER = "Clang " ZEM_EXPAND(__clang_major__) "." ZEM_EXPAND(
    __clang_minor__) "." ZEM_EXPAND(__clang_patchlevel__);
#elif defined(__MINGW32__)
const char* const COMPILER = "GCC " ZEM_EXPAND(__GNUC__) "." ZEM_EXPAND(
    __GNUC_MINOR__) "." ZEM_EXPAND(__GNUC_PATCHLEVEL__) " (MinGW-w64)";
#elif defined(__GNUC__)
const char* const COMPILER =
    "GCC " ZEM_EXPAND(__GNUC__) "." ZEM_EXPAND(__GNUC_MINOR__) "." ZEM_EXPAND(__GNUC_PATCHLEVEL__);
#else
const char* const COMPILER = "unknown compiler";
#endif
} // namespace

void describe_machine(MachineReport* report) {
    *report = MachineReport{};
    rt_machine_facts(&report->facts);
    std::snprintf(report->program, sizeof report->program, "test_zem_cli %s", ZEM_VERSION_TEXT);
    std::snprintf(report->compiler, sizeof report->compiler, "%s", COMPILER);
    report->bits = static_cast<uint32_t>(sizeof(void*) * 8);
    std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    if (utc == nullptr ||
        std::strftime(report->date, sizeof report->date, "%Y-%m-%d %H:%M:%S UTC", utc) == 0) {
        std::snprintf(report->date, sizeof report->date, "unknown");
    }
}

void print_machine_text(FILE* out, const MachineReport* report) {
    const MachineFacts* facts = &report->facts;
    std::fprintf(out, "Machine\n");
    if (facts->host[0] != '\0') {
        std::fprintf(out, "  Host:       %s\n", facts->host);
    }
    std::fprintf(out, "  Processor:  %s (%u physical cores, %u logical)\n", facts->processor,
                 facts->physical_cores, facts->logical_cores);
    std::fprintf(out, "  System:     %s, %s\n", facts->os, facts->kernel);
    std::fprintf(out, "  Governor:   %s\n",
                 facts->governor[0] != '\0' ? facts->governor : "not readable");
    std::fprintf(out, "  Program:    %s, %s, %u-bit\n", report->program, report->compiler,
                 report->bits);
    std::fprintf(out, "  Date:       %s\n\n", report->date);
}

nlohmann::ordered_json machine_json(const MachineReport* report) {
    const MachineFacts* facts = &report->facts;
    nlohmann::ordered_json machine;
    machine["processor"] = facts->processor;
    machine["physical_cores"] = facts->physical_cores;
    machine["logical_cores"] = facts->logical_cores;
    machine["os"] = facts->os;
    machine["kernel"] = facts->kernel;
    machine["governor"] =
        facts->governor[0] != '\0' ? nlohmann::ordered_json(facts->governor) : nullptr;
    machine["program"] = report->program;
    machine["compiler"] = report->compiler;
    machine["bits"] = report->bits;
    machine["date"] = report->date;
    machine["host"] = facts->host;
    return machine;
}
