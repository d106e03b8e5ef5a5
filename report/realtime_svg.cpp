#include "report/realtime_report.h"

#include <cmath>
#include <cstdarg>

namespace {
constexpr int COLUMNS = 60;
constexpr int PANEL_WIDTH = 400;
constexpr int PLOT_HEIGHT = 130;
constexpr int ROW_HEIGHT = 200;
constexpr int LEFT = 50;
constexpr int GAP = 60;
constexpr int TOP = 50;

__attribute__((format(printf, 2, 3))) void add(std::string* svg, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    *svg += text;
}

std::string escaped(const char* text) {
    std::string out;
    for (; *text != '\0'; ++text) {
        switch (*text) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += *text;
        }
    }
    return out;
}

// One histogram: bars on a linear time axis up to a little past the larger of
// the period and the maximum, log count axis, the period's end dashed.
void add_panel(std::string* svg, int x, int y, const char* title, const Histogram* histogram,
               int64_t period_ns) {
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
    add(svg, "<g class=\"panel\" transform=\"translate(%d,%d)\">\n", x, y);
    add(svg, "<text class=\"title\" x=\"0\" y=\"-6\">%s</text>\n", title);
    add(svg, "<rect class=\"frame\" x=\"0\" y=\"0\" width=\"%d\" height=\"%d\"/>\n", PANEL_WIDTH,
        PLOT_HEIGHT);
    const double column_width = static_cast<double>(PANEL_WIDTH) / COLUMNS;
    for (int c = 0; c < COLUMNS; ++c) {
        if (columns[c] == 0) {
            continue;
        }
        double height = PLOT_HEIGHT * std::log10(static_cast<double>(columns[c]) + 1.0) / decades;
        add(svg,
            "<rect class=\"bar\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"><title>%llu"
            "</title></rect>\n",
            c * column_width, PLOT_HEIGHT - height, column_width - 1.0, height,
            static_cast<unsigned long long>(columns[c]));
    }
    for (double count = 1.0; count <= static_cast<double>(tallest); count *= 10.0) {
        double ty = PLOT_HEIGHT - PLOT_HEIGHT * std::log10(count + 1.0) / decades;
        add(svg, "<text class=\"count\" x=\"-4\" y=\"%.1f\">%.0f</text>\n", ty + 4, count);
    }
    for (int tick = 0; tick <= 4; ++tick) {
        double value_ms = static_cast<double>(span) * tick / 4 / 1e6;
        add(svg, "<text class=\"time\" x=\"%d\" y=\"%d\">%.3g ms</text>\n", tick * PANEL_WIDTH / 4,
            PLOT_HEIGHT + 16, value_ms);
    }
    double deadline = static_cast<double>(PANEL_WIDTH) * static_cast<double>(period_ns) /
                      static_cast<double>(span);
    add(svg,
        "<line class=\"deadline\" x1=\"%.1f\" y1=\"0\" x2=\"%.1f\" y2=\"%d\"/>\n"
        "<text class=\"deadline-label\" x=\"%.1f\" y=\"12\">period end</text>\n",
        deadline, deadline, PLOT_HEIGHT, deadline + 3);
    if (histogram->overflow > 0) {
        add(svg, "<text class=\"overflow\" x=\"%d\" y=\"24\">%llu over %lld s</text>\n",
            PANEL_WIDTH - 4, static_cast<unsigned long long>(histogram->overflow),
            static_cast<long long>(HISTOGRAM_LIMIT_NS / 1000000000));
    }
    *svg += "</g>\n";
}

void add_row(std::string* svg, int row, const char* heading, const RtFigures* figures,
             int64_t period_ns, const char* server_name) {
    int y = TOP + row * ROW_HEIGHT;
    add(svg, "<text class=\"heading\" x=\"%d\" y=\"%d\">%s</text>\n", LEFT, y + 16, heading);
    const ServerFigures* server = &figures->server;
    if (server->measured) {
        add(svg,
            "<text class=\"server\" x=\"%d\" y=\"%d\">In the %s server's cycle: our load "
            "%.1f %% mean, %.1f %% worst; the server's own load %.1f %% mean, %.1f %% worst, "
            "%llu xruns</text>\n",
            LEFT, y + 31, server_name, server->our_load_mean, server->our_load_max,
            server->load_mean, server->load_max, static_cast<unsigned long long>(server->xruns));
    }
    add_panel(svg, LEFT, y + 44, "processing time", &figures->processing, period_ns);
    add_panel(svg, LEFT + PANEL_WIDTH + GAP, y + 44, "wake-up lateness", &figures->lateness,
              period_ns);
}
} // namespace

std::string realtime_svg(const MachineReport* machine, const RtPlan* plan,
                         const RtRunResult* result) {
    int rows = 0;
    for (const RtConfigResult& config : result->configs) {
        rows += config.idle.periods > 0 ? 1 : 0;
        for (const RtTestResult& test : config.tests) {
            rows += test.confirm.periods > 0 ? 1 : 0;
        }
    }
    std::string svg;
    const int width = LEFT + 2 * PANEL_WIDTH + GAP + 40;
    add(&svg,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d "
        "%d\" font-family=\"sans-serif\" font-size=\"11\">\n",
        width, TOP + rows * ROW_HEIGHT, width, TOP + rows * ROW_HEIGHT);
    svg += "<style>.frame{fill:none;stroke:#888}.bar{fill:#3a6ea5}"
           ".deadline{stroke:#c00;stroke-dasharray:4 3}.deadline-label{fill:#c00}"
           ".count{text-anchor:end}.time{text-anchor:middle}.overflow{text-anchor:end;fill:#c00}"
           ".heading{font-size:13px;font-weight:bold}</style>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    add(&svg, "<text class=\"machine\" x=\"%d\" y=\"20\">%s, %s; %s; %s</text>\n", LEFT,
        escaped(machine->facts.processor).c_str(), escaped(machine->facts.kernel).c_str(),
        escaped(machine->program).c_str(), escaped(machine->date).c_str());
    add(&svg,
        "<text x=\"%d\" y=\"36\">Counts of periods on a log axis; the dashed line is the end of "
        "the period.</text>\n",
        LEFT);
    int row = 0;
    for (const RtConfigResult& config : result->configs) {
        char heading[200];
        const char* cores = config.threads == 1 ? "core" : "cores";
        if (config.idle.periods > 0) {
            std::snprintf(heading, sizeof heading,
                          "Buffer %u at %u Hz (%.2f ms), %u %s: idle system, %llu of %llu "
                          "periods missed",
                          config.frames, plan->rate, static_cast<double>(config.period_ns) / 1e6,
                          config.threads, cores,
                          static_cast<unsigned long long>(config.idle.missed),
                          static_cast<unsigned long long>(config.idle.periods));
            add_row(&svg, row++, heading, &config.idle, config.period_ns,
                    plan->server_name.c_str());
        }
        for (uint32_t t = 0; t < RT_TESTS; ++t) {
            const RtFigures* confirm = &config.tests[t].confirm;
            if (confirm->periods == 0) {
                continue;
            }
            std::snprintf(heading, sizeof heading,
                          "Buffer %u at %u Hz (%.2f ms), %u %s: %s, %u streams, %llu of %llu "
                          "periods missed",
                          config.frames, plan->rate, static_cast<double>(config.period_ns) / 1e6,
                          config.threads, cores, RT_TEST_NAMES[t], confirm->streams,
                          static_cast<unsigned long long>(confirm->missed),
                          static_cast<unsigned long long>(confirm->periods));
            add_row(&svg, row++, heading, confirm, config.period_ns, plan->server_name.c_str());
        }
    }
    svg += "</svg>\n";
    return svg;
}
