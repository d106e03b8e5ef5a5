// Session reports side by side: their routes lined up by name and kind, their
// sizes by frames and threads; at each size every report held, the verdict,
// the period used, the span on one and two threads and each route's times,
// the times with their ratio to the first report; the routes' plugins by
// name; what only some reports hold apart, without ratios. Printed as text
// (session_compare_text.cpp) or JSON (session_compare_json.cpp).
#pragma once

#include "report/compare.h"

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

enum SessionFigure {
    SESSION_PLUGINS,      // a route's plugins by name, at no size
    SESSION_VERDICT,      // plays, does not play, not sustainable
    SESSION_MISSED,       // periods missed, of those held, with the allowance
    SESSION_USE_MEDIAN,   // a period's end from its start, % of the period
    SESSION_USE_WORST,    //
    SESSION_SPAN_1,       // the period's span by the routes' medians, on 1 thread
    SESSION_SPAN_2,       // on 2
    SESSION_ROUTE_MEDIAN, // a route's own time
    SESSION_ROUTE_P999,
};

// A route by its name and kind; `nth` tells apart routes of one name and
// kind in one session, counted from 0 in the session's order.
struct SessionRouteKey {
    std::string name;
    std::string kind;
    int64_t nth;
    auto operator<=>(const SessionRouteKey&) const = default;
};

struct SessionSizeKey {
    int64_t frames;
    int64_t threads;
    auto operator<=>(const SessionSizeKey&) const = default;
};

// One report's entry in a row: where its figure is, and the figure.
struct SessionCell {
    bool present; // the report has the row's size and route
    size_t size;  // into the report's sizes; for SESSION_PLUGINS the first that ran the route
    size_t route; // into the report's routes
    size_t times; // into that size's route figures
    bool known;   // a figure: a span the report has, a route that ran
    double value; // ns; % of the period; periods missed; 1 plays, 0 not
    bool ratio_known;
    double ratio; // value / the base report's
};

struct SessionRow {
    SessionFigure figure;
    SessionSizeKey size;   // {0, 0} for SESSION_PLUGINS
    bool routed;           // a route's row
    SessionRouteKey route; // when routed
    int base;              // the report ratios are taken to; -1 in only_in_some
    std::vector<SessionCell> cells;
};

struct SessionComparison {
    std::vector<CompareDifference> differences;
    std::vector<SessionRow> routes;       // the routes every report has, with their plugins
    std::vector<SessionRow> rows;         // at each size every report held
    std::vector<SessionRow> only_in_some; // routes and sizes only some have: no ratios
};

SessionComparison compare_sessions(const std::vector<ReportRecord>& reports);

// The figure's ratio to the base report is a time's: above 1 takes longer.
bool session_figure_has_ratio(SessionFigure figure);
// "Vocal", "Vocal #2" for the second route of that name and kind.
std::string session_route_words(const SessionRouteKey& route);
// "audio_track" → "audio track".
std::string session_kind_words(const std::string& kind);
// "256 samples, 1 thread"; "verdict", "Vocal median"; the two joined.
std::string session_size_words(const SessionSizeKey& size);
std::string session_figure_words(const SessionRow* row);
std::string session_row_label(const SessionRow* row);
// A route's plugins by name (a SESSION_PLUGINS cell): as the run named
// them at its first size that ran it, else their URIs.
std::vector<std::string> session_plugin_names(const ReportRecord* report, const SessionCell* cell);

void print_session_comparison_text(FILE* out, const std::vector<ReportRecord>& reports,
                                   const SessionComparison* comparison);
nlohmann::ordered_json session_comparison_json(const std::vector<ReportRecord>& reports,
                                               const SessionComparison* comparison);
