// A session's report as text, and its verdict in one sentence.
#include "report/session_report.h"

#include "report/session_words.h"
#include "report/text_add.h"

#include <algorithm>
#include <map>

namespace {
double ms(double ns) {
    return ns / 1e6;
}

// The route on the critical path that takes the most of a period.
uint32_t heaviest_on_path(const SessionVerdict& verdict) {
    uint32_t heaviest = verdict.critical.routes.empty() ? 0 : verdict.critical.routes[0];
    int64_t most = -1;
    for (const RouteTimes& times : verdict.routes) {
        const bool on_path =
            std::find(verdict.critical.routes.begin(), verdict.critical.routes.end(),
                      times.route) != verdict.critical.routes.end();
        if (on_path && times.median_ns > most) {
            most = times.median_ns;
            heaviest = times.route;
        }
    }
    return heaviest;
}

int64_t median_of(const SessionVerdict& verdict, uint32_t route) {
    for (const RouteTimes& times : verdict.routes) {
        if (times.route == route) {
            return times.median_ns;
        }
    }
    return 0;
}

std::string percent(double ns, int64_t period_ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f %%", session_share(ns, period_ns));
    return text;
}

// A period's span by the routes' medians on the size's threads.
double usual_work_ns(const SessionVerdict& v) {
    if (v.span_ns.empty()) {
        return 0.0;
    }
    return v.span_ns[std::min<size_t>(std::max(v.threads, 1u), v.span_ns.size()) - 1];
}

// What bounds a size that did not play: the chain of routes that must run
// one after another, or, where the threads cannot run the routes beside it
// in its time, all of them together.
std::string bound_words(const SessionRun* run, const SessionVerdict& v) {
    const uint32_t route = heaviest_on_path(v);
    const auto heaviest = static_cast<double>(median_of(v, route));
    const double span = usual_work_ns(v);
    if (span > 1.2 * v.critical.time_ns) {
        return "the " + std::to_string(v.routes.size()) + " routes together take " +
               percent(span, v.period_ns) + " of the period on " + std::to_string(v.threads) +
               (v.threads == 1 ? " thread" : " threads") +
               " (the costliest on the critical path, " + session_route_words(run, route) + ", " +
               percent(heaviest, v.period_ns) + ")";
    }
    return "the route " + session_route_words(run, route) + " takes " +
           percent(heaviest, v.period_ns) + " of the period";
}

void add_skipped(std::string* text, const Session* session) {
    std::map<std::string, size_t> by_why;
    for (const SessionRoute& route : session->routes) {
        for (const SkippedItem& item : route.skipped) {
            by_why[item.why] += 1;
        }
    }
    for (const auto& [why, count] : by_why) {
        text_add(text, "  skipped: %zu, %s\n", count, why.c_str());
    }
}

// The control values and saved states applied, counted; every other note
// whole. The JSON has each of them.
void add_notes(std::string* text, const SessionRun* run) {
    size_t values = 0;
    size_t states = 0;
    for (const std::string& note : run->notes) {
        if (note.find(" set to ") != std::string::npos) {
            ++values;
        } else if (note.find(": saved state ") != std::string::npos) {
            ++states;
        } else {
            text_add(text, "  %s\n", note.c_str());
        }
    }
    text_add(text,
             "  applied: %zu control values and %zu saved states, as the session holds them\n",
             values, states);
}

// A route that ran long, or a period the threads began late: the larger
// share of the overrun says which.
std::string miss_cause(const SessionRun* run, const SessionVerdict& v, const NamedMiss& miss) {
    const double over = static_cast<double>(miss.end_ns - v.period_ns);
    const double late = static_cast<double>(miss.wake_ns);
    const double above = std::max(0.0, static_cast<double>(miss.above_ns));
    char late_text[32];
    char above_text[32];
    std::snprintf(late_text, sizeof late_text, "%.3f ms", ms(late));
    std::snprintf(above_text, sizeof above_text, "%.3f ms", ms(above));
    if (late > above && late > over / 2.0) {
        const std::string why = miss.after_late ? " late, after the period before ran into it"
                                                : " late: the system began it late";
        return std::string("the threads woke ") + late_text + why +
               " (no route ran long: the furthest over its median, " +
               run->route_names[miss.route] + ", by " + above_text + ")";
    }
    std::string words =
        session_route_words(run, miss.route) + " ran " + above_text + " over its median";
    if (miss.plugin != NO_PLUGIN && run->plugin_names[miss.route].size() > 1) {
        char plugin_text[32];
        std::snprintf(plugin_text, sizeof plugin_text, "%.3f ms",
                      ms(static_cast<double>(miss.plugin_above_ns)));
        words += ", " + run->plugin_names[miss.route][miss.plugin] +
                 " the furthest over its own, by " + plugin_text;
    }
    return words + " (the threads woke at " + late_text + ")";
}

// The plugins printed by their time; the JSON has every one.
constexpr size_t PLUGINS_SHOWN = 8;

// Each plugin's time, the costliest first, in routes of more than one
// plugin (a route of one is its plugin, and the table above has it).
void add_plugins(std::string* text, const SessionRun* run, const SessionVerdict& v) {
    struct Row {
        uint32_t route, plugin;
        PluginTimes times;
    };
    std::vector<Row> rows;
    for (const RouteTimes& route : v.routes) {
        for (uint32_t p = 0; route.plugins.size() > 1 && p < route.plugins.size(); ++p) {
            rows.push_back({route.route, p, route.plugins[p]});
        }
    }
    if (rows.empty()) {
        return;
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.times.median_ns > b.times.median_ns;
    });
    text_add(text, "  plugins, the costliest first:  median    p99.9\n");
    for (size_t k = 0; k < std::min(rows.size(), PLUGINS_SHOWN); ++k) {
        const std::string name = run->route_names[rows[k].route] + ": " +
                                 run->plugin_names[rows[k].route][rows[k].plugin];
        text_add(text, "    %-28.28s %6.3f ms %6.3f ms\n", name.c_str(),
                 ms(static_cast<double>(rows[k].times.median_ns)),
                 ms(static_cast<double>(rows[k].times.p999_ns)));
    }
    if (rows.size() > PLUGINS_SHOWN) {
        text_add(text, "    (%zu more in the JSON report)\n", rows.size() - PLUGINS_SHOWN);
    }
}

void add_size(std::string* text, const SessionRun* run, const SessionVerdict& v) {
    text_add(text, "\n%s\n", session_size_words(v).c_str());
    text_add(text, "  %s\n", session_missed_words(v).c_str());
    text_add(text, "  %s\n", session_use_words(v).c_str());
    text_add(text, "  %s\n", session_path_words(run, v).c_str());
    if (v.span_ns.size() >= 2 && v.span_ns[0] > 0.0) {
        text_add(text,
                 "  by the routes' medians a period takes %.3f ms on one thread, %.3f ms on two "
                 "(a second core saves %.0f %%)\n",
                 ms(v.span_ns[0]), ms(v.span_ns[1]), 100.0 * (1.0 - v.span_ns[1] / v.span_ns[0]));
        text_add(text,
                 "  by the same medians %u copies of the session would fit a period on %u "
                 "thread%s (an estimate, not held)\n",
                 v.copies_by_median, v.threads, v.threads == 1 ? "" : "s");
    }
    text_add(text, "  routes, the costliest first:   median    p99.9    worst\n");
    for (const RouteTimes& times : v.routes) {
        text_add(text, "    %-28.28s %6.3f ms %6.3f ms %6.3f ms\n",
                 run->route_names[times.route].c_str(), ms(static_cast<double>(times.median_ns)),
                 ms(static_cast<double>(times.p999_ns)), ms(static_cast<double>(times.worst_ns)));
    }
    add_plugins(text, run, v);
    for (const NamedMiss& miss : v.misses) {
        text_add(text, "  missed period %llu ended at %.3f ms: %s\n",
                 static_cast<unsigned long long>(miss.period), ms(static_cast<double>(miss.end_ns)),
                 miss_cause(run, v, miss).c_str());
    }
    if (v.missed > v.misses.size()) {
        text_add(text, "  (%llu more missed periods, not named)\n",
                 static_cast<unsigned long long>(v.missed - v.misses.size()));
    }
}
} // namespace

std::string session_verdict(const SessionRun* run) {
    const uint32_t smallest = smallest_playing(run);
    std::string words;
    if (smallest == 0) {
        words = "plays at none of the sizes held";
    } else {
        bool all_above = true;
        for (const SessionVerdict& v : run->verdicts) {
            all_above = all_above && (v.frames < smallest || v.plays);
        }
        words = "plays at " + std::to_string(smallest) + (all_above ? " and above" : "");
    }
    // The largest size below that did not play, and what bounds it.
    const SessionVerdict* below = nullptr;
    for (const SessionVerdict& v : run->verdicts) {
        if (!v.plays && (smallest == 0 || v.frames < smallest) &&
            (below == nullptr || v.frames > below->frames)) {
            below = &v;
        }
    }
    if (below != nullptr && !below->idle_sustainable) {
        words += "; at " + std::to_string(below->frames) +
                 " the idle system alone misses too many periods";
    } else if (below != nullptr && 2 * below->missed_begun_late > below->missed) {
        // The misses count, but what to change is the system, not the session.
        words += "; at " + std::to_string(below->frames) + " it missed " +
                 std::to_string(below->missed) + " periods (" + std::to_string(below->allowance) +
                 " allowed); the system began " + std::to_string(below->missed_begun_late) +
                 " of them too late for its routes' usual " +
                 percent(usual_work_ns(*below), below->period_ns) + " of the period to end in time";
    } else if (below != nullptr && !below->critical.routes.empty()) {
        words += "; at " + std::to_string(below->frames) + " " + bound_words(run, *below);
    }
    return words;
}

std::string session_text(const Session* session, const SessionRun* run) {
    std::string text;
    size_t plugins = 0;
    for (const SessionRoute& route : session->routes) {
        plugins += route.plugins.size();
    }
    text_add(&text, "\nSession %s: %zu routes, %zu plugins, %lld Hz\n", session->name.c_str(),
             session->routes.size(), plugins, static_cast<long long>(session->sample_rate));
    add_skipped(&text, session);
    add_notes(&text, run);
    for (const SessionVerdict& v : run->verdicts) {
        add_size(&text, run, v);
    }
    if (!run->failure.empty()) {
        text_add(&text, "\nThe session could not be run: %s\n", run->failure.c_str());
    } else if (run->stop_signal != 0) {
        text_add(&text, "\nStopped by signal %d\n", run->stop_signal);
    }
    if (!run->verdicts.empty()) {
        text_add(&text, "\nVerdict: %s.\n", session_verdict(run).c_str());
    }
    return text;
}
