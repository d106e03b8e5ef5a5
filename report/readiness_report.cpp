// The readiness items as text and JSON, and the verdict on a buffer size.
#include "report/readiness_report.h"

#include <algorithm>
#include <cmath>

namespace {
struct Explanation {
    const char* item; // the readiness item that, when it warns, explains a cause
    const char* words;
};

// Per cause, the items that explain it, the likeliest first.
const Explanation HYPERVISOR[] = {
    {"virtual_machine", "this is a virtual machine: expect better on real hardware"},
    {"steal", "the host took time from this guest: see steal"}};
const Explanation INTERRUPTS[] = {
    {"threadirqs", "interrupt handlers are not threads: boot with threadirqs"}};
const Explanation THREADS[] = {
    {"rt_competitors", "another thread outranks ours on our cores: see rt_competitors"},
    {"isolcpus", "our cores are not kept for audio: see isolcpus"}};
const Explanation UNSAID[] = {
    {"rt_competitors", "another thread outranks ours on our cores: see rt_competitors"},
    {"threadirqs", "interrupt handlers are not threads: boot with threadirqs"},
    {"isolcpus", "our cores are not kept for audio: see isolcpus"}};
const Explanation THROTTLING[] = {
    {"rt_throttling", "real-time throttling is on: kernel.sched_rt_runtime_us=-1 turns it off"},
    {"fair_server", "the fair server keeps time for normal threads: see fair_server"}};
const Explanation LATE[] = {
    {"cpu_dma_latency", "the cores slept deeply: see cpu_dma_latency"},
    {"preemption", "the kernel is not fully preemptible: boot with preempt=full"}};

template <size_t N>
std::string explain(const Explanation (&explanations)[N], const ReadinessReport* readiness) {
    for (const Explanation& e : explanations) {
        const ReadinessItem* item = readiness_find(readiness, e.item);
        if (item != nullptr && item->state == READY_WARN) {
            return std::string(" (") + e.words + ")";
        }
    }
    for (const Explanation& e : explanations) {
        const ReadinessItem* item = readiness_find(readiness, e.item);
        if (item != nullptr && item->state == READY_UNKNOWN) {
            return std::string(" (") + e.item + " could not be read)";
        }
    }
    return " (no readiness item explains it)";
}

// "mostly from the hypervisor (...)": the largest of the system's causes.
std::string main_cause(const MissCounts* misses, const ReadinessReport* readiness) {
    uint32_t cause = CAUSE_LATE_WAKEUP;
    for (uint32_t c : {CAUSE_PREEMPTED, CAUSE_THROTTLED, CAUSE_UNKNOWN}) {
        if (misses->by_cause[c] > misses->by_cause[cause]) {
            cause = c;
        }
    }
    if (cause == CAUSE_LATE_WAKEUP) {
        return "mostly late wake-ups" + explain(LATE, readiness);
    }
    if (cause == CAUSE_THROTTLED) {
        return "mostly from real-time throttling" + explain(THROTTLING, readiness);
    }
    if (cause == CAUSE_UNKNOWN) {
        return "mostly of unknown cause";
    }
    uint32_t source = SOURCE_THREAD;
    for (uint32_t s = 1; s < PREEMPT_SOURCES; ++s) {
        if (misses->preempted_by[s] > misses->preempted_by[source]) {
            source = s;
        }
    }
    if (source == SOURCE_HYPERVISOR) {
        return "mostly from the hypervisor" + explain(HYPERVISOR, readiness);
    }
    if (source == SOURCE_INTERRUPTS) {
        return "mostly from interrupts" + explain(INTERRUPTS, readiness);
    }
    if (source == SOURCE_THREAD) {
        return "mostly from other threads" + explain(THREADS, readiness);
    }
    return "mostly from preemptions the counters do not place" + explain(UNSAID, readiness);
}

std::string minutes_text(double minutes) {
    if (minutes < 1.0) {
        const auto seconds = static_cast<uint64_t>(std::lround(minutes * 60.0));
        return thousands(seconds) + (seconds == 1 ? " second" : " seconds");
    }
    uint64_t whole = static_cast<uint64_t>(std::lround(minutes));
    return thousands(whole) + (whole == 1 ? " minute" : " minutes");
}

std::string dropouts(const BufferVerdictInput* input, const ReadinessReport* readiness) {
    uint64_t total = miss_system_total(&input->misses);
    if (total == 0) {
        return "the idle system: no dropouts in " + minutes_text(input->minutes);
    }
    double rate = input->dropouts_per_minute;
    std::string how_often;
    if (rate > 0.0 && std::lround(1.0 / rate) >= 2) {
        how_often = "about 1 every " + thousands(static_cast<uint64_t>(std::lround(1.0 / rate))) +
                    " minutes";
    } else if (rate > 0.0) {
        how_often = "about " + thousands(static_cast<uint64_t>(std::max(1L, std::lround(rate)))) +
                    " a minute";
    } else {
        how_often = thousands(total) + " in " + minutes_text(input->minutes);
    }
    return "the idle system: dropouts " + how_often + ", " + main_cause(&input->misses, readiness);
}
} // namespace

std::string thousands(uint64_t value) {
    std::string digits = std::to_string(value);
    for (size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
}

std::string buffer_verdict(const BufferVerdictInput* input, const ReadinessReport* readiness) {
    std::string verdict = std::to_string(input->frames) + " samples";
    if (input->threads > 0) {
        verdict +=
            ", " + std::to_string(input->threads) + (input->threads == 1 ? " core" : " cores");
    }
    verdict += ": ";
    if (!input->idle_sustainable) {
        verdict += "nothing is held here, as the idle system alone missed more than 1 % of its "
                   "periods";
    } else {
        std::string words;
        for (const VerdictTest& test : input->tests) {
            words += (words.empty() ? "" : ", ") + test.name + " " +
                     (test.plays ? thousands(test.streams) + " plays" : test.refused);
        }
        verdict += words.empty() ? "no test run" : words;
    }
    return verdict + "; " + dropouts(input, readiness);
}

const char* readiness_state_name(ReadinessState state) {
    return state == READY_OK ? "ok" : state == READY_WARN ? "warn" : "unknown";
}

void print_readiness_text(FILE* out, const ReadinessReport* report) {
    std::fprintf(out, "Readiness for real-time audio\n");
    for (const ReadinessItem& item : report->items) {
        std::fprintf(out, "  %-9s %s: %s\n",
                     (std::string("[") + readiness_state_name(item.state) + "]").c_str(),
                     item.name.c_str(), item.value.c_str());
        std::fprintf(out, "            %s\n", item.advice.c_str());
        if (!item.effect.empty()) {
            std::fprintf(out, "            Measured: %s\n", item.effect.c_str());
        }
    }
    if (!report->root_note.empty()) {
        std::fprintf(out, "  %s\n", report->root_note.c_str());
    }
    std::fprintf(out, "\n");
}

nlohmann::ordered_json readiness_json(const ReadinessReport* report) {
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    for (const ReadinessItem& item : report->items) {
        nlohmann::ordered_json entry;
        entry["name"] = item.name;
        entry["state"] = readiness_state_name(item.state);
        entry["value"] = item.value;
        entry["advice"] = item.advice;
        entry["effect"] = item.effect.empty() ? nlohmann::ordered_json(nullptr)
                                              : nlohmann::ordered_json(item.effect);
        items.push_back(entry);
    }
    return items;
}
