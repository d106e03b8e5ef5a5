// The real-time mode's JSON document; its schema is in docs/json-reports.md.
#include "report/realtime_report.h"

#include "report/buffer_summary.h"
#include "report/hold_words.h"
#include "report/load_costs.h"
#include "report/miss_words.h"
#include "report/offline_words.h"
#include "report/readiness_report.h"
#include "report/realtime_words.h"

#include <cctype>

using Json = nlohmann::ordered_json;

namespace {
Json step_json(const RtStep* step) {
    return Json{{"done", step->done != 0}, {"note", step->note}};
}

Json percentiles_json(const Histogram* histogram) {
    if (histogram->count == 0) {
        return nullptr;
    }
    return Json{{"p50", histogram_percentile(histogram, P50)},
                {"p99", histogram_percentile(histogram, P99)},
                {"p999", histogram_percentile(histogram, P999)},
                {"max", histogram->max}};
}

// The server's own figures beside ours; null on our own clock.
Json server_json(const ServerFigures* server) {
    if (!server->measured) {
        return nullptr;
    }
    return Json{
        {"our_load_percent", {{"mean", server->our_load_mean}, {"max", server->our_load_max}}},
        {"load_percent", {{"mean", server->load_mean}, {"max", server->load_max}}},
        {"xruns", server->xruns},
        {"missed_by_stated_end",
         server->stated_end_known ? Json(server->stated_missed) : Json(nullptr)}};
}

Json figures_json(const RtFigures* figures) {
    if (figures->periods == 0) {
        return nullptr;
    }
    return Json{{"streams", figures->streams},
                {"periods", figures->periods},
                {"missed", figures->missed},
                {"processing_ns", percentiles_json(&figures->processing)},
                {"lateness_ns", percentiles_json(&figures->lateness)},
                {"misses", misses_json(&figures->misses)},
                {"server", server_json(&figures->server)}};
}

// The spread of a hold's periods: the median in microseconds, the rest
// over it.
Json spread_json(const HoldShape* shape) {
    if (shape->periods == 0) {
        return nullptr;
    }
    return Json{{"p50_us", static_cast<double>(shape->spread.p50_ns) / 1e3},
                {"p99", shape->spread.p99},
                {"p999", shape->spread.p999},
                {"max", shape->spread.max}};
}

// The hold the count rests on (or the last that failed), with the terms it
// was judged on.
Json hold_json(const RtTestResult* test, const HoldShape* idle) {
    Json hold = figures_json(&test->hold);
    if (hold.is_null()) {
        return hold;
    }
    const HoldTerms* terms = &test->terms;
    hold["seconds"] = terms->seconds;
    hold["warmup_periods"] = terms->warmup_periods;
    hold["allowance"] = terms->allowance;
    hold["idle_periods"] = terms->idle_periods;
    hold["idle_missed"] = terms->idle_missed;
    hold["claim"] = hold_claim_text(terms->seconds);
    hold["spread"] = spread_json(&test->shape);
    hold["limits"] = hold_limit_sentences(&test->shape, idle);
    return hold;
}

// Beside a count that played, the search's hold at the lowest count that
// failed: what stopped it going higher.
Json failed_hold_json(const RtTestResult* test, const HoldShape* idle) {
    if (test->state != RT_DONE || test->failed_at == 0) {
        return nullptr;
    }
    Json hold = figures_json(&test->failed_hold);
    if (!hold.is_null()) {
        hold["spread"] = spread_json(&test->failed_shape);
        hold["limits"] = hold_limit_sentences(&test->failed_shape, idle);
    }
    return hold;
}

Json test_json(const RtTestResult* test, uint32_t threads, const HoldShape* idle) {
    bool done = test->state == RT_DONE;
    bool counted = done || test->state == RT_PLAYS;
    Json per_core = Json::array();
    for (uint32_t t = 0; t < threads && done; ++t) {
        per_core.push_back(test->per_core[t]);
    }
    const std::string gap = median_gap_sentence(test, idle);
    return Json{
        {"state", test_state_text(test->state)},
        {"plays", counted ? Json(test->plays) : Json(nullptr)},
        {"streams", counted ? Json(test->plays) : Json(nullptr)},
        {"asked", test->state == RT_PLAYS || test->state == RT_DOES_NOT_PLAY ? Json(test->plays)
                                                                             : Json(nullptr)},
        {"median_fits", test->median_fits > 0 ? Json(test->median_fits) : Json(nullptr)},
        {"median_gap", gap.empty() ? Json(nullptr) : Json(gap)},
        {"headroom", done ? Json(test->headroom) : Json(nullptr)},
        {"per_core", per_core},
        {"kernel_ns_per_sample",
         test->kernel_ns_per_sample > 0.0 ? Json(test->kernel_ns_per_sample) : Json(nullptr)},
        {"kernel_ns_per_sample_after",
         test->kernel_ns_after > 0.0 ? Json(test->kernel_ns_after) : Json(nullptr)},
        {"kernel_bound", test->kernel_bound},
        {"search_bound", test->search_bound},
        {"memory_capped", test->memory_capped},
        {"instances_capped", test->instances_capped},
        {"memory_refused_at",
         test->memory_refused_at > 0 ? Json(test->memory_refused_at) : Json(nullptr)},
        {"memory_used_bytes",
         test->memory_used_bytes > 0 ? Json(test->memory_used_bytes) : Json(nullptr)},
        {"memory_prepared",
         test->memory_prepared > 0 ? Json(test->memory_prepared) : Json(nullptr)},
        {"trials", test->trials},
        {"holds", test->holds},
        {"crash_signal", test->crash_signal != 0 ? Json(test->crash_signal) : Json(nullptr)},
        {"failure", test->failure[0] != '\0' ? Json(test->failure) : Json(nullptr)},
        {"stream_ns_offline",
         test->stream_ns_offline > 0.0 ? Json(test->stream_ns_offline) : Json(nullptr)},
        {"stream_ns_in_hold",
         test->stream_ns_in_confirm > 0.0 ? Json(test->stream_ns_in_confirm) : Json(nullptr)},
        {"offline_settle", test->offline_settle_blocks > 0
                               ? Json{{"blocks", test->offline_settle_blocks},
                                      {"settled", test->offline_settled},
                                      {"output", output_shape_name(test->offline_output)}}
                               : Json(nullptr)},
        {"harness_ns_per_stream",
         test->harness_ns_per_stream > 0.0 ? Json(test->harness_ns_per_stream) : Json(nullptr)},
        {"worker", test->worker.jobs > 0 || test->worker.refused > 0
                       ? Json{{"jobs", test->worker.jobs},
                              {"total_ns", test->worker.total_ns},
                              {"longest_ns", test->worker.longest_ns},
                              {"refused", test->worker.refused}}
                       : Json(nullptr)},
        {"log", test->log[0] != '\0' ? Json(test->log) : Json(nullptr)},
        {"denormals_lost", test->denormals_lost},
        {"misses", misses_json(&test->misses)},
        {"model",
         test->per_stream_ns > 0.0
             ? Json{{"fixed_ns", test->fixed_ns},
                    {"per_stream_ns", test->per_stream_ns},
                    {"tail_ratio", test->tail_ratio},
                    {"resolution", test->resolution},
                    {"end", search_end_key(test->search_end)},
                    {"failed_at", test->failed_at > 0 ? Json(test->failed_at) : Json(nullptr)},
                    {"of_kernel_bound", test->kernel_bound > 0 && done
                                            ? Json(kernel_bound_share(test))
                                            : Json(nullptr)},
                    {"speed_spread",
                     test->speed_spread > 0.0 ? Json(test->speed_spread) : Json(nullptr)}}
             : Json(nullptr)},
        {"hold", hold_json(test, idle)},
        {"failed_hold", failed_hold_json(test, idle)}};
}

// A load as the plan gives it: a ZEM test, or a chain of plugins with its
// URIs, settings, input and validation's word.
Json load_json(const RtLoad* load) {
    Json entry{{"key", load->key},
               {"name", load->name},
               {"kind", load->kind == RT_PLUGINS ? "plugins" : "zem"}};
    if (load->kind != RT_PLUGINS) {
        return entry;
    }
    entry["uris"] = load->order.uris;
    entry["settings"] = load->order.settings;
    entry["preset"] = load->order.preset.empty() ? Json(nullptr) : Json(load->order.preset);
    entry["input"] = PLUGIN_INPUT_NAMES[load->order.input];
    entry["validation"] = load->failed ? "failed" : load->flags.empty() ? "passed" : "flagged";
    entry["flags"] = load->flags.empty() ? Json(nullptr) : Json(load->flags);
    entry["failure"] = load->failure.empty() ? Json(nullptr) : Json(load->failure);
    entry["wiring"] = load->wiring.empty() ? Json(nullptr) : Json(load->wiring);
    entry["hears"] = load->heard.empty() ? Json(nullptr) : Json(load->heard);
    entry["log"] = load->log.empty() ? Json(nullptr) : Json(load->log);
    return entry;
}

Json config_json(const RtPlan* plan, const RtConfigResult* config,
                 const ReadinessReport* readiness) {
    Json processors = Json::array(); // none of ours inside a server: its thread runs them
    for (uint32_t t = 0; t < config->threads && plan->clock == RT_CLOCK_OWN; ++t) {
        processors.push_back(config->processors[t]);
    }
    Json idle = figures_json(&config->idle);
    if (!idle.is_null()) {
        idle["spread"] = spread_json(&config->idle_shape);
        idle["limits"] = hold_limit_sentences(&config->idle_shape, nullptr);
        idle["harness_cpu_ns_per_period"] = config->harness_cpu_ns_per_period >= 0
                                                ? Json(config->harness_cpu_ns_per_period)
                                                : Json(nullptr);
    }
    Json tests = Json::object();
    for (uint32_t l = 0; l < plan->loads.size(); ++l) {
        tests[plan->loads[l].key] =
            test_json(&config->tests[l], config->threads, &config->idle_shape);
    }
    const char* verdict = !config->idle_done    ? "stopped"
                          : config->sustainable ? "sustainable"
                                                : NOT_SUSTAINABLE_TEXT;
    return Json{{"buffer", config->frames},
                {"period_ns", config->period_ns},
                {"cores", config->threads},
                {"processors", processors},
                {"idle", idle},
                {"verdict", verdict},
                {"dropouts",
                 {{"minutes", config->dropout_minutes},
                  {"per_minute", config->dropouts_per_minute},
                  {"misses", misses_json(&config->dropouts)}}},
                {"summary", buffer_summary(plan, config, readiness)},
                {"tests", tests}};
}
} // namespace

Json realtime_json(const MachineReport* machine, const RtPlan* plan, const RtRunResult* result,
                   const ReadinessReport* readiness) {
    Json tests = Json::array();
    for (RtTestKind test : plan->tests) {
        tests.push_back(TEST_JSON_NAMES[test]);
    }
    Json loads = Json::array();
    for (uint32_t l = 0; l < plan->loads.size(); ++l) {
        Json load = load_json(&plan->loads[l]);
        const std::vector<PluginCost> costs = load_costs(result, l);
        if (plan->loads[l].kind == RT_PLUGINS && !costs.empty()) {
            const PluginCostLine line = plugin_cost_line(costs);
            load["cost_line"] =
                Json{{"a_ns", line.a_ns}, {"b_ns_per_sample", line.b_ns_per_sample}};
        }
        loads.push_back(load);
    }
    Json cores = Json::array();
    for (uint32_t choice : plan->core_choices) {
        cores.push_back(choice == ALL_CORES ? Json("all") : Json(choice));
    }
    std::string clock = "own";
    if (plan->clock == RT_CLOCK_SERVER) {
        clock.clear();
        for (char c : plan->server_name) {
            clock += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    Json setup{{"memory_lock", step_json(&result->memory_lock)},
               {"cores", step_json(&result->cores)},
               {"idle_states", step_json(&result->idle_states)}};
    if (result->thread_steps_known) {
        const ThreadSteps* steps = &result->thread_steps;
        setup["priority"] = step_json(&steps->priority);
        setup["timer"] = step_json(&steps->timer);
        setup["timer_slack"] = step_json(&steps->slack);
        setup["denormals"] = step_json(&steps->denormals);
        setup["pinning"] = step_json(&steps->pin);
    }
    Json runs = Json::array();
    for (const RtConfigResult& config : result->configs) {
        runs.push_back(config_json(plan, &config, readiness));
    }
    return Json{
        {"schema_version", REPORT_SCHEMA_VERSION},
        {"machine", machine_json(machine)},
        {"mode", "realtime"},
        {"plan",
         {{"rate", plan->rate},
          {"buffers", plan->buffers},
          {"tests", tests},
          {"loads", loads},
          {"cores", cores},
          {"confirm_seconds", plan->confirm_seconds},
          {"idle_seconds", plan->idle_seconds},
          {"allowed_miss_fraction", plan->allowed_miss_fraction},
          {"streams", plan->fixed_streams > 0 ? Json(plan->fixed_streams) : Json(nullptr)},
          {"hold_idle_states", plan->hold_idle_states},
          {"memory_limit_bytes",
           result->memory_limit_bytes > 0 ? Json(result->memory_limit_bytes) : Json(nullptr)},
          {"clock", clock},
          {"output", !plan->server_output.empty() ? Json(plan->server_output) : Json(nullptr)}}},
        {"setup", setup},
        {"readiness", readiness_json(readiness)},
        {"root_note", readiness->root_note.empty() ? Json(nullptr) : Json(readiness->root_note)},
        {"runs", runs},
        {"failure", !result->failure.empty() ? Json(result->failure) : Json(nullptr)},
        {"signal", result->stop_signal != 0 ? Json(result->stop_signal) : Json(nullptr)}};
}
