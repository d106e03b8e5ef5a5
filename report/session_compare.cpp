// Session reports lined up by route and by buffer size, with the ratios of
// their times to the first report's.
#include "report/session_compare.h"

#include <cstdint>
#include <map>
#include <set>
#include <utility>

namespace {
// Where each route and size of one report is, by its key.
struct ReportIndex {
    std::map<SessionRouteKey, size_t> routes;
    std::map<SessionSizeKey, size_t> sizes;
    std::vector<SessionRouteKey> keys;     // [route]: its key
    std::vector<std::vector<size_t>> runs; // [size][route]: its figures' place, or NOT_RUN
};

constexpr size_t NOT_RUN = SIZE_MAX;

ReportIndex index_of(const SessionReportRecord* session) {
    ReportIndex index;
    std::map<std::pair<std::string, std::string>, int64_t> seen;
    for (size_t r = 0; r < session->routes.size(); ++r) {
        const SessionRouteEntry* route = &session->routes[r];
        int64_t& count = seen[{route->name, route->kind}];
        index.keys.push_back({route->name, route->kind, count++});
        index.routes.emplace(index.keys.back(), r);
    }
    for (size_t s = 0; s < session->sizes.size(); ++s) {
        const SessionSizeFigures* size = &session->sizes[s];
        index.sizes.emplace(SessionSizeKey{size->frames, size->threads}, s);
        index.runs.emplace_back(session->routes.size(), NOT_RUN);
        for (size_t t = 0; t < size->routes.size(); ++t) {
            index.runs.back()[size->routes[t].route] = t;
        }
    }
    return index;
}

double share(int64_t ns, int64_t period_ns) {
    return 100.0 * static_cast<double>(ns) / static_cast<double>(period_ns);
}

// The figure of a size, or of a route at that size.
void take_figure(const SessionSizeFigures* size, size_t times_at, SessionFigure figure,
                 SessionCell* cell) {
    cell->known = true;
    cell->times = times_at;
    const SessionRouteFigures* times = times_at != NOT_RUN ? &size->routes[times_at] : nullptr;
    switch (figure) {
    case SESSION_PLUGINS:
        break;
    case SESSION_VERDICT:
        cell->value = size->plays ? 1.0 : 0.0;
        break;
    case SESSION_MISSED:
        cell->value = static_cast<double>(size->missed);
        break;
    case SESSION_USE_MEDIAN:
        cell->value = share(size->use_median_ns, size->period_ns);
        break;
    case SESSION_USE_WORST:
        cell->value = share(size->use_worst_ns, size->period_ns);
        break;
    case SESSION_SPAN_1:
    case SESSION_SPAN_2: {
        const size_t threads = figure == SESSION_SPAN_1 ? 1 : 2;
        cell->known = size->span_ns.size() >= threads;
        cell->value = cell->known ? size->span_ns[threads - 1] : 0.0;
        break;
    }
    case SESSION_ROUTE_MEDIAN:
    case SESSION_ROUTE_P999:
        cell->known = times != nullptr;
        cell->value = times == nullptr                 ? 0.0
                      : figure == SESSION_ROUTE_MEDIAN ? static_cast<double>(times->median_ns)
                                                       : static_cast<double>(times->p999_ns);
        break;
    }
}

SessionRow make_row(const std::vector<ReportRecord>& reports,
                    const std::vector<ReportIndex>& indexes, SessionFigure figure,
                    const SessionSizeKey& size, const SessionRouteKey* route) {
    SessionRow row{figure, size, route != nullptr, route != nullptr ? *route : SessionRouteKey{},
                   -1,     {}};
    for (size_t r = 0; r < reports.size(); ++r) {
        SessionCell cell{};
        auto found_size = indexes[r].sizes.find(size);
        auto found_route =
            route != nullptr ? indexes[r].routes.find(*route) : indexes[r].routes.end();
        const bool has_size = figure == SESSION_PLUGINS || found_size != indexes[r].sizes.end();
        const bool has_route = route == nullptr || found_route != indexes[r].routes.end();
        cell.present = has_size && has_route;
        cell.size = figure != SESSION_PLUGINS && has_size ? found_size->second : 0;
        cell.route = route != nullptr && has_route ? found_route->second : 0;
        if (cell.present && figure != SESSION_PLUGINS) {
            take_figure(&reports[r].session_report.sizes[cell.size],
                        route != nullptr ? indexes[r].runs[cell.size][cell.route] : NOT_RUN, figure,
                        &cell);
        } else if (cell.present) { // the plugins as its first size that ran it names them
            for (size_t s = 0; s < indexes[r].runs.size() && !cell.known; ++s) {
                cell.known = indexes[r].runs[s][cell.route] != NOT_RUN;
                cell.size = s;
                cell.times = indexes[r].runs[s][cell.route];
            }
        }
        row.cells.push_back(cell);
    }
    return row;
}

// Compared, with ratios to the first report, when every report has it;
// else apart.
void file_row(SessionRow row, std::vector<SessionRow>* compared, SessionComparison* comparison) {
    bool in_every = true;
    for (const SessionCell& cell : row.cells) {
        in_every = in_every && cell.present;
    }
    if (!in_every) {
        comparison->only_in_some.push_back(row);
        return;
    }
    row.base = 0;
    const SessionCell base = row.cells[0];
    for (SessionCell& cell : row.cells) {
        cell.ratio_known =
            session_figure_has_ratio(row.figure) && cell.known && base.known && base.value > 0.0;
        cell.ratio = cell.ratio_known ? cell.value / base.value : 0.0;
    }
    compared->push_back(row);
}

// The routes at a size, the costliest in the first report that held it
// first, then the others in the order first met.
std::vector<SessionRouteKey> routes_at(const std::vector<ReportRecord>& reports,
                                       const std::vector<ReportIndex>& indexes,
                                       const SessionSizeKey& size,
                                       const std::vector<SessionRouteKey>& all) {
    std::vector<SessionRouteKey> order;
    std::set<SessionRouteKey> placed;
    for (size_t r = 0; r < reports.size() && order.empty(); ++r) {
        auto found = indexes[r].sizes.find(size);
        if (found == indexes[r].sizes.end()) {
            continue;
        }
        for (const SessionRouteFigures& times :
             reports[r].session_report.sizes[found->second].routes) {
            order.push_back(indexes[r].keys[times.route]);
            placed.insert(order.back());
        }
    }
    for (const SessionRouteKey& key : all) {
        if (placed.insert(key).second) {
            order.push_back(key);
        }
    }
    return order;
}
} // namespace

bool session_figure_has_ratio(SessionFigure figure) {
    return figure == SESSION_SPAN_1 || figure == SESSION_SPAN_2 || figure == SESSION_ROUTE_MEDIAN ||
           figure == SESSION_ROUTE_P999;
}

SessionComparison compare_sessions(const std::vector<ReportRecord>& reports) {
    SessionComparison comparison;
    comparison.differences = compare_differences(reports);
    std::vector<ReportIndex> indexes;
    std::vector<SessionRouteKey> routes; // in the order first met
    std::set<SessionRouteKey> met;
    std::set<SessionSizeKey> sizes;
    for (const ReportRecord& report : reports) {
        indexes.push_back(index_of(&report.session_report));
        for (const SessionRouteKey& key : indexes.back().keys) {
            if (met.insert(key).second) {
                routes.push_back(key);
            }
        }
        for (const auto& [size, at] : indexes.back().sizes) {
            sizes.insert(size);
        }
    }
    for (const SessionRouteKey& route : routes) {
        file_row(make_row(reports, indexes, SESSION_PLUGINS, {0, 0}, &route), &comparison.routes,
                 &comparison);
    }
    for (const SessionSizeKey& size : sizes) {
        bool in_every = true;
        for (const ReportIndex& index : indexes) {
            in_every = in_every && index.sizes.count(size) > 0;
        }
        for (SessionFigure figure : {SESSION_VERDICT, SESSION_MISSED, SESSION_USE_MEDIAN,
                                     SESSION_USE_WORST, SESSION_SPAN_1, SESSION_SPAN_2}) {
            file_row(make_row(reports, indexes, figure, size, nullptr), &comparison.rows,
                     &comparison);
        }
        // A size only some held is listed by its summary alone.
        for (const SessionRouteKey& route : in_every ? routes_at(reports, indexes, size, routes)
                                                     : std::vector<SessionRouteKey>{}) {
            for (SessionFigure figure : {SESSION_ROUTE_MEDIAN, SESSION_ROUTE_P999}) {
                file_row(make_row(reports, indexes, figure, size, &route), &comparison.rows,
                         &comparison);
            }
        }
    }
    return comparison;
}

std::string session_route_words(const SessionRouteKey& route) {
    return route.nth == 0 ? route.name : route.name + " #" + std::to_string(route.nth + 1);
}

std::string session_kind_words(const std::string& kind) {
    std::string words = kind;
    for (char& c : words) {
        c = c == '_' ? ' ' : c;
    }
    return words;
}

std::string session_size_words(const SessionSizeKey& size) {
    return std::to_string(size.frames) + " samples, " + std::to_string(size.threads) +
           (size.threads == 1 ? " thread" : " threads");
}

std::string session_figure_words(const SessionRow* row) {
    switch (row->figure) {
    case SESSION_PLUGINS:
        return session_route_words(row->route) + " (" + session_kind_words(row->route.kind) + ")";
    case SESSION_VERDICT:
        return "verdict";
    case SESSION_MISSED:
        return "periods missed";
    case SESSION_USE_MEDIAN:
        return "period used, median";
    case SESSION_USE_WORST:
        return "period used, worst";
    case SESSION_SPAN_1:
        return "span on 1 thread";
    case SESSION_SPAN_2:
        return "span on 2 threads";
    case SESSION_ROUTE_MEDIAN:
        return session_route_words(row->route) + " median";
    case SESSION_ROUTE_P999:
        return session_route_words(row->route) + " p99.9";
    }
    return "";
}

std::string session_row_label(const SessionRow* row) {
    if (row->figure == SESSION_PLUGINS) {
        return "route " + session_figure_words(row);
    }
    return session_size_words(row->size) + ": " + session_figure_words(row);
}

std::vector<std::string> session_plugin_names(const ReportRecord* report, const SessionCell* cell) {
    const SessionReportRecord* session = &report->session_report;
    if (!cell->known) {
        return session->routes[cell->route].uris;
    }
    std::vector<std::string> names;
    for (const SessionPluginFigures& plugin :
         session->sizes[cell->size].routes[cell->times].plugins) {
        names.push_back(plugin.name);
    }
    return names;
}
