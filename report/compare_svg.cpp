// The comparison of saved reports as an SVG picture: a bar per report in
// each group of figures.
#include "report/compare.h"

#include "report/svg_text.h"

#include <algorithm>

namespace {
constexpr int SVG_WIDTH = 960;
constexpr int SVG_LEFT = 20;
constexpr int SLOT = 44; // one bar and its gap
constexpr int BAR = 32;
constexpr int GROUP_MIN = 130;
constexpr int PLOT_HEIGHT = 120;
constexpr int GROUP_HEIGHT = PLOT_HEIGHT + 110; // figures above, labels below
constexpr size_t FILLS = 8;

// Black on a light tint: plain, hatch, cross-hatch, dots, lines across,
// lines down, grey, thick hatch. Reports after the eighth reuse them and are
// told apart by their numbers.
const char* const FILL_SHAPES[FILLS] = {
    "",
    "<path d=\"M-1,1 l2,-2 M0,8 l8,-8 M7,9 l2,-2\" stroke=\"#000\"/>",
    "<path d=\"M0,0 l8,8 M8,0 l-8,8\" stroke=\"#000\"/>",
    "<circle cx=\"4\" cy=\"4\" r=\"1.5\" fill=\"#000\"/>",
    "<path d=\"M0,4 h8\" stroke=\"#000\"/>",
    "<path d=\"M4,0 v8\" stroke=\"#000\"/>",
    "<rect width=\"8\" height=\"8\" fill=\"#888\"/>",
    "<path d=\"M0,8 l8,-8\" stroke=\"#000\" stroke-width=\"3\"/>"};
const char* const FILL_TINTS[FILLS] = {"#ffffff", "#dce8f5", "#f5e3d0", "#e0f0dc",
                                       "#efe0f2", "#f7f3cf", "#ffffff", "#dfe9ea"};

// One group: a bar per report of the row's mode on the group's own scale,
// its figure above, its number below and, in real time, a diamond with the
// dropouts per minute.
void add_group(std::string* svg, int x, int y, const std::vector<ReportRecord>& reports,
               const CompareRow* row) {
    int64_t top = 1;
    for (const CompareCell& cell : row->cells) {
        top = cell.known ? std::max(top, cell.value) : top;
    }
    text_add(svg, "<g class=\"group\" transform=\"translate(%d,%d)\">\n", x, y);
    int bar = 0;
    for (size_t r = 0; r < reports.size(); ++r) {
        const CompareCell* cell = &row->cells[r];
        if (reports[r].realtime != row->realtime) {
            continue;
        }
        const int bx = bar++ * SLOT;
        const double height =
            cell->known ? PLOT_HEIGHT * static_cast<double>(cell->value) / static_cast<double>(top)
                        : 0.0;
        const std::string figure = !cell->present  ? "-"
                                   : cell->known   ? std::to_string(cell->value)
                                   : row->realtime ? cell->state
                                                   : "no figure";
        text_add(svg,
                 "<rect class=\"bar\" x=\"%d\" y=\"%.1f\" width=\"%d\" height=\"%.1f\" "
                 "fill=\"url(#fill%zu)\"><title>[%zu] %s</title></rect>\n",
                 bx, PLOT_HEIGHT - height, BAR, height, r % FILLS, r + 1,
                 svg_escaped(figure).c_str());
        if (cell->known) {
            text_add(svg, "<text class=\"figure\" x=\"%d\" y=\"%.1f\">%s</text>\n", bx + BAR / 2,
                     PLOT_HEIGHT - height - 4, figure.c_str());
        } else {
            text_add(svg,
                     "<text class=\"state\" transform=\"rotate(-90 %d %d)\" x=\"%d\" y=\"%d\">%s"
                     "</text>\n",
                     bx + BAR / 2 + 3, PLOT_HEIGHT - 4, bx + BAR / 2 + 3, PLOT_HEIGHT - 4,
                     svg_escaped(figure).c_str());
        }
        text_add(svg, "<text class=\"number\" x=\"%d\" y=\"%d\">[%zu]</text>\n", bx + BAR / 2,
                 PLOT_HEIGHT + 14, r + 1);
        if (row->realtime && cell->present) {
            text_add(svg,
                     "<path class=\"dropout\" d=\"M%d,%d l4,4 l-4,4 l-4,-4 z\"/>"
                     "<text class=\"dropouts\" x=\"%d\" y=\"%d\">%s</text>\n",
                     bx + 4, PLOT_HEIGHT + 20, bx + 10, PLOT_HEIGHT + 28,
                     cell->dropouts_known ? dropouts_figure(cell->dropouts_per_minute).c_str()
                                          : "-");
        }
    }
    text_add(svg, "<line class=\"axis\" x1=\"-4\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>\n", PLOT_HEIGHT,
             bar * SLOT - SLOT + BAR + 4, PLOT_HEIGHT);
    // "1024 samples" over "ZEM-2, 1 core"; "ZEM-1 cycles/smp." over "at 44100 Hz".
    size_t split = row->realtime ? row->label.find(", ") : row->label.find(" at ");
    std::string first = row->label.substr(0, split);
    std::string second = split == std::string::npos ? "" : row->label.substr(split + 1);
    second.erase(0, second.find_first_not_of(' '));
    text_add(svg,
             "<text class=\"group-label\" x=\"0\" y=\"%d\">%s</text>\n"
             "<text class=\"group-label\" x=\"0\" y=\"%d\">%s</text>\n</g>\n",
             PLOT_HEIGHT + 48, svg_escaped(first).c_str(), PLOT_HEIGHT + 62,
             svg_escaped(second).c_str());
}

// The groups of one mode left to right, wrapping; returns the y below them.
int add_chart(std::string* svg, int y, const char* title, const std::vector<ReportRecord>& reports,
              const std::vector<CompareRow>& rows, bool realtime) {
    int bars = 0;
    for (const ReportRecord& report : reports) {
        bars += report.realtime == realtime ? 1 : 0;
    }
    const int group_width = std::max(GROUP_MIN, bars * SLOT + 24);
    int x = SVG_LEFT;
    bool titled = false;
    for (const CompareRow& row : rows) {
        if (row.realtime != realtime) {
            continue;
        }
        if (!titled) {
            text_add(svg, "<text class=\"heading\" x=\"%d\" y=\"%d\">%s</text>\n", SVG_LEFT, y + 16,
                     title);
            y += 50;
            titled = true;
        }
        if (x + group_width > SVG_WIDTH) {
            x = SVG_LEFT;
            y += GROUP_HEIGHT;
        }
        add_group(svg, x, y, reports, &row);
        x += group_width;
    }
    return titled ? y + GROUP_HEIGHT : y;
}
} // namespace

std::string compare_svg(const std::vector<ReportRecord>& reports, const Comparison* comparison) {
    std::string body;
    text_add(&body, "<text class=\"heading\" x=\"%d\" y=\"24\">Comparison of %zu reports</text>\n",
             SVG_LEFT, reports.size());
    int y = 44;
    for (size_t r = 0; r < reports.size(); ++r, y += 20) {
        const ReportRecord* report = &reports[r];
        text_add(&body,
                 "<g class=\"legend\"><rect class=\"swatch\" x=\"%d\" y=\"%d\" width=\"24\" "
                 "height=\"14\" "
                 "fill=\"url(#fill%zu)\"/><text x=\"%d\" y=\"%d\">[%zu] %s, %s: %s</text></g>\n",
                 SVG_LEFT, y, r % FILLS, SVG_LEFT + 32, y + 11, r + 1,
                 svg_escaped(report->name).c_str(), svg_escaped(report->date).c_str(),
                 report->realtime ? "real-time" : "throughput");
    }
    text_add(&body,
             "<text x=\"%d\" y=\"%d\">Each group has its own scale; the figure is above its bar. "
             "Figures only some reports have are in the text comparison.</text>\n",
             SVG_LEFT, y + 12);
    y = add_chart(&body, y + 20,
                  "Real-time capacity: streams held; \xE2\x97\x86 dropouts per minute "
                  "(- : not in a version-1 report)",
                  reports, comparison->rows, true);
    y = add_chart(&body, y, "Throughput (median over each file's runs)", reports, comparison->rows,
                  false);
    std::string svg;
    text_add(
        &svg,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d "
        "%d\" font-family=\"sans-serif\" font-size=\"11\">\n",
        SVG_WIDTH, y, SVG_WIDTH, y);
    svg += "<style>.bar,.swatch{stroke:#000}.axis{stroke:#000}.dropout{fill:#000}"
           ".figure,.number{text-anchor:middle;font-size:10px}.state{font-size:9px}"
           ".dropouts{font-size:9px}.heading{font-size:13px;font-weight:bold}</style>\n<defs>\n";
    for (size_t f = 0; f < std::min(FILLS, reports.size()); ++f) {
        text_add(&svg,
                 "<pattern id=\"fill%zu\" width=\"8\" height=\"8\" patternUnits=\"userSpaceOnUse\">"
                 "<rect width=\"8\" height=\"8\" fill=\"%s\"/>%s</pattern>\n",
                 f, FILL_TINTS[f], FILL_SHAPES[f]);
    }
    svg += "</defs>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += body;
    svg += "</svg>\n";
    return svg;
}
