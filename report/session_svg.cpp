// A session's picture: at each buffer size held, the verdict in words, where
// the hold's and the idle run's periods ended, and the routes' times.
#include "report/session_report.h"

#include "report/session_words.h"
#include "report/svg_text.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int WIDTH = 1000;
constexpr int MARGIN = 20;
constexpr int FONT = 11; // pixels, the words' size unless given
constexpr int HEADING_FONT = 13;
constexpr int TITLE_FONT = 15;
// Words are wrapped to the width as if every character took this share of
// its font's size, more than any but the widest glyphs take.
constexpr double CHARACTER_EM = 0.6;
constexpr int HISTOGRAM_LEFT = 60; // past the count labels
constexpr int HISTOGRAM_WIDTH = 400;
constexpr int HISTOGRAM_HEIGHT = 60; // each of the hold's and the idle run's
constexpr int ROUTES_LEFT = 520;
constexpr int NAME_WIDTH = 140;
constexpr int BAR_LEFT = ROUTES_LEFT + NAME_WIDTH;
constexpr int BAR_ROW = 15;
constexpr size_t ROUTES_SHOWN = 12;

size_t characters_in(int pixels, int font) {
    return static_cast<size_t>(pixels / (CHARACTER_EM * font));
}

// `text` cut to `characters`, at a character's start, marked as cut.
std::string clipped(const std::string& text, size_t characters) {
    if (text.size() <= characters) {
        return text;
    }
    size_t end = characters > 3 ? characters - 3 : 0;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end) + "\xE2\x80\xA6";
}

// One text element; `font` 0 for the picture's own size.
void add_text(std::string* svg, double x, double y, const std::string& words, const char* anchor,
              int font = 0, const char* weight = nullptr) {
    text_add(svg, "<text x=\"%.1f\" y=\"%.1f\"", x, y);
    if (anchor != nullptr) {
        text_add(svg, " text-anchor=\"%s\"", anchor);
    }
    if (font != 0) {
        text_add(svg, " font-size=\"%d\"", font);
    }
    if (weight != nullptr) {
        text_add(svg, " font-weight=\"%s\"", weight);
    }
    text_add(svg, ">%s</text>\n", svg_escaped(words).c_str());
}

// `words` wrapped to `width` pixels from x, the first line's baseline at
// *y; *y moves past the last line.
void add_lines(std::string* svg, int x, int* y, int width, const std::string& words, int font,
               const char* weight = nullptr) {
    for (const std::string& line : svg_wrapped(words, characters_in(width, font))) {
        add_text(svg, x, *y, line, nullptr, font == FONT ? 0 : font, weight);
        *y += font + 5;
    }
}

double count_height(uint64_t count, uint64_t tallest) {
    return HISTOGRAM_HEIGHT * std::log10(static_cast<double>(count) + 1.0) /
           std::log10(static_cast<double>(tallest) + 1.0);
}

// One run's periods by where they ended, the counts on a log axis shared
// with the other run's; past the period's end (shaded) the missed periods.
void add_histogram(std::string* svg, int y, const char* run, const EndShares& ends,
                   uint64_t tallest, const std::string& label) {
    const double bin = static_cast<double>(HISTOGRAM_WIDTH) / END_BINS;
    const double end_x = HISTOGRAM_LEFT + bin * END_BINS_IN_PERIOD;
    add_text(svg, HISTOGRAM_LEFT, y - 4, label, nullptr);
    text_add(svg,
             "<rect class=\"late\" x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\"/>\n"
             "<rect class=\"frame\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\"/>\n",
             end_x, y, HISTOGRAM_LEFT + HISTOGRAM_WIDTH - end_x, HISTOGRAM_HEIGHT, HISTOGRAM_LEFT,
             y, HISTOGRAM_WIDTH, HISTOGRAM_HEIGHT);
    for (uint32_t b = 0; b < END_BINS; ++b) {
        if (ends.bins[b] == 0) {
            continue;
        }
        const double height = count_height(ends.bins[b], tallest);
        text_add(svg,
                 "<rect class=\"%s-bar\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\">"
                 "<title>%llu</title></rect>\n",
                 run, HISTOGRAM_LEFT + b * bin, y + HISTOGRAM_HEIGHT - height, bin - 1.0, height,
                 static_cast<unsigned long long>(ends.bins[b]));
    }
    // Every other decade where they would crowd.
    const double step = tallest >= 100000 ? 100.0 : 10.0;
    for (double count = 1.0; count <= static_cast<double>(tallest); count *= step) {
        char words[32];
        std::snprintf(words, sizeof words, "%.0f", count);
        add_text(svg, HISTOGRAM_LEFT - 4,
                 y + HISTOGRAM_HEIGHT - count_height(static_cast<uint64_t>(count), tallest) + 4,
                 words, "end");
    }
    text_add(svg, "<line class=\"period-end\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\"/>\n",
             end_x, y - 2, end_x, y + HISTOGRAM_HEIGHT + 2);
}

// Both runs' histograms, the period's ends axis under them; *y moves past.
void add_ends(std::string* svg, const SessionVerdict& v, int* y) {
    uint64_t tallest = 1;
    for (uint32_t b = 0; b < END_BINS; ++b) {
        tallest = std::max({tallest, v.hold_ends.bins[b], v.idle_ends.bins[b]});
    }
    char label[160];
    std::snprintf(label, sizeof label,
                  "the session's hold: %llu periods, %llu missed (%llu allowed)",
                  static_cast<unsigned long long>(v.ran), static_cast<unsigned long long>(v.missed),
                  static_cast<unsigned long long>(v.allowance));
    add_histogram(svg, *y + 14, "hold", v.hold_ends, tallest, label);
    std::snprintf(label, sizeof label, "the idle system: %llu periods, %llu missed",
                  static_cast<unsigned long long>(v.idle.periods),
                  static_cast<unsigned long long>(v.idle.missed));
    const int idle_y = *y + 14 + HISTOGRAM_HEIGHT + 20;
    add_histogram(svg, idle_y, "idle", v.idle_ends, tallest, label);
    const int axis_y = idle_y + HISTOGRAM_HEIGHT + 14;
    for (int share = 0; share < 200; share += 50) {
        add_text(svg, HISTOGRAM_LEFT + HISTOGRAM_WIDTH * share / 200.0, axis_y,
                 std::to_string(share) + (share == 100 ? " % = period end" : " %"), "middle");
    }
    *y = axis_y + 16;
    add_text(svg, HISTOGRAM_LEFT, *y,
             "where each period ended, as a share of it (the last bar: past 195 %)", nullptr);
    *y += 4;
}

std::string figure_words(int64_t ns) {
    char words[32];
    std::snprintf(words, sizeof words, "%.3f", static_cast<double>(ns) / 1e6);
    return words;
}

// The costliest routes' median (filled) and p99.9 (outlined) times, on
// this size's own scale; *y moves past.
void add_routes(std::string* svg, const SessionRun* run, const SessionVerdict& v, int* y) {
    const size_t shown = std::min(v.routes.size(), ROUTES_SHOWN);
    int64_t longest = 1;
    size_t figures = 0;
    for (size_t k = 0; k < shown; ++k) {
        longest = std::max(longest, v.routes[k].p999_ns);
        figures = std::max(figures, figure_words(v.routes[k].median_ns).size() +
                                        figure_words(v.routes[k].p999_ns).size() + 6);
    }
    int top = *y + 10;
    add_lines(svg, ROUTES_LEFT, &top, WIDTH - MARGIN - ROUTES_LEFT,
              "the routes, the costliest first: median (filled) and p99.9 (outline) in ms; * on "
              "the critical path",
              FONT);
    const double figures_width = CHARACTER_EM * FONT * static_cast<double>(figures) + 6.0;
    const double bar_width = WIDTH - MARGIN - BAR_LEFT - figures_width;
    const auto scale = static_cast<double>(longest);
    for (size_t k = 0; k < shown; ++k) {
        const RouteTimes& times = v.routes[k];
        const bool on_path = std::find(v.critical.routes.begin(), v.critical.routes.end(),
                                       times.route) != v.critical.routes.end();
        const int row = top + static_cast<int>(k) * BAR_ROW;
        const std::string name =
            clipped(run->route_names[times.route], characters_in(NAME_WIDTH - 8, FONT) - 2);
        add_text(svg, ROUTES_LEFT, row + 10, name + (on_path ? " *" : ""), nullptr);
        const double p999 = bar_width * static_cast<double>(times.p999_ns) / scale;
        const double median = bar_width * static_cast<double>(times.median_ns) / scale;
        text_add(svg,
                 "<rect class=\"p999\" x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"11\"/>\n"
                 "<rect class=\"median\" x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"11\"/>\n",
                 BAR_LEFT, row + 1, p999, BAR_LEFT, row + 1, median);
        add_text(svg, BAR_LEFT + std::max(p999, median) + 4, row + 10,
                 figure_words(times.median_ns) + " / " + figure_words(times.p999_ns) + " ms",
                 nullptr);
    }
    *y = top + static_cast<int>(shown) * BAR_ROW + 12;
    if (v.routes.size() > shown) {
        add_text(svg, ROUTES_LEFT, *y,
                 "(" + std::to_string(v.routes.size() - shown) + " more in the text report)",
                 nullptr);
        *y += FONT + 5;
    }
}

// One size held: its verdict, its periods' ends and its routes' times.
void add_size(std::string* svg, const SessionRun* run, const SessionVerdict& v, int* y) {
    const int words_width = WIDTH - 2 * MARGIN;
    *svg += "<g class=\"size\">\n";
    add_lines(svg, MARGIN, y, words_width, session_size_words(v), HEADING_FONT, "bold");
    add_lines(svg, MARGIN, y, words_width, session_missed_words(v), FONT);
    add_lines(svg, MARGIN, y, words_width, session_use_words(v) + "; " + session_path_words(run, v),
              FONT);
    int ends_y = *y;
    int routes_y = *y;
    add_ends(svg, v, &ends_y);
    add_routes(svg, run, v, &routes_y);
    *y = std::max(ends_y, routes_y) + 10;
    *svg += "</g>\n";
}

void add_rule(std::string* svg, int* y) {
    text_add(svg, "<line class=\"rule\" x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", MARGIN, *y,
             WIDTH - MARGIN, *y);
    *y += 22;
}
} // namespace

std::string session_svg(const MachineReport* machine, const Session* session,
                        const SessionRun* run) {
    std::string body;
    int y = 28;
    const int words_width = WIDTH - 2 * MARGIN;
    add_lines(&body, MARGIN, &y, words_width,
              "Session " + session->name + ": " +
                  (run->verdicts.empty() ? "no size was held" : session_verdict(run) + "."),
              TITLE_FONT, "bold");
    add_lines(&body, MARGIN, &y, words_width,
              std::string(machine->facts.processor) + ", " + machine->facts.kernel + "; " +
                  machine->program + "; " + machine->date,
              FONT);
    add_lines(&body, MARGIN, &y, words_width,
              "At each size: where each period of the session's hold ended, and of the idle "
              "system's run before it, whose misses set the hold's allowance (counts on a log "
              "axis; the dashed line is the period's end, the shaded part past it the missed "
              "periods); then the routes' times. Each size on its own scale.",
              FONT);
    y += 6;
    for (const SessionVerdict& v : run->verdicts) {
        add_rule(&body, &y);
        add_size(&body, run, v, &y);
    }
    if (!run->failure.empty()) {
        add_rule(&body, &y);
        add_lines(&body, MARGIN, &y, words_width,
                  run->failed_frames == 0
                      ? std::string("No verdict")
                      : "At " + std::to_string(run->failed_frames) + " samples: no verdict",
                  HEADING_FONT, "bold");
        add_lines(&body, MARGIN, &y, words_width, "The session could not be run: " + run->failure,
                  FONT);
    } else if (run->stop_signal != 0) {
        add_rule(&body, &y);
        add_lines(&body, MARGIN, &y, words_width,
                  "Stopped by signal " + std::to_string(run->stop_signal), FONT);
    }
    const int height = y + 10;
    std::string svg;
    text_add(
        &svg,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d "
        "%d\" font-family=\"sans-serif\" font-size=\"%d\">\n",
        WIDTH, height, WIDTH, height, FONT);
    svg += "<style>.frame{fill:none;stroke:#000}.late{fill:#ddd}.hold-bar,.idle-bar{fill:#333}"
           ".period-end{stroke:#000;stroke-width:1.5;stroke-dasharray:5 3}"
           ".median{fill:#444}.p999{fill:#fff;stroke:#000}.rule{stroke:#999}</style>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += body;
    svg += "</svg>\n";
    return svg;
}
