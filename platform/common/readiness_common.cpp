#include "platform/common/readiness_common.h"

#include <cstring>
#include <string>
#include <vector>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

std::vector<uint32_t> parse_cpu_list(const std::string& text) {
    std::vector<uint32_t> processors;
    const char* at = text.c_str();
    while (*at >= '0' && *at <= '9') {
        char* end = nullptr;
        unsigned long first = std::strtoul(at, &end, 10);
        unsigned long last = first;
        if (*end == '-' && end[1] >= '0' && end[1] <= '9') {
            last = std::strtoul(end + 1, &end, 10);
        }
        // A list beyond any machine's processors is not one.
        if (last < first || last >= 65536) {
            return {};
        }
        for (unsigned long p = first; p <= last; ++p) {
            processors.push_back(static_cast<uint32_t>(p));
        }
        at = *end == ',' ? end + 1 : end;
    }
    return processors;
}

void read_cpuid_hypervisor(Fact* present, Fact* vendor) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        present->text = "CPUID leaf 1 not available";
        vendor->text = present->text;
        return;
    }
    present->state = FACT_READ;
    present->number = (ecx >> 31) & 1;
    present->text = present->number != 0 ? "set" : "clear";
    if (present->number == 0) {
        vendor->state = FACT_MISSING;
        vendor->text = "no hypervisor bit, so no hypervisor leaf";
        return;
    }
    __cpuid(0x40000000, eax, ebx, ecx, edx);
    char name[13] = {};
    std::memcpy(name, &ebx, 4);
    std::memcpy(name + 4, &ecx, 4);
    std::memcpy(name + 8, &edx, 4);
    vendor->state = FACT_READ;
    vendor->text = name;
#else
    present->text = "no CPUID on this processor";
    vendor->text = present->text;
#endif
}

Fact unknown_fact(const std::string& why) {
    Fact fact;
    fact.text = why;
    return fact;
}
