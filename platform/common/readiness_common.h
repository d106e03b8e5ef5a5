// The readiness facts both backends read the same way: the CPUID hypervisor
// leaves; and a fact not read, with why.
#pragma once

#include "platform/platform_readiness.h"

// The hypervisor bit of leaf 1 and the vendor of leaf 0x40000000 (x86 only;
// elsewhere both unknown, saying so).
void read_cpuid_hypervisor(Fact* present, Fact* vendor);
Fact unknown_fact(const std::string& why);
