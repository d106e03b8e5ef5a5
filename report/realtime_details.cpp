// The real-time text report's details: per run, each trial's processing
// time and lateness, the terms of its hold and what its search found; then
// each chain's offline cost line.
#include "report/realtime_details.h"

#include "report/hold_words.h"
#include "report/load_costs.h"
#include "report/load_label.h"
#include "report/miss_words.h"
#include "report/offline_words.h"
#include "report/realtime_words.h"

#include <cinttypes>
#include <cstring>

namespace {
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
                 name, figures->streams, missed, ns_to_ms(histogram_percentile(p, P50)),
                 ns_to_ms(histogram_percentile(p, P99)), ns_to_ms(histogram_percentile(p, P999)),
                 ns_to_ms(p->max), ns_to_ms(histogram_percentile(l, P50)),
                 ns_to_ms(histogram_percentile(l, P99)), ns_to_ms(histogram_percentile(l, P999)),
                 ns_to_ms(l->max));
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

// Bytes of a plugin's log line, its control characters as \xNN.
void print_escaped(FILE* out, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f) {
            std::fprintf(out, "\\x%02x", byte);
        } else {
            std::fputc(byte, out);
        }
    }
}

// The plugins' log as one block of the details: its first line beside the
// words, the rest indented under it, blank lines left out, so that what a
// plugin prints cannot break the report's layout.
void print_log(FILE* out, const char* log) {
    std::fprintf(out, "    %-6s the plugins logged:", "");
    bool first = true;
    for (const char* line = log; *line != '\0'; line += std::strspn(line, "\r\n")) {
        const size_t length = std::strcspn(line, "\r\n");
        if (length == 0) {
            continue;
        }
        if (first) {
            std::fputc(' ', out);
        } else {
            std::fprintf(out, "\n    %-6s   ", "");
        }
        print_escaped(out, line, length);
        first = false;
        line += length;
    }
    std::fputc('\n', out);
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
                     "", ns_to_ms(test->shape.spread.p50_ns), test->shape.spread.p99,
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

// One test's hold at one buffer size and core count, or why it has none;
// false when the test did not run or failed before its search.
bool print_test_outcome(FILE* out, const RtPlan* plan, const RtConfigResult* config, uint32_t t) {
    const RtTestResult* test = &config->tests[t];
    const std::string label = load_label(&plan->loads[t]);
    if (test->state == RT_NOT_RUN) {
        return false;
    }
    if (test->state == RT_FAILED && test->kernel_ns_per_sample <= 0.0) {
        const RtLoad* load = &plan->loads[t];
        if (test->failure[0] != '\0') {
            std::fprintf(out, "    %-6s failed: %s, in its trials' process\n", label.c_str(),
                         test->failure);
        } else {
            std::fprintf(out, "    %-6s failed: %s\n", label.c_str(),
                         load->failed ? load->failure.c_str() : "the driver could not go on");
        }
        return false;
    }
    if (test->hold.periods > 0) {
        print_figures_row(out, label.c_str(), &test->hold);
        print_hold_terms(out, test, &config->idle_shape);
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
    return true;
}

// What a test's search found: the kernel alone, the model of its cost, what
// the plugins did besides, and how the count was reached.
void print_search_lines(FILE* out, const RtLoad* load, const RtTestResult* test) {
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
        std::fprintf(out,
                     "    %-6s worker, outside the periods: %" PRIu64
                     " jobs, %.3f ms in all, the longest %.3f ms, %" PRIu64 " refused\n",
                     "", test->worker.jobs, static_cast<double>(test->worker.total_ns) / 1e6,
                     static_cast<double>(test->worker.longest_ns) / 1e6, test->worker.refused);
    }
    if (test->denormals_lost > 0) {
        std::fprintf(out,
                     "    %-6s denormals: flush-to-zero was off after %u of its %u trials (the "
                     "plugins turned it off): those periods may run slower\n",
                     "", test->denormals_lost, test->trials);
    }
    if (test->log[0] != '\0') {
        print_log(out, test->log);
    }
    const std::string settled = settle_words(load, test);
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
                     "", test->plays, test->resolution, kernel_bound_share(test),
                     search_end_text(test->search_end));
    }
    if (test->speed_spread > 0.0) {
        std::fprintf(out, "    %-6s the slowest trial took %.2fx the fastest's time a stream\n", "",
                     test->speed_spread);
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
} // namespace

void print_realtime_details(FILE* out, const RtPlan* plan, const RtRunResult* result) {
    std::fprintf(out, "Details: processing time and wake-up lateness in ms, "
                      "50th / 99th / 99.9th percentile / maximum\n");
    for (const RtConfigResult& config : result->configs) {
        std::fprintf(out, "\n  Buffer %u at %u Hz, period %.3f ms, %u core%s%s\n", config.frames,
                     plan->rate, ns_to_ms(config.period_ns), config.threads,
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
            if (print_test_outcome(out, plan, &config, t)) {
                print_search_lines(out, &plan->loads[t], &config.tests[t]);
            }
        }
    }
    std::fprintf(out, "\n");
}

void print_realtime_cost_lines(FILE* out, const RtPlan* plan, const RtRunResult* result) {
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
