// A saved session report read back (report/session_figures.cpp): the
// session's routes and, at each buffer size held, whether it played, how
// much of the period it used and each route's and plugin's time, every
// index into the routes checked, for `compare`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SessionRouteEntry {
    std::string name;
    std::string kind;              // "audio_track", "midi_track", "audio_bus", "midi_bus", "master"
    std::vector<std::string> uris; // its plugins in chain order, active or not
};

struct SessionPluginFigures {
    std::string name; // as the run named it (its URI where the host had no name)
    int64_t median_ns;
    int64_t p999_ns;
};

struct SessionRouteFigures {
    size_t route; // into SessionReportRecord::routes
    int64_t median_ns;
    int64_t p999_ns;
    int64_t worst_ns;
    std::vector<SessionPluginFigures> plugins; // those that ran, in chain order
};

struct SessionMissFigures {
    int64_t period;
    int64_t end_ns;
    int64_t wake_ns;
    bool after_late;
    size_t route; // the route furthest above its median
    int64_t above_ns;
    bool plugin_known; // false: the route ran no plugin
    size_t plugin;     // into that route's figures' plugins
    int64_t plugin_above_ns;
};

struct SessionSizeFigures {
    int64_t frames;
    int64_t period_ns; // more than 0
    int64_t threads;   // 1 or more
    int64_t idle_periods;
    int64_t idle_missed;
    bool idle_sustainable;
    int64_t periods_asked;
    int64_t periods;
    int64_t missed;
    int64_t allowance;
    bool plays;
    int64_t use_median_ns;
    int64_t use_worst_ns;
    std::vector<size_t> critical_routes;
    double critical_ns;
    std::vector<double> span_ns;             // [c]: the period's span on c + 1 threads
    std::vector<SessionRouteFigures> routes; // the costliest first
    std::vector<SessionMissFigures> misses;
};

struct SessionReportRecord {
    std::string name;
    int64_t sample_rate;
    std::vector<SessionRouteEntry> routes;
    std::vector<SessionSizeFigures> sizes; // in the order held
    std::string verdict;                   // the report's sentence; "" when no size was held
    std::string failure;                   // why the run could not go on; "" none
    int64_t stop_signal;                   // 0 none
};
