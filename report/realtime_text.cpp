#include "report/realtime_report.h"

#include "report/hold_words.h"
#include "report/miss_words.h"
#include "report/offline_words.h"
#include "report/readiness_report.h"

#include <cinttypes>

const char* const NOT_SUSTAINABLE_TEXT = "not sustainable at this buffer on this system";

const char* test_state_text(RtTestState state) {
    switch (state) {
    case RT_NOT_RUN:
        return "not run";
    case RT_DONE:
        return "done";
    case RT_NONE_PLAYS:
        return "none plays";
    case RT_INTERRUPTED:
        return "stopped";
    case RT_NO_MEMORY:
        return "no memory";
    case RT_FAILED:
        return "failed";
    case RT_PLAYS:
        return "plays";
    case RT_DOES_NOT_PLAY:
        return "does not play";
    }
    return "unknown";
}

const char* search_end_key(SearchEnd end) {
    switch (end) {
    case END_MET:
        return "met";
    case END_CEILING:
        return "ceiling";
    case END_HOLDS:
        return "holds";
    case END_MEMORY:
        return "memory";
    case END_NONE:
        break;
    }
    return "none";
}

const char* search_end_text(SearchEnd end) {
    switch (end) {
    case END_MET:
        return "a count that played and one that failed met";
    case END_CEILING:
        return "the ceiling itself played";
    case END_HOLDS:
        return "the holds ran out before the two met";
    case END_MEMORY:
        return "the memory limit stopped it";
    case END_NONE:
        break;
    }
    return "it was stopped";
}

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
double ms(int64_t ns) {
    return static_cast<double>(ns) / 1e6;
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
        std::fprintf(out, "  %6u  %6.2f ms", config.frames, ms(config.period_ns));
        if (!config.idle_done) {
            std::fprintf(out, "   stopped before the idle system's run ended\n");
            continue;
        }
        if (!config.sustainable) {
            std::fprintf(out,
                         "   %s (idle: %" PRIu64 " of %" PRIu64
                         " periods missed, worst wake-up %.2f ms late)\n",
                         NOT_SUSTAINABLE_TEXT, config.idle.missed, config.idle.periods,
                         ms(config.idle.lateness.max));
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

void print_misses(FILE* out, const MissCounts* misses) {
    if (miss_total(misses) > 0) {
        std::fprintf(out, "    %-6s missed for: %s (%llu of them backed by the counters)\n", "",
                     miss_breakdown(misses).c_str(),
                     static_cast<unsigned long long>(misses->confirmed));
    }
}

void print_figures_row(FILE* out, const char* name, const RtFigures* figures) {
    const Histogram* p = &figures->processing;
    const Histogram* l = &figures->lateness;
    char missed[48];
    std::snprintf(missed, sizeof missed, "%" PRIu64 " of %" PRIu64, figures->missed,
                  figures->periods);
    std::fprintf(out, "    %-6s %8u  %-16s %7.3f %7.3f %7.3f %7.3f   %7.3f %7.3f %7.3f %7.3f\n",
                 name, figures->streams, missed, ms(histogram_percentile(p, P50)),
                 ms(histogram_percentile(p, P99)), ms(histogram_percentile(p, P999)), ms(p->max),
                 ms(histogram_percentile(l, P50)), ms(histogram_percentile(l, P99)),
                 ms(histogram_percentile(l, P999)), ms(l->max));
    const ServerFigures* server = &figures->server;
    if (server->measured) {
        char stated[64] = "";
        if (server->stated_end_known) {
            std::snprintf(stated, sizeof stated, "; %" PRIu64 " past the end it states",
                          server->stated_missed);
        }
        std::fprintf(out,
                     "    %-6s our load %.1f %% mean, %.1f %% worst; the server's own: load "
                     "%.1f %% mean, %.1f %% worst, %" PRIu64 " xruns%s\n",
                     "", server->our_load_mean, server->our_load_max, server->load_mean,
                     server->load_max, server->xruns, stated);
    }
    print_misses(out, &figures->misses);
}

// What a hold was judged on and what its periods show.
void print_hold_terms(FILE* out, const RtTestResult* test, const HoldShape* idle) {
    const HoldTerms* terms = &test->terms;
    std::fprintf(out,
                 "    %-6s hold of %g s after %" PRIu64 " warm-up periods: %" PRIu64
                 " missed, %" PRIu64 " allowed (the idle run missed %" PRIu64 " of %" PRIu64 ")\n",
                 "", terms->seconds, terms->warmup_periods, test->hold.missed, terms->allowance,
                 terms->idle_missed, terms->idle_periods);
    if (test->shape.periods > 0) {
        std::fprintf(out,
                     "    %-6s its periods: median %.3f ms; 99th %.2fx, 99.9th %.2fx, slowest "
                     "%.2fx the median\n",
                     "", ms(test->shape.spread.p50_ns), test->shape.spread.p99,
                     test->shape.spread.p999, test->shape.spread.max);
    }
    for (const std::string& sentence : hold_limit_sentences(&test->shape, idle)) {
        std::fprintf(out, "    %-6s %s\n", "", sentence.c_str());
    }
    const std::string gap = median_gap_sentence(test, idle);
    if (!gap.empty()) {
        std::fprintf(out, "    %-6s %s\n", "", gap.c_str());
    } else if (test->median_fits > 0) {
        std::fprintf(out, "    %-6s its median period would just fit %u\n", "", test->median_fits);
    }
}

void print_details(FILE* out, const RtPlan* plan, const RtRunResult* result) {
    std::fprintf(out, "Details: processing time and wake-up lateness in ms, "
                      "50th / 99th / 99.9th percentile / maximum\n");
    for (const RtConfigResult& config : result->configs) {
        std::fprintf(out, "\n  Buffer %u at %u Hz, period %.3f ms, %u core%s%s\n", config.frames,
                     plan->rate, ms(config.period_ns), config.threads,
                     config.threads == 1 ? "" : "s",
                     plan->clock == RT_CLOCK_SERVER ? ", in the server's cycle" : "");
        std::fprintf(out, "    %-6s %8s  %-16s %-31s   %s\n", "", "streams", "periods missed",
                     "processing", "wake-up lateness");
        if (config.idle.periods > 0) {
            print_figures_row(out, "idle", &config.idle);
            for (const std::string& sentence : hold_limit_sentences(&config.idle_shape, nullptr)) {
                std::fprintf(out, "    %-6s %s\n", "", sentence.c_str());
            }
        }
        if (config.harness_cpu_ns_per_period >= 0) {
            std::fprintf(
                out, "    %-6s harness cost: %.2f us of processor time a period (%.3f %% of it)\n",
                "", static_cast<double>(config.harness_cpu_ns_per_period) / 1e3,
                100.0 * static_cast<double>(config.harness_cpu_ns_per_period) /
                    static_cast<double>(config.period_ns));
        }
        for (uint32_t t = 0; t < plan->loads.size(); ++t) {
            const RtTestResult* test = &config.tests[t];
            const std::string label = load_label(&plan->loads[t]);
            if (test->state == RT_NOT_RUN) {
                continue;
            }
            if (test->state == RT_FAILED && test->kernel_ns_per_sample <= 0.0) {
                const RtLoad* load = &plan->loads[t];
                if (test->failure[0] != '\0') {
                    std::fprintf(out, "    %-6s failed: %s, in its trials' process\n",
                                 label.c_str(), test->failure);
                } else {
                    std::fprintf(out, "    %-6s failed: %s\n", label.c_str(),
                                 load->failed ? load->failure.c_str()
                                              : "the driver could not go on");
                }
                continue;
            }
            if (test->hold.periods > 0) {
                print_figures_row(out, label.c_str(), &test->hold);
                print_hold_terms(out, test, &config.idle_shape);
                if (test->state != RT_DONE) {
                    std::fprintf(out, "    %-6s %s: %s\n", "", test_state_text(test->state),
                                 test->state == RT_FAILED ? "the server could not go on; above, "
                                                            "the last hold"
                                 : test->state == RT_PLAYS
                                     ? "the hold above missed no more periods than its allowance"
                                     : "the last hold above missed more periods than its "
                                       "allowance");
                }
            } else if (test->state == RT_DONE) {
                std::fprintf(out, "    %-6s %8u  even the fewest streams missed in a short trial\n",
                             label.c_str(), 0u);
            } else {
                std::fprintf(out, "    %-6s %s\n", label.c_str(), test_state_text(test->state));
            }
            std::fprintf(out,
                         "    %-6s kernel alone %.3f ns a sample: at most %u streams; searched up "
                         "to %u%s in %u trials\n",
                         "", test->kernel_ns_per_sample, test->kernel_bound, test->search_bound,
                         test->memory_capped      ? " (memory cap)"
                         : test->instances_capped ? " (instance cap)"
                                                  : "",
                         test->trials);
            if (test->per_stream_ns > 0.0 && test->tail_ratio > 0.0) {
                std::fprintf(out,
                             "    %-6s processing time about (%.1f us + %.2f ns a stream) x a "
                             "spread whose tail at the hold's odds is %.3f\n",
                             "", test->fixed_ns / 1e3, test->per_stream_ns, test->tail_ratio);
            } else if (test->per_stream_ns > 0.0) {
                std::fprintf(out, "    %-6s processing time about %.1f us + %.2f ns a stream\n", "",
                             test->fixed_ns / 1e3, test->per_stream_ns);
            }
            if (test->worker.jobs > 0 || test->worker.refused > 0) {
                std::fprintf(
                    out,
                    "    %-6s worker, outside the periods: %" PRIu64
                    " jobs, %.3f ms in all, the longest %.3f ms, %" PRIu64 " refused\n",
                    "", test->worker.jobs, static_cast<double>(test->worker.total_ns) / 1e6,
                    static_cast<double>(test->worker.longest_ns) / 1e6, test->worker.refused);
            }
            if (test->denormals_lost > 0) {
                std::fprintf(
                    out,
                    "    %-6s denormals: flush-to-zero was off after %u of its %u trials (the "
                    "plugins turned it off): those periods may run slower\n",
                    "", test->denormals_lost, test->trials);
            }
            if (test->log[0] != '\0') {
                std::fprintf(out, "    %-6s the plugins logged: %s\n", "", test->log);
            }
            const std::string settled = settle_words(&plan->loads[t], test);
            if (!settled.empty()) {
                std::fprintf(out, "    %-6s offline: %s, its output %s\n", "", settled.c_str(),
                             output_shape_name(test->offline_output));
            }
            if (test->stream_ns_in_confirm > 0.0) {
                std::fprintf(out,
                             "    %-6s one stream a period: %.2f us offline, %.2f us inside the "
                             "hold (%.2fx)\n",
                             "", test->stream_ns_offline / 1e3, test->stream_ns_in_confirm / 1e3,
                             test->stream_ns_in_confirm / test->stream_ns_offline);
            }
            if (test->state == RT_DONE && test->kernel_bound > 0) {
                std::fprintf(out,
                             "    %-6s held %u streams, known within %u, %.2f of the kernel-alone "
                             "bound; stopped as %s\n",
                             "", test->plays, test->resolution,
                             static_cast<double>(test->plays) / test->kernel_bound,
                             search_end_text(test->search_end));
            }
            if (test->speed_spread > 0.0) {
                std::fprintf(out,
                             "    %-6s the slowest trial took %.2fx the fastest's time a stream\n",
                             "", test->speed_spread);
            }
            if (test->kernel_ns_after > 0.0) {
                std::fprintf(out, "    %-6s kernel alone after the search %.3f ns a sample\n", "",
                             test->kernel_ns_after);
            }
            if (miss_total(&test->misses) > 0) {
                std::fprintf(out, "    %-6s every trial's misses: %s\n", "",
                             miss_breakdown(&test->misses).c_str());
            }
        }
    }
    std::fprintf(out, "\n");
}
} // namespace

namespace {
// Each chain's offline cost of one instance a block over the run's buffer
// sizes, as a line A + B·n.
void print_cost_lines(FILE* out, const RtPlan* plan, const RtRunResult* result) {
    bool heading = false;
    for (uint32_t l = 0; l < plan->loads.size(); ++l) {
        if (plan->loads[l].kind != RT_PLUGINS) {
            continue;
        }
        const std::vector<PluginCost> costs = load_costs(result, l);
        if (costs.empty()) {
            continue;
        }
        if (!heading) {
            std::fprintf(out, "One instance a block, offline, over the buffer sizes run\n");
            heading = true;
        }
        const PluginCostLine line = plugin_cost_line(costs);
        std::fprintf(out, "  %-16s %.2f us + %.2f ns a sample", load_label(&plan->loads[l]).c_str(),
                     line.a_ns / 1e3, line.b_ns_per_sample);
        for (const PluginCost& cost : costs) {
            std::fprintf(out, "; %u: %.2f us", cost.frames, cost.ns_per_block / 1e3);
        }
        std::fprintf(out, "\n");
    }
    if (heading) {
        std::fprintf(out, "\n");
    }
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
    print_details(out, plan, result);
    print_cost_lines(out, plan, result);
    if (result->stop_signal != 0) {
        std::fprintf(out, "Stopped by signal %d: the figures above are what was measured.\n",
                     result->stop_signal);
    }
}
