#include "report/session_words.h"

#include "report/text_add.h"

double session_share(double ns, int64_t period_ns) {
    return period_ns > 0 ? 100.0 * ns / static_cast<double>(period_ns) : 0.0;
}

std::string session_route_words(const SessionRun* run, uint32_t route) {
    std::string words = run->route_names[route];
    const std::vector<std::string>& plugins = run->plugin_names[route];
    if (!plugins.empty()) {
        words += " (";
        for (size_t p = 0; p < plugins.size(); ++p) {
            words += (p > 0 ? ", " : "") + plugins[p];
        }
        words += ")";
    }
    return words;
}

std::string session_size_words(const SessionVerdict& v) {
    const char* plays = !v.idle_sustainable ? "not sustainable at this buffer on this system"
                        : v.plays           ? "plays"
                                            : "does not play";
    std::string words;
    text_add(&words, "At %u samples (%.2f ms, %u thread%s): %s", v.frames,
             static_cast<double>(v.period_ns) / 1e6, v.threads, v.threads == 1 ? "" : "s", plays);
    return words;
}

std::string session_missed_words(const SessionVerdict& v) {
    std::string words;
    text_add(&words,
             "missed %llu of %llu periods (the idle system's allows %llu; it missed %llu of %llu)",
             static_cast<unsigned long long>(v.missed), static_cast<unsigned long long>(v.ran),
             static_cast<unsigned long long>(v.allowance),
             static_cast<unsigned long long>(v.idle.missed),
             static_cast<unsigned long long>(v.idle.periods));
    if (v.missed_begun_late > 0) {
        text_add(&words, "; %llu of them began too late for the routes' usual work to end in time",
                 static_cast<unsigned long long>(v.missed_begun_late));
    }
    return words;
}

std::string session_use_words(const SessionVerdict& v) {
    std::string words;
    text_add(&words, "period used: median %.0f %%, mean %.0f %%, worst %.0f %%",
             session_share(static_cast<double>(v.use_median_ns), v.period_ns),
             session_share(v.use_mean_ns, v.period_ns),
             session_share(static_cast<double>(v.use_worst_ns), v.period_ns));
    return words;
}

std::string session_path_words(const SessionRun* run, const SessionVerdict& v) {
    std::string path;
    for (uint32_t r : v.critical.routes) {
        path += (path.empty() ? "" : " -> ") + run->route_names[r];
    }
    std::string words;
    text_add(&words, "critical path: %s, %.3f ms (%.0f %% of the period)", path.c_str(),
             v.critical.time_ns / 1e6, session_share(v.critical.time_ns, v.period_ns));
    return words;
}
