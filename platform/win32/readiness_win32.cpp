// The readiness facts on Windows: the power plan (powrprof), MMCSS's
// registry settings and a trial of "Pro Audio" (avrt), the timer resolution
// (ntdll), the CPUID hypervisor leaves, and whether this is Wine. powrprof
// and ntdll's functions are looked up at run time, so that a system lacking
// one (Wine lacks some) still starts the program.
#include "platform/platform_readiness.h"

#include "platform/common/readiness_common.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <avrt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
using GetActiveSchemeFunction = DWORD(WINAPI*)(HKEY, GUID**);
using ReadFriendlyNameFunction = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, UCHAR*,
                                                DWORD*);
using QueryTimerResolutionFunction = LONG(NTAPI*)(ULONG*, ULONG*, ULONG*);
using WineVersionFunction = const char*(CDECL*)();

const wchar_t* const PROFILE_KEY =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile";
const wchar_t* const PRO_AUDIO_KEY =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\SystemProfile\\Tasks\\Pro "
    L"Audio";

template <typename Function> Function look_up(HMODULE module, const char* name) {
    return module == nullptr
               ? nullptr
               : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::string narrow(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return "";
    }
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<size_t>(size - 1));
    return result;
}

std::string guid_text(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

void read_power_plan(ReadinessFacts* facts) {
    HMODULE powrprof = LoadLibraryW(L"powrprof.dll");
    auto get_active = look_up<GetActiveSchemeFunction>(powrprof, "PowerGetActiveScheme");
    auto read_name = look_up<ReadFriendlyNameFunction>(powrprof, "PowerReadFriendlyName");
    GUID* scheme = nullptr;
    DWORD error = get_active != nullptr ? get_active(nullptr, &scheme) : ERROR_PROC_NOT_FOUND;
    if (error != ERROR_SUCCESS || scheme == nullptr) {
        facts->power_plan =
            unknown_fact(get_active == nullptr
                             ? "powrprof.dll has no PowerGetActiveScheme"
                             : "PowerGetActiveScheme failed with error " + std::to_string(error));
        facts->power_plan_name = facts->power_plan;
    } else {
        facts->power_plan = Fact{FACT_READ, 0, guid_text(*scheme)};
        DWORD size = 0;
        if (read_name != nullptr) {
            read_name(nullptr, scheme, nullptr, nullptr, nullptr, &size);
        }
        std::vector<UCHAR> name(size + sizeof(wchar_t), 0);
        if (size > 0 &&
            read_name(nullptr, scheme, nullptr, nullptr, name.data(), &size) == ERROR_SUCCESS) {
            facts->power_plan_name =
                Fact{FACT_READ, 0, narrow(reinterpret_cast<const wchar_t*>(name.data()))};
        } else {
            facts->power_plan_name = unknown_fact("PowerReadFriendlyName gave no name");
        }
        LocalFree(scheme);
    }
    if (powrprof != nullptr) {
        FreeLibrary(powrprof);
    }
}

// One value under HKLM, from the 64-bit view also in a 32-bit program.
Fact registry_value(const wchar_t* key_path, const wchar_t* name, DWORD type) {
    std::string where = "HKLM\\" + narrow(key_path) + " " + narrow(name);
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ | KEY_WOW64_64KEY, &key);
    if (error == ERROR_SUCCESS) {
        wchar_t text[128] = {};
        DWORD number = 0;
        DWORD size = type == RRF_RT_REG_DWORD ? sizeof number : sizeof text - sizeof(wchar_t);
        void* into = type == RRF_RT_REG_DWORD ? static_cast<void*>(&number) : text;
        error = RegGetValueW(key, nullptr, name, type, nullptr, into, &size);
        RegCloseKey(key);
        if (error == ERROR_SUCCESS) {
            return type == RRF_RT_REG_DWORD ? Fact{FACT_READ, number, std::to_string(number)}
                                            : Fact{FACT_READ, 0, narrow(text)};
        }
    }
    Fact fact = unknown_fact(where + ": error " + std::to_string(error));
    if (error == ERROR_FILE_NOT_FOUND) {
        fact.state = FACT_MISSING;
        fact.text = "no " + where;
    }
    return fact;
}

void try_pro_audio(ReadinessFacts* facts) {
    DWORD task_index = 0;
    HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &task_index);
    DWORD error = GetLastError();
    if (task != nullptr) {
        AvRevertMmThreadCharacteristics(task);
    }
    if (facts->wine.state == FACT_READ) {
        facts->mmcss_granted =
            unknown_fact(std::string("not available under Wine (it has no MMCSS; ") +
                         (task != nullptr ? "the call returned a handle)" : "the call failed)"));
    } else if (task != nullptr) {
        facts->mmcss_granted = Fact{FACT_READ, 1, "granted (tried, then reverted)"};
    } else {
        facts->mmcss_granted =
            Fact{FACT_READ, 0,
                 "refused (AvSetMmThreadCharacteristics error " + std::to_string(error) + ")"};
    }
}

void read_timer_resolution(HMODULE ntdll, ReadinessFacts* facts) {
    auto query = look_up<QueryTimerResolutionFunction>(ntdll, "NtQueryTimerResolution");
    ULONG coarsest = 0;
    ULONG finest = 0;
    ULONG current = 0;
    LONG status = query != nullptr ? query(&coarsest, &finest, &current) : -1;
    if (query == nullptr || status < 0 || current == 0) {
        char why[128];
        std::snprintf(why, sizeof why, "%sNtQueryTimerResolution %s (status 0x%08lx)%s",
                      facts->wine.state == FACT_READ ? "not available under Wine (" : "",
                      query == nullptr ? "not in ntdll" : "failed",
                      static_cast<unsigned long>(status),
                      facts->wine.state == FACT_READ ? ")" : "");
        facts->timer_current_100ns = unknown_fact(why);
        facts->timer_finest_100ns = facts->timer_current_100ns;
        return;
    }
    // The smaller of the two bounds is the finest, whatever their order.
    ULONG finer = finest < coarsest ? finest : coarsest;
    facts->timer_current_100ns = Fact{FACT_READ, current, std::to_string(current)};
    facts->timer_finest_100ns = Fact{FACT_READ, finer, std::to_string(finer)};
    if (facts->wine.state == FACT_READ) {
        // Wine answers figures of its own, not the host's timer.
        char why[128];
        std::snprintf(why, sizeof why,
                      "not available under Wine (its answer: current %.3f ms, finest %.3f ms)",
                      current / 1e4, finer / 1e4);
        facts->timer_current_100ns = unknown_fact(why);
        facts->timer_finest_100ns = facts->timer_current_100ns;
    }
}

// Under Wine, what is missing is Wine's lack, not the system's.
void blame_wine(Fact* fact) {
    if (fact->state != FACT_READ) {
        fact->state = FACT_UNKNOWN;
        fact->text = "not available under Wine (" + fact->text + ")";
    }
}
} // namespace

void readiness_process_facts(ReadinessFacts* facts) {
    facts->system = READINESS_WINDOWS;
    facts->pid = Fact{FACT_READ, static_cast<int64_t>(GetCurrentProcessId()),
                      std::to_string(GetCurrentProcessId())};
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto wine_version = look_up<WineVersionFunction>(ntdll, "wine_get_version");
    facts->wine = wine_version != nullptr ? Fact{FACT_READ, 0, wine_version()}
                                          : Fact{FACT_MISSING, 0, "not Wine"};
    read_power_plan(facts);
    facts->system_responsiveness =
        registry_value(PROFILE_KEY, L"SystemResponsiveness", RRF_RT_REG_DWORD);
    facts->pro_audio_category =
        registry_value(PRO_AUDIO_KEY, L"Scheduling Category", RRF_RT_REG_SZ);
    facts->pro_audio_priority = registry_value(PRO_AUDIO_KEY, L"Priority", RRF_RT_REG_DWORD);
    try_pro_audio(facts);
    read_timer_resolution(ntdll, facts);
    read_cpuid_hypervisor(&facts->cpuid_hypervisor, &facts->cpuid_vendor);
    if (facts->wine.state == FACT_READ) {
        for (Fact* fact :
             {&facts->power_plan, &facts->power_plan_name, &facts->system_responsiveness,
              &facts->pro_audio_category, &facts->pro_audio_priority}) {
            blame_wine(fact);
        }
    }
}

void readiness_system_facts(const char* /*root*/, uint32_t /*interval_ms*/,
                            ReadinessFacts* /*facts*/) {}
