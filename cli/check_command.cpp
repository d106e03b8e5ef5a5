#include "cli/check_command.h"

#include "cli/output.h"
#include "platform/platform_realtime.h"
#include "readiness/readiness.h"
#include "report/machine.h"
#include "report/readiness_report.h"

#include <cstdio>
#include <memory>

namespace {
// Processors a machine may have, for the list of those a run would use.
constexpr uint32_t MAX_PROCESSORS = 1024;
} // namespace

int run_check_command(bool json) {
    MachineReport machine{};
    describe_machine(&machine);
    auto facts = std::make_unique<ReadinessFacts>();
    readiness_read_facts(facts.get());
    // The processors a run would use: one per physical core.
    auto processors = std::make_unique<uint32_t[]>(MAX_PROCESSORS);
    RtStep step{};
    uint32_t count = rt_physical_cores(processors.get(), MAX_PROCESSORS, &step);
    ReadinessRun run;
    run.processors.assign(processors.get(), processors.get() + count);
    ReadinessReport report;
    readiness_assess(facts.get(), &run, &report);
    if (json) {
        nlohmann::ordered_json doc;
        doc["schema_version"] = 2;
        doc["mode"] = "check";
        doc["machine"] = machine_json(&machine);
        doc["readiness"] = readiness_json(&report);
        doc["root_note"] = report.root_note.empty() ? nlohmann::ordered_json(nullptr)
                                                    : nlohmann::ordered_json(report.root_note);
        std::string text =
            doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        std::fprintf(stdout, "%s\n", text.c_str());
    } else {
        print_machine_text(stdout, &machine);
        print_readiness_text(stdout, &report);
    }
    return stdout_finish() ? 0 : 1;
}
