// The readiness report's assembly: each system's items in turn, and the
// wording and the items both systems share.
#include "readiness/readiness.h"

#include "readiness/readiness_items.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

std::string item_text(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

void add_item(ReadinessReport* report, const char* name, ReadinessState state, std::string value,
              std::string advice) {
    report->items.push_back(
        ReadinessItem{name, state, std::move(value), std::move(advice), std::string()});
}

bool fact_read(const Fact& fact) {
    return fact.state == FACT_READ;
}

void granted_item(ReadinessReport* report, const char* name, int32_t in_run, const Fact& trial,
                  const char* what, const char* allow) {
    if (in_run >= 0) {
        add_item(report, name, in_run != 0 ? READY_OK : READY_WARN,
                 in_run != 0 ? "granted in the run" : "refused in the run",
                 in_run != 0 ? item_text("Fine: the run had %s.", what) : std::string(allow));
    } else if (fact_read(trial)) {
        add_item(report, name, trial.number != 0 ? READY_OK : READY_WARN, trial.text,
                 trial.number != 0 ? item_text("Fine: a run will have %s.", what)
                                   : std::string(allow));
    } else {
        add_item(report, name, READY_UNKNOWN, trial.text, allow);
    }
}

namespace {
// "KVMKVMKVM" and the like, as people call them.
std::string hypervisor_name(const std::string& vendor) {
    static const char* const NAMES[][2] = {
        {"KVMKVMKVM", "KVM"},          {"Microsoft Hv", "Hyper-V"},    {"VMwareVMware", "VMware"},
        {"XenVMMXenVMM", "Xen"},       {"VBoxVBoxVBox", "VirtualBox"}, {"TCGTCGTCGTCG", "QEMU"},
        {" lrpepyh  vr", "Parallels"}, {"bhyve bhyve ", "bhyve"},      {"ACRNACRNACRN", "ACRN"},
        {" QNXQVMBSQG ", "QNX"},       {"Linux KVM Hv", "KVM"}};
    for (const auto& name : NAMES) {
        if (vendor == name[0]) {
            return name[1];
        }
    }
    return "a hypervisor";
}
} // namespace

void virtual_machine_item(ReadinessReport* report, const ReadinessFacts* facts) {
    const Fact& flag =
        fact_read(facts->cpuinfo_hypervisor) ? facts->cpuinfo_hypervisor : facts->cpuid_hypervisor;
    if (!fact_read(flag)) {
        add_item(report, "virtual_machine", READY_UNKNOWN,
                 facts->cpuinfo_hypervisor.text + "; CPUID: " + facts->cpuid_hypervisor.text,
                 "Measure on real hardware for figures that hold there.");
        return;
    }
    if (flag.number == 0) {
        add_item(report, "virtual_machine", READY_OK, "no hypervisor flag", "Fine: real hardware.");
        return;
    }
    // Named as the system calls it, else by CPUID's vendor, shown as given.
    std::string name = "a hypervisor";
    if (fact_read(facts->hypervisor_type)) {
        name = facts->hypervisor_type.text + " (/sys/hypervisor/type)";
    } else if (fact_read(facts->cpuid_vendor)) {
        name = hypervisor_name(facts->cpuid_vendor.text) + " (CPUID vendor \"" +
               facts->cpuid_vendor.text + "\")";
    }
    add_item(report, "virtual_machine", READY_WARN, name + ", hypervisor flag set",
             facts->system == READINESS_LINUX
                 ? "Measure on real hardware for figures that hold there: the host takes the "
                   "processor away whenever it likes (see steal)."
                 : "Measure on real hardware for figures that hold there: the host takes the "
                   "processor away whenever it likes.");
}

void readiness_read_facts(ReadinessFacts* facts) {
    readiness_process_facts(facts);
    readiness_system_facts("/", READINESS_INTERVAL_MS, facts);
}

void readiness_assess(const ReadinessFacts* facts, const ReadinessRun* run,
                      ReadinessReport* report) {
    *report = ReadinessReport{};
    ReadinessRun none;
    if (run == nullptr) {
        run = &none;
    }
    if (facts->system == READINESS_WINDOWS) {
        windows_items(report, facts, run);
    } else {
        linux_items(report, facts, run);
    }
}

const ReadinessItem* readiness_find(const ReadinessReport* report, const char* name) {
    for (const ReadinessItem& item : report->items) {
        if (item.name == name) {
            return &item;
        }
    }
    return nullptr;
}
