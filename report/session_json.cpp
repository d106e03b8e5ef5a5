// A session's report as one JSON document.
#include "report/session_report.h"

#include <nlohmann/json.hpp>

namespace {
using Json = nlohmann::ordered_json;

// The name of route r's plugin p, as the run named it.
std::string plugin_name(const SessionRun* run, uint32_t r, uint32_t p) {
    return r < run->plugin_names.size() && p < run->plugin_names[r].size() ? run->plugin_names[r][p]
                                                                           : std::string();
}

Json verdict_json(const SessionVerdict& v, const SessionRun* run) {
    Json routes = Json::array();
    for (const RouteTimes& times : v.routes) {
        Json plugins = Json::array();
        for (uint32_t p = 0; p < times.plugins.size(); ++p) {
            plugins.push_back({{"name", plugin_name(run, times.route, p)},
                               {"median_ns", times.plugins[p].median_ns},
                               {"p999_ns", times.plugins[p].p999_ns},
                               {"mean_ns", times.plugins[p].mean_ns}});
        }
        routes.push_back({{"route", times.route},
                          {"median_ns", times.median_ns},
                          {"p999_ns", times.p999_ns},
                          {"worst_ns", times.worst_ns},
                          {"mean_ns", times.mean_ns},
                          {"plugins", plugins}});
    }
    Json misses = Json::array();
    for (const NamedMiss& miss : v.misses) {
        misses.push_back({{"period", miss.period},
                          {"end_ns", miss.end_ns},
                          {"wake_ns", miss.wake_ns},
                          {"after_late", miss.after_late},
                          {"route", miss.route},
                          {"above_ns", miss.above_ns},
                          {"plugin", miss.plugin == NO_PLUGIN ? Json(nullptr) : Json(miss.plugin)},
                          {"plugin_above_ns", miss.plugin_above_ns}});
    }
    return {{"frames", v.frames},
            {"period_ns", v.period_ns},
            {"threads", v.threads},
            {"idle", {{"periods", v.idle.periods}, {"missed", v.idle.missed}}},
            {"idle_sustainable", v.idle_sustainable},
            {"periods_asked", v.asked},
            {"periods", v.ran},
            {"missed", v.missed},
            {"allowance", v.allowance},
            {"missed_begun_late", v.missed_begun_late},
            {"plays", v.plays},
            {"use_median_ns", v.use_median_ns},
            {"use_worst_ns", v.use_worst_ns},
            {"use_mean_ns", v.use_mean_ns},
            {"critical_path", {{"routes", v.critical.routes}, {"time_ns", v.critical.time_ns}}},
            {"span_ns", v.span_ns},
            {"copies_by_median", v.copies_by_median},
            {"routes", routes},
            {"misses", misses},
            {"end_shares",
             {{"bin_percent", 100 / END_BINS_IN_PERIOD},
              {"hold", std::vector<uint64_t>(v.hold_ends.bins, v.hold_ends.bins + END_BINS)},
              {"idle", std::vector<uint64_t>(v.idle_ends.bins, v.idle_ends.bins + END_BINS)}}}};
}
} // namespace

std::string session_json(const MachineReport* machine, const Session* session,
                         const SessionRun* run) {
    Json routes = Json::array();
    for (const SessionRoute& route : session->routes) {
        Json plugins = Json::array();
        for (const SessionPlugin& plugin : route.plugins) {
            plugins.push_back({{"uri", plugin.uri}, {"active", plugin.active}});
        }
        Json skipped = Json::array();
        for (const SkippedItem& item : route.skipped) {
            skipped.push_back({{"what", item.what}, {"why", item.why}});
        }
        routes.push_back({{"name", route.name},
                          {"kind", route_kind_name(route.kind)},
                          {"plugins", plugins},
                          {"skipped", skipped}});
    }
    Json sizes = Json::array();
    for (const SessionVerdict& v : run->verdicts) {
        sizes.push_back(verdict_json(v, run));
    }
    Json document = {{"schema_version", REPORT_SCHEMA_VERSION},
                     {"mode", "session"},
                     {"machine", machine_json(machine)},
                     {"session",
                      {{"name", session->name},
                       {"sample_rate", session->sample_rate},
                       {"routes", routes},
                       {"notes", run->notes}}},
                     {"sizes", sizes},
                     {"smallest_playing", smallest_playing(run)},
                     {"verdict", run->verdicts.empty() ? "" : session_verdict(run)},
                     {"failure", run->failure},
                     {"stop_signal", run->stop_signal}};
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
