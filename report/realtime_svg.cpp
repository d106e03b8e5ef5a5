// The real-time mode's picture: the capacity chart, then each trial's histograms.
#include "report/realtime_report.h"

#include "report/buffer_summary.h"
#include "report/load_label.h"
#include "report/miss_words.h"
#include "report/readiness_report.h"
#include "report/realtime_words.h"
#include "report/svg_text.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr int COLUMNS = 60;
constexpr int PANEL_WIDTH = 400;
constexpr int PLOT_HEIGHT = 130;
constexpr int ROW_HEIGHT = 200;
constexpr int LEFT = 50;
constexpr int GAP = 60;
constexpr int TOP = 50;
constexpr int CHART_HEIGHT = 240; // the capacity chart's plot
constexpr int CHART_BLOCK = 440;  // with its title, axes and dropout notes
// The verdicts under the chart, wrapped to its width.
constexpr size_t VERDICT_CHARACTERS = 150;
constexpr int VERDICT_LINES = 10;
const char* const CAUSE_COLOURS[MISS_CAUSES] = {"#d62728", "#ff7f0e", "#9467bd", "#8c564b",
                                                "#7f7f7f"};
// One colour a load, in the plan's order.
const char* const LOAD_COLOURS[MAX_LOADS] = {"#1f77b4", "#2ca02c", "#e377c2", "#ff7f0e",
                                             "#9467bd", "#8c564b", "#17becf", "#7f7f7f"};

// One histogram: bars on a linear time axis up to a little past the larger of
// the period and the maximum, log count axis, the period's end dashed.
void add_panel(std::string* svg, int x, int y, const char* title, const Histogram* histogram,
               int64_t period_ns, const RtFigures* figures, bool lateness) {
    int64_t span = period_ns + period_ns / 4;
    if (histogram->max + histogram->max / 50 > span) {
        span = histogram->max + histogram->max / 50;
    }
    uint64_t columns[COLUMNS] = {};
    for (uint32_t b = 0; b < HISTOGRAM_BINS; ++b) {
        if (histogram->bins[b] != 0) {
            auto c = static_cast<int>(histogram_bin_low(b) * COLUMNS / span);
            columns[c < COLUMNS ? c : COLUMNS - 1] += histogram->bins[b];
        }
    }
    columns[COLUMNS - 1] += histogram->overflow;
    uint64_t tallest = 1;
    for (uint64_t count : columns) {
        tallest = count > tallest ? count : tallest;
    }
    const double decades = std::log10(static_cast<double>(tallest) + 1.0);
    text_add(svg, "<g class=\"panel\" transform=\"translate(%d,%d)\">\n", x, y);
    text_add(svg, "<text class=\"title\" x=\"0\" y=\"-6\">%s</text>\n", title);
    text_add(svg, "<rect class=\"frame\" x=\"0\" y=\"0\" width=\"%d\" height=\"%d\"/>\n",
             PANEL_WIDTH, PLOT_HEIGHT);
    const double column_width = static_cast<double>(PANEL_WIDTH) / COLUMNS;
    for (int c = 0; c < COLUMNS; ++c) {
        if (columns[c] == 0) {
            continue;
        }
        double height = PLOT_HEIGHT * std::log10(static_cast<double>(columns[c]) + 1.0) / decades;
        text_add(
            svg,
            "<rect class=\"bar\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"><title>%llu"
            "</title></rect>\n",
            c * column_width, PLOT_HEIGHT - height, column_width - 1.0, height,
            static_cast<unsigned long long>(columns[c]));
    }
    for (double count = 1.0; count <= static_cast<double>(tallest); count *= 10.0) {
        double ty = PLOT_HEIGHT - PLOT_HEIGHT * std::log10(count + 1.0) / decades;
        text_add(svg, "<text class=\"count\" x=\"-4\" y=\"%.1f\">%.0f</text>\n", ty + 4, count);
    }
    for (int tick = 0; tick <= 4; ++tick) {
        double value_ms = static_cast<double>(span) * tick / 4 / 1e6;
        text_add(svg, "<text class=\"time\" x=\"%d\" y=\"%d\">%.3g ms</text>\n",
                 tick * PANEL_WIDTH / 4, PLOT_HEIGHT + 16, value_ms);
    }
    double deadline = static_cast<double>(PANEL_WIDTH) * static_cast<double>(period_ns) /
                      static_cast<double>(span);
    text_add(svg,
             "<line class=\"deadline\" x1=\"%.1f\" y1=\"0\" x2=\"%.1f\" y2=\"%d\"/>\n"
             "<text class=\"deadline-label\" x=\"%.1f\" y=\"12\">period end</text>\n",
             deadline, deadline, PLOT_HEIGHT, deadline + 3);
    if (histogram->overflow > 0) {
        text_add(svg, "<text class=\"overflow\" x=\"%d\" y=\"24\">%llu over %lld s</text>\n",
                 PANEL_WIDTH - 4, static_cast<unsigned long long>(histogram->overflow),
                 static_cast<long long>(HISTOGRAM_LIMIT_NS / 1000000000));
    }
    // Each missed period (the first of them) as a tick in its cause's colour.
    for (uint32_t m = 0; m < figures->mark_count; ++m) {
        const MissMark* mark = &figures->marks[m];
        const int64_t value = lateness ? mark->lateness_ns : mark->processing_ns;
        double mx = static_cast<double>(PANEL_WIDTH) *
                    static_cast<double>(value < span ? value : span) / static_cast<double>(span);
        text_add(svg,
                 "<line class=\"miss\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" "
                 "stroke=\"%s\"><title>missed: %s</title></line>\n",
                 mx, PLOT_HEIGHT + 1, mx, PLOT_HEIGHT + 7, CAUSE_COLOURS[mark->cause],
                 cause_words(mark->cause));
    }
    *svg += "</g>\n";
}

void add_row(std::string* svg, int row, const char* heading, const RtFigures* figures,
             int64_t period_ns, const char* server_name) {
    int y = TOP + CHART_BLOCK + row * ROW_HEIGHT;
    text_add(svg, "<text class=\"heading\" x=\"%d\" y=\"%d\">%s</text>\n", LEFT, y + 16, heading);
    const ServerFigures* server = &figures->server;
    if (server->measured) {
        text_add(svg,
                 "<text class=\"server\" x=\"%d\" y=\"%d\">In the %s server's cycle: our load "
                 "%.1f %% mean, %.1f %% worst; the server's own load %.1f %% mean, %.1f %% worst, "
                 "%llu xruns</text>\n",
                 LEFT, y + 31, server_name, server->our_load_mean, server->our_load_max,
                 server->load_mean, server->load_max,
                 static_cast<unsigned long long>(server->xruns));
    }
    add_panel(svg, LEFT, y + 44, "processing time", &figures->processing, period_ns, figures,
              false);
    add_panel(svg, LEFT + PANEL_WIDTH + GAP, y + 44, "wake-up lateness", &figures->lateness,
              period_ns, figures, true);
}
// The figure first: streams against the buffer size, one line per test and
// core count (dashed: all cores), the system's dropouts noted at each size.
void add_capacity_chart(std::string* svg, const RtPlan* plan, const RtRunResult* result,
                        const ReadinessReport* readiness, int y) {
    std::vector<uint32_t> sizes;
    std::vector<uint32_t> thread_counts;
    // Each load on its own scale: its count over its kernel-alone bound, so
    // that a chain of plugins at 400 does not lie flat under 9,000 streams.
    double most = 0.05;
    for (const RtConfigResult& config : result->configs) {
        if (std::find(sizes.begin(), sizes.end(), config.frames) == sizes.end()) {
            sizes.push_back(config.frames);
        }
        if (std::find(thread_counts.begin(), thread_counts.end(), config.threads) ==
            thread_counts.end()) {
            thread_counts.push_back(config.threads);
        }
        for (const RtTestResult& test : config.tests) {
            most = test.state == RT_DONE && kernel_bound_share(&test) > most
                       ? kernel_bound_share(&test)
                       : most;
        }
    }
    std::sort(sizes.begin(), sizes.end());
    const int width = 2 * PANEL_WIDTH + GAP;
    auto x_of = [&](uint32_t frames) {
        const auto at = std::find(sizes.begin(), sizes.end(), frames) - sizes.begin();
        return sizes.size() < 2 ? width / 2.0
                                : 30.0 + static_cast<double>(at) * (width - 60.0) /
                                             static_cast<double>(sizes.size() - 1);
    };
    auto y_of = [&](double share) { return CHART_HEIGHT - CHART_HEIGHT * share / (most * 1.1); };
    text_add(svg, "<g class=\"capacity\" transform=\"translate(%d,%d)\">\n", LEFT, y);
    text_add(svg,
             "<text class=\"heading\" x=\"0\" y=\"-12\">What plays, by buffer size at %u Hz, as a "
             "share of each load's kernel-alone bound (solid: 1 core, dashed: all cores)</text>\n",
             plan->rate);
    text_add(svg, "<rect class=\"frame\" x=\"0\" y=\"0\" width=\"%d\" height=\"%d\"/>\n", width,
             CHART_HEIGHT);
    for (int tick = 0; tick <= 4; ++tick) {
        const double share = most * 1.1 * tick / 4;
        text_add(svg, "<text class=\"count\" x=\"-4\" y=\"%.1f\">%.0f %%</text>\n", y_of(share) + 4,
                 share * 100.0);
    }
    for (uint32_t frames : sizes) {
        text_add(svg, "<text class=\"time\" x=\"%.1f\" y=\"%d\">%u</text>\n", x_of(frames),
                 CHART_HEIGHT + 16, frames);
    }
    int legend = 0;
    for (uint32_t threads : thread_counts) {
        for (uint32_t test = 0; test < plan->loads.size(); ++test) {
            const std::string label = load_label(&plan->loads[test]);
            std::string points;
            for (const RtConfigResult& config : result->configs) {
                const RtTestResult* result_of = &config.tests[test];
                if (config.threads != threads || result_of->state != RT_DONE) {
                    continue;
                }
                char point[64];
                std::snprintf(point, sizeof point, "%.1f,%.1f ", x_of(config.frames),
                              y_of(kernel_bound_share(result_of)));
                points += point;
                text_add(svg,
                         "<circle class=\"point\" cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\">"
                         "<title>%s, %u core%s, %u samples: %s plays, %.0f %% of %s</title>"
                         "</circle>\n",
                         x_of(config.frames), y_of(kernel_bound_share(result_of)),
                         LOAD_COLOURS[test], label.c_str(), threads, threads == 1 ? "" : "s",
                         config.frames, thousands(result_of->plays).c_str(),
                         kernel_bound_share(result_of) * 100.0,
                         thousands(result_of->kernel_bound).c_str());
            }
            text_add(svg,
                     "<polyline class=\"capacity-line\" fill=\"none\" stroke=\"%s\" "
                     "stroke-width=\"2\"%s points=\"%s\"/>\n",
                     LOAD_COLOURS[test], threads > 1 ? " stroke-dasharray=\"6 4\"" : "",
                     points.c_str());
            text_add(
                svg,
                "<text class=\"legend\" x=\"%d\" y=\"%d\" fill=\"%s\">%s, %u core%s%s</text>\n",
                width + 8, 12 + 14 * legend++, LOAD_COLOURS[test], label.c_str(), threads,
                threads == 1 ? "" : "s", threads > 1 ? " (dashed)" : "");
        }
    }
    int line = 0;
    for (const RtConfigResult& config : result->configs) {
        for (const std::string& words :
             svg_wrapped(buffer_summary(plan, &config, readiness), VERDICT_CHARACTERS)) {
            if (line < VERDICT_LINES) {
                text_add(svg, "<text class=\"dropouts\" x=\"0\" y=\"%d\">%s</text>\n",
                         CHART_HEIGHT + 36 + 13 * line, svg_escaped(words).c_str());
            }
            line += 1; // past the last line the text report has every verdict
        }
    }
    svg->append("</g>\n");
}
} // namespace

std::string realtime_svg(const MachineReport* machine, const RtPlan* plan,
                         const RtRunResult* result, const ReadinessReport* readiness) {
    int rows = 0;
    for (const RtConfigResult& config : result->configs) {
        rows += config.idle.periods > 0 ? 1 : 0;
        for (const RtTestResult& test : config.tests) {
            rows += test.hold.periods > 0 ? 1 : 0;
        }
    }
    std::string svg;
    const int width = LEFT + 2 * PANEL_WIDTH + GAP + 160;
    const int height = TOP + CHART_BLOCK + rows * ROW_HEIGHT;
    text_add(
        &svg,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d "
        "%d\" font-family=\"sans-serif\" font-size=\"11\">\n",
        width, height, width, height);
    svg += "<style>.frame{fill:none;stroke:#888}.bar{fill:#3a6ea5}"
           ".deadline{stroke:#c00;stroke-dasharray:4 3}.deadline-label{fill:#c00}"
           ".count{text-anchor:end}.time{text-anchor:middle}.overflow{text-anchor:end;fill:#c00}"
           ".heading{font-size:13px;font-weight:bold}</style>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    text_add(&svg, "<text class=\"machine\" x=\"%d\" y=\"20\">%s, %s; %s; %s</text>\n", LEFT,
             svg_escaped(machine->facts.processor).c_str(),
             svg_escaped(machine->facts.kernel).c_str(), svg_escaped(machine->program).c_str(),
             svg_escaped(machine->date).c_str());
    add_capacity_chart(&svg, plan, result, readiness, TOP + 20);
    const int histograms = TOP + CHART_BLOCK;
    text_add(
        &svg,
        "<text x=\"%d\" y=\"%d\">Below: counts of periods on a log axis; the dashed line is the "
        "end of the period; ticks under a panel are missed periods, coloured by cause:</text>\n",
        LEFT, histograms - 24);
    for (uint32_t c = 0; c < MISS_CAUSES; ++c) {
        text_add(&svg, "<text class=\"cause\" x=\"%u\" y=\"%d\" fill=\"%s\">%s</text>\n",
                 LEFT + 100 * c, histograms - 10, CAUSE_COLOURS[c],
                 cause_words(static_cast<MissCause>(c)));
    }
    int row = 0;
    for (const RtConfigResult& config : result->configs) {
        char heading[200];
        const char* cores = config.threads == 1 ? "core" : "cores";
        if (config.idle.periods > 0) {
            std::snprintf(heading, sizeof heading,
                          "Buffer %u at %u Hz (%.2f ms), %u %s: idle system, %llu of %llu "
                          "periods missed",
                          config.frames, plan->rate, ns_to_ms(config.period_ns), config.threads,
                          cores, static_cast<unsigned long long>(config.idle.missed),
                          static_cast<unsigned long long>(config.idle.periods));
            add_row(&svg, row++, heading, &config.idle, config.period_ns,
                    plan->server_name.c_str());
        }
        for (uint32_t t = 0; t < plan->loads.size(); ++t) {
            const RtTestResult* test = &config.tests[t];
            const RtFigures* hold = &test->hold;
            if (hold->periods == 0) {
                continue;
            }
            // The hold the reported count rests on, or the last that failed.
            const bool plays =
                (test->state == RT_DONE || test->state == RT_PLAYS) && hold->streams == test->plays;
            std::snprintf(heading, sizeof heading,
                          "Buffer %u at %u Hz (%.2f ms), %u %s: %s, %u %s: %llu of %llu "
                          "periods missed, %llu allowed",
                          config.frames, plan->rate, ns_to_ms(config.period_ns), config.threads,
                          cores, load_label(&plan->loads[t]).c_str(), hold->streams,
                          plays ? "play" : "do not play",
                          static_cast<unsigned long long>(hold->missed),
                          static_cast<unsigned long long>(hold->periods),
                          static_cast<unsigned long long>(test->terms.allowance));
            add_row(&svg, row++, heading, hold, config.period_ns, plan->server_name.c_str());
        }
    }
    svg += "</svg>\n";
    return svg;
}
