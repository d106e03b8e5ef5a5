// The real-time mode's text report: the set-up and the plan, the table of
// streams per buffer size and test, the verdicts, then the details.
#include "report/realtime_report.h"

#include "report/buffer_summary.h"
#include "report/hold_words.h"
#include "report/load_label.h"
#include "report/readiness_report.h"
#include "report/realtime_details.h"
#include "report/realtime_words.h"

namespace {
// A chain of plugins under the plan: its name, its plugins' URIs, what it
// hears, and validation's flags or failure.
void print_plugin_load(FILE* out, const RtLoad* load) {
    std::fprintf(out, "  %s: %s (", load->key.c_str(), load->name.c_str());
    for (size_t p = 0; p < load->order.uris.size(); ++p) {
        std::fprintf(out, "%s%s", p > 0 ? " + " : "", load->order.uris[p].c_str());
    }
    std::fprintf(out, "); input %s", PLUGIN_INPUT_NAMES[load->order.input]);
    if (!load->wiring.empty()) {
        std::fprintf(out, "\n    wiring: %s", load->wiring.c_str());
    }
    if (!load->heard.empty()) {
        std::fprintf(out, "\n    hears: %s", load->heard.c_str());
    }
    if (load->failed) {
        std::fprintf(out, "; failed: %s", load->failure.c_str());
    } else if (!load->flags.empty()) {
        std::fprintf(out, "; flagged: %s", load->flags.c_str());
    }
    std::fprintf(out, "\n");
}
void print_step(FILE* out, const char* name, const RtStep* step) {
    std::fprintf(out, "  %-11s %s\n", name, step->note);
}

void print_setup(FILE* out, const RtPlan* plan, const RtRunResult* result) {
    std::fprintf(out, "Real-time set-up\n");
    print_step(out, "memory:", &result->memory_lock);
    print_step(out, "cores:", &result->cores);
    print_step(out, "idle:", &result->idle_states);
    if (result->memory_limit_bytes > 0) {
        char source[48] = "--memory";
        if (plan->memory_gb <= 0.0) {
            std::snprintf(source, sizeof source, "%.0f %% of the memory available",
                          MEMORY_SHARE * 100.0);
        }
        std::fprintf(out, "  %-11s %.1f GB for each plugin load's process (%s)\n",
                     "limit:", static_cast<double>(result->memory_limit_bytes) / BYTES_PER_GB,
                     source);
    }
    if (result->thread_steps_known) {
        const ThreadSteps* steps = &result->thread_steps;
        print_step(out, "priority:", &steps->priority);
        print_step(out, "timer:", &steps->timer);
        print_step(out, "slack:", &steps->slack);
        print_step(out, "denormals:", &steps->denormals);
        print_step(out, "pinning:", &steps->pin);
    }
    std::fprintf(out, "Plan: %u Hz; buffers", plan->rate);
    for (uint32_t frames : plan->buffers) {
        std::fprintf(out, " %u", frames);
    }
    std::fprintf(out, "; tests");
    for (const RtLoad& load : plan->loads) {
        std::fprintf(out, " %s", load_label(&load).c_str());
    }
    std::fprintf(out, "; confirm %g s, idle %g s, misses allowed %g %%\n", plan->confirm_seconds,
                 plan->idle_seconds, plan->allowed_miss_fraction * 100.0);
    for (const RtLoad& load : plan->loads) {
        if (load.kind == RT_PLUGINS) {
            print_plugin_load(out, &load);
        }
    }
    if (plan->clock == RT_CLOCK_SERVER) {
        std::fprintf(out,
                     "Clock: the %s server's process cycle, at its buffer size and rate; our "
                     "output port %s%s.\n"
                     "One core: the server's one thread runs every stream (one callback cannot "
                     "spread them over cores).\n",
                     plan->server_name.c_str(),
                     !plan->server_output.empty() ? "connected to " : "connected to nothing",
                     plan->server_output.c_str());
    }
    std::fprintf(out, "\n");
}

// A count with its headroom: "9512 (headroom 7610)", "372 (no headroom)".
void count_text(const char* count, uint32_t headroom, const char* headroom_text, char* text,
                size_t size) {
    if (headroom == 0) {
        std::snprintf(text, size, "%s (no headroom)", count);
    } else {
        std::snprintf(text, size, "%s (headroom %s)", count, headroom_text);
    }
}

// The cell of one test: "9512 (headroom 7610)", or why there is no figure.
void format_cell(const RtTestResult* test, char* text, size_t size) {
    if (test->state == RT_PLAYS || test->state == RT_DOES_NOT_PLAY) {
        std::snprintf(text, size, "%s", test_state_text(test->state));
        return;
    }
    if (test->state != RT_DONE) {
        std::snprintf(text, size, "%s",
                      test->state == RT_NOT_RUN ? "-" : test_state_text(test->state));
        return;
    }
    bool at_cap =
        (test->memory_capped || test->instances_capped) && test->plays >= test->search_bound;
    char count[24];
    char headroom[24];
    std::snprintf(count, sizeof count, "%s%u", at_cap ? ">=" : "", test->plays);
    std::snprintf(headroom, sizeof headroom, "%u", test->headroom);
    count_text(count, test->headroom, headroom, text, size);
}

void print_processors(FILE* out, const RtPlan* plan, const RtConfigResult* config) {
    if (plan->clock == RT_CLOCK_SERVER) {
        std::fprintf(out, "1 core: the %s server's thread\n", plan->server_name.c_str());
        return;
    }
    std::fprintf(out, "%u core%s (processor%s", config->threads, config->threads == 1 ? "" : "s",
                 config->threads == 1 ? "" : "s");
    for (uint32_t t = 0; t < config->threads; ++t) {
        std::fprintf(out, "%s %u", t == 0 ? "" : ",", config->processors[t]);
    }
    std::fprintf(out, ")%s\n", config->threads == 1 ? "" : ", the streams split evenly");
}

// One core's share, or the range of them when the split is uneven.
void share_text(const uint32_t* shares, uint32_t threads, char* text, size_t size) {
    uint32_t low = shares[0];
    uint32_t high = shares[0];
    for (uint32_t t = 1; t < threads; ++t) {
        low = shares[t] < low ? shares[t] : low;
        high = shares[t] > high ? shares[t] : high;
    }
    if (low == high) {
        std::snprintf(text, size, "%u", low);
    } else {
        std::snprintf(text, size, "%u-%u", low, high);
    }
}

void print_table(FILE* out, const RtPlan* plan, const RtRunResult* result) {
    if (plan->fixed_streams > 0) {
        std::fprintf(out,
                     "Does a load of %u streams play at %u Hz? Run together every period "
                     "through a %g s hold,\nwith %s%s?\n",
                     plan->fixed_streams, plan->rate, plan->confirm_seconds,
                     hold_claim_text(plan->confirm_seconds).c_str(),
                     plan->allowed_miss_fraction > 0.0 ? " (or the misses allowed)" : "");
    } else {
        std::fprintf(out,
                     "Streams that play at %u Hz: run together every period through a %g s "
                     "hold with\n%s%s. The headroom: the largest count\nwhose worst period "
                     "took at most %d %% of it.\n",
                     plan->rate, plan->confirm_seconds,
                     hold_claim_text(plan->confirm_seconds).c_str(),
                     plan->allowed_miss_fraction > 0.0 ? " (or the misses allowed)" : "",
                     static_cast<int>(HEADROOM_PERCENT));
    }
    uint32_t threads = 0;
    for (const RtConfigResult& config : result->configs) {
        if (config.threads != threads) {
            threads = config.threads;
            std::fprintf(out, "\n");
            print_processors(out, plan, &config);
            std::fprintf(out, "  %6s  %9s", "Buffer", "Latency");
            for (const RtLoad& load : plan->loads) {
                std::fprintf(out, "   %-22s", load_label(&load).c_str());
            }
            std::fprintf(out, "\n");
        }
        std::fprintf(out, "  %6u  %6.2f ms", config.frames, ns_to_ms(config.period_ns));
        if (!config.idle_done) {
            std::fprintf(out, "   stopped before the idle system's run ended\n");
            continue;
        }
        if (!config.sustainable) {
            std::fprintf(out, "   %s (idle: %s)\n", NOT_SUSTAINABLE_TEXT,
                         idle_floor_text(&config.idle).c_str());
            continue;
        }
        for (uint32_t l = 0; l < plan->loads.size(); ++l) {
            char cell[64];
            format_cell(&config.tests[l], cell, sizeof cell);
            std::fprintf(out, "   %-22s", cell);
        }
        std::fprintf(out, "\n");
        if (config.threads > 1 && plan->fixed_streams == 0) {
            std::fprintf(out, "  %17s", "per core");
            for (uint32_t l = 0; l < plan->loads.size(); ++l) {
                const RtTestResult* test = &config.tests[l];
                char cell[64] = "-";
                if (test->state == RT_DONE) {
                    char streams[20];
                    char headroom[20];
                    share_text(test->per_core, config.threads, streams, sizeof streams);
                    share_text(test->headroom_per_core, config.threads, headroom, sizeof headroom);
                    count_text(streams, test->headroom, headroom, cell, sizeof cell);
                }
                std::fprintf(out, "   %-22s", cell);
            }
            std::fprintf(out, "\n");
        }
    }
    std::fprintf(out, "\n");
}

// One sentence per buffer size and core count: what fits, and the system's
// own dropouts there, never folded into the figure.
void print_verdicts(FILE* out, const RtPlan* plan, const RtRunResult* result,
                    const ReadinessReport* readiness) {
    std::fprintf(out, "Verdicts\n");
    for (const RtConfigResult& config : result->configs) {
        std::fprintf(out, "  %s\n", buffer_summary(plan, &config, readiness).c_str());
    }
    std::fprintf(out, "\n");
}

} // namespace

void print_realtime_text(FILE* out, const MachineReport* machine, const RtPlan* plan,
                         const RtRunResult* result, const ReadinessReport* readiness) {
    print_machine_text(out, machine);
    print_setup(out, plan, result);
    if (!result->failure.empty()) {
        std::fprintf(out, "The run could not go on: %s\n\n", result->failure.c_str());
    }
    print_table(out, plan, result);
    print_verdicts(out, plan, result, readiness);
    print_readiness_text(out, readiness);
    print_realtime_details(out, plan, result);
    print_realtime_cost_lines(out, plan, result);
    if (result->stop_signal != 0) {
        std::fprintf(out, "Stopped by signal %d: the figures above are what was measured.\n",
                     result->stop_signal);
    }
}
