// A session report's session and sizes read into plain records.
#include "report/session_figures.h"

#include "engine/realtime/realtime_plan.h"
#include "engine/realtime/route_graph.h"
#include "session/session.h"

#include <cstdio>
#include <set>
#include <utility>

namespace {
std::string at(const std::string& where, size_t index) {
    return where + "[" + std::to_string(index) + "]";
}

// A problem unless `value` lies in [low, high].
void check_range(FieldReader* reader, const std::string& name, int64_t value, int64_t low,
                 int64_t high) {
    if (reader->problem.empty() && (value < low || value > high)) {
        reader->problem = name + " is " + std::to_string(value) + ", not from " +
                          std::to_string(low) + " to " + std::to_string(high);
    }
}

// An array of at most `most` elements, else a problem.
const ReportJson& bounded_array(FieldReader* reader, const ReportJson& object,
                                const std::string& where, const char* key, size_t most) {
    const ReportJson& list = field(reader, object, where, key, FIELD_ARRAY, FIELD_REQUIRED);
    if (reader->problem.empty() && list.size() > most) {
        reader->problem = (where.empty() ? "" : where + ".") + key + " holds " +
                          std::to_string(list.size()) + " entries, more than the " +
                          std::to_string(most) + " a session run can have";
    }
    return list;
}

int64_t count_field(FieldReader* reader, const ReportJson& object, const std::string& where,
                    const char* key) {
    return count_of(field(reader, object, where, key, FIELD_COUNT, FIELD_REQUIRED));
}

void read_routes(FieldReader* reader, const ReportJson& session, SessionReportRecord* record) {
    const ReportJson& routes = bounded_array(reader, session, "session", "routes", MAX_ROUTES);
    for (size_t r = 0; r < routes.size() && reader->problem.empty(); ++r) {
        const std::string where = at("session.routes", r);
        const ReportJson& route = element(reader, routes, r, "session.routes", FIELD_OBJECT);
        SessionRouteEntry entry;
        entry.name = text_of(field(reader, route, where, "name", FIELD_TEXT, FIELD_REQUIRED));
        entry.kind = text_of(field(reader, route, where, "kind", FIELD_TEXT, FIELD_REQUIRED));
        const ReportJson& plugins =
            bounded_array(reader, route, where, "plugins", MAX_ROUTE_PLUGINS);
        for (size_t p = 0; p < plugins.size() && reader->problem.empty(); ++p) {
            const ReportJson& plugin =
                element(reader, plugins, p, where + ".plugins", FIELD_OBJECT);
            entry.uris.push_back(text_of(field(reader, plugin, at(where + ".plugins", p), "uri",
                                               FIELD_TEXT, FIELD_REQUIRED)));
        }
        record->routes.push_back(entry);
    }
}

// A route named by its index in the session's routes.
size_t route_index(FieldReader* reader, const ReportJson& object, const std::string& where,
                   const char* key, size_t routes) {
    const int64_t route = count_field(reader, object, where, key);
    if (reader->problem.empty() && static_cast<uint64_t>(route) >= routes) {
        reader->problem = where + "." + key + " is " + std::to_string(route) +
                          ", not a route of the session's " + std::to_string(routes);
    }
    return static_cast<size_t>(route);
}

void read_route_times(FieldReader* reader, const ReportJson& size, const std::string& where,
                      const SessionReportRecord* record, SessionSizeFigures* figures) {
    const ReportJson& routes = bounded_array(reader, size, where, "routes", record->routes.size());
    std::set<size_t> seen;
    for (size_t r = 0; r < routes.size() && reader->problem.empty(); ++r) {
        const std::string route_where = at(where + ".routes", r);
        const ReportJson& route = element(reader, routes, r, where + ".routes", FIELD_OBJECT);
        SessionRouteFigures times{};
        times.route = route_index(reader, route, route_where, "route", record->routes.size());
        if (reader->problem.empty() && !seen.insert(times.route).second) {
            reader->problem = route_where + ".route repeats route " + std::to_string(times.route);
        }
        times.median_ns = count_field(reader, route, route_where, "median_ns");
        times.p999_ns = count_field(reader, route, route_where, "p999_ns");
        times.worst_ns = count_field(reader, route, route_where, "worst_ns");
        const size_t chain = reader->problem.empty() ? record->routes[times.route].uris.size() : 0;
        const ReportJson& plugins = bounded_array(reader, route, route_where, "plugins", chain);
        for (size_t p = 0; p < plugins.size() && reader->problem.empty(); ++p) {
            const std::string plugin_where = at(route_where + ".plugins", p);
            const ReportJson& plugin =
                element(reader, plugins, p, route_where + ".plugins", FIELD_OBJECT);
            SessionPluginFigures one{};
            one.name =
                text_of(field(reader, plugin, plugin_where, "name", FIELD_TEXT, FIELD_REQUIRED));
            one.median_ns = count_field(reader, plugin, plugin_where, "median_ns");
            one.p999_ns = count_field(reader, plugin, plugin_where, "p999_ns");
            times.plugins.push_back(one);
        }
        figures->routes.push_back(times);
    }
}

// The plugin a miss names, by its place in its route's figures; `chains`
// holds each route's plugins that ran.
void read_miss_plugin(FieldReader* reader, const ReportJson& miss, const std::string& where,
                      const std::vector<size_t>& chains, SessionMissFigures* named) {
    const ReportJson& plugin = field(reader, miss, where, "plugin", FIELD_COUNT, FIELD_NULLABLE);
    named->plugin_known = !plugin.is_null();
    named->plugin = static_cast<size_t>(count_of(plugin));
    const size_t chain = named->route < chains.size() ? chains[named->route] : 0;
    if (reader->problem.empty() && named->plugin_known && named->plugin >= chain) {
        reader->problem = where + ".plugin is " + std::to_string(named->plugin) +
                          ", not a plugin that ran in route " + std::to_string(named->route);
    }
}

void read_misses(FieldReader* reader, const ReportJson& size, const std::string& where,
                 const SessionReportRecord* record, SessionSizeFigures* figures) {
    const ReportJson& misses =
        bounded_array(reader, size, where, "misses", static_cast<size_t>(figures->missed));
    std::vector<size_t> chains(record->routes.size(), 0);
    for (const SessionRouteFigures& times : figures->routes) {
        if (times.route < chains.size()) { // else already refused
            chains[times.route] = times.plugins.size();
        }
    }
    for (size_t m = 0; m < misses.size() && reader->problem.empty(); ++m) {
        const std::string miss_where = at(where + ".misses", m);
        const ReportJson& miss = element(reader, misses, m, where + ".misses", FIELD_OBJECT);
        SessionMissFigures named{};
        named.period = count_field(reader, miss, miss_where, "period");
        named.end_ns = count_field(reader, miss, miss_where, "end_ns");
        named.wake_ns = count_field(reader, miss, miss_where, "wake_ns");
        named.after_late =
            field(reader, miss, miss_where, "after_late", FIELD_BOOLEAN, FIELD_REQUIRED) == true;
        named.route = route_index(reader, miss, miss_where, "route", record->routes.size());
        named.above_ns = count_field(reader, miss, miss_where, "above_ns");
        read_miss_plugin(reader, miss, miss_where, chains, &named);
        named.plugin_above_ns = count_field(reader, miss, miss_where, "plugin_above_ns");
        figures->misses.push_back(named);
    }
}

void read_counts(FieldReader* reader, const ReportJson& size, const std::string& where,
                 SessionSizeFigures* figures) {
    figures->frames = count_field(reader, size, where, "frames");
    check_range(reader, where + ".frames", figures->frames, MIN_BUFFER, MAX_BUFFER);
    figures->period_ns = count_field(reader, size, where, "period_ns");
    check_range(reader, where + ".period_ns", figures->period_ns, 1, INT64_MAX);
    figures->threads = count_field(reader, size, where, "threads");
    check_range(reader, where + ".threads", figures->threads, 1, MAX_RT_THREADS);
    const ReportJson& idle = field(reader, size, where, "idle", FIELD_OBJECT, FIELD_REQUIRED);
    figures->idle_periods = count_field(reader, idle, where + ".idle", "periods");
    figures->idle_missed = count_field(reader, idle, where + ".idle", "missed");
    figures->idle_sustainable =
        field(reader, size, where, "idle_sustainable", FIELD_BOOLEAN, FIELD_REQUIRED) == true;
    figures->periods_asked = count_field(reader, size, where, "periods_asked");
    figures->periods = count_field(reader, size, where, "periods");
    figures->missed = count_field(reader, size, where, "missed");
    check_range(reader, where + ".missed", figures->missed, 0, figures->periods);
    figures->allowance = count_field(reader, size, where, "allowance");
    figures->plays = field(reader, size, where, "plays", FIELD_BOOLEAN, FIELD_REQUIRED) == true;
    figures->use_median_ns = count_field(reader, size, where, "use_median_ns");
    figures->use_worst_ns = count_field(reader, size, where, "use_worst_ns");
}

void read_size(FieldReader* reader, const ReportJson& size, const std::string& where,
               const SessionReportRecord* record, SessionSizeFigures* figures) {
    read_counts(reader, size, where, figures);
    const ReportJson& critical =
        field(reader, size, where, "critical_path", FIELD_OBJECT, FIELD_REQUIRED);
    const std::string critical_where = where + ".critical_path";
    const ReportJson& path =
        bounded_array(reader, critical, critical_where, "routes", record->routes.size());
    for (size_t r = 0; r < path.size() && reader->problem.empty(); ++r) {
        const ReportJson& route = element(reader, path, r, critical_where + ".routes", FIELD_COUNT);
        const auto index = static_cast<uint64_t>(count_of(route));
        if (reader->problem.empty() && index >= record->routes.size()) {
            reader->problem = at(critical_where + ".routes", r) + " is " + std::to_string(index) +
                              ", not a route of the session's " +
                              std::to_string(record->routes.size());
        }
        figures->critical_routes.push_back(static_cast<size_t>(index));
    }
    figures->critical_ns =
        number_of(field(reader, critical, critical_where, "time_ns", FIELD_NUMBER, FIELD_REQUIRED));
    const ReportJson& spans = bounded_array(reader, size, where, "span_ns", MAX_RT_THREADS);
    for (size_t c = 0; c < spans.size() && reader->problem.empty(); ++c) {
        figures->span_ns.push_back(
            number_of(element(reader, spans, c, where + ".span_ns", FIELD_NUMBER)));
    }
    read_route_times(reader, size, where, record, figures);
    read_misses(reader, size, where, record, figures);
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2g", seconds);
    return text;
}
} // namespace

double session_hold_seconds(const SessionSizeFigures* size) {
    return static_cast<double>(size->periods_asked) * static_cast<double>(size->period_ns) / 1e9;
}

void read_session_figures(FieldReader* reader, const ReportJson& doc, ReportRecord* report) {
    SessionReportRecord* record = &report->session_report;
    const ReportJson& session = field(reader, doc, "", "session", FIELD_OBJECT, FIELD_REQUIRED);
    record->name = text_of(field(reader, session, "session", "name", FIELD_TEXT, FIELD_REQUIRED));
    record->sample_rate = count_field(reader, session, "session", "sample_rate");
    read_routes(reader, session, record);
    const ReportJson& sizes = bounded_array(reader, doc, "", "sizes", MAX_BUFFERS);
    std::set<std::pair<int64_t, int64_t>> held;
    for (size_t s = 0; s < sizes.size() && reader->problem.empty(); ++s) {
        const ReportJson& size = element(reader, sizes, s, "sizes", FIELD_OBJECT);
        SessionSizeFigures figures{};
        read_size(reader, size, at("sizes", s), record, &figures);
        if (reader->problem.empty() && !held.emplace(figures.frames, figures.threads).second) {
            reader->problem = at("sizes", s) + " holds " + std::to_string(figures.frames) +
                              " samples on " + std::to_string(figures.threads) +
                              (figures.threads == 1 ? " thread" : " threads") + " again";
        }
        record->sizes.push_back(figures);
    }
    record->verdict = text_of(field(reader, doc, "", "verdict", FIELD_TEXT, FIELD_REQUIRED));
    record->failure = text_of(field(reader, doc, "", "failure", FIELD_TEXT, FIELD_REQUIRED));
    record->stop_signal = count_field(reader, doc, "", "stop_signal");
    report->settings.push_back({"session.name", record->name});
    report->settings.push_back({"session.sample_rate", std::to_string(record->sample_rate)});
    if (!record->sizes.empty()) {
        report->settings.push_back(
            {"session.hold_seconds", seconds_text(session_hold_seconds(&record->sizes[0]))});
    }
}
