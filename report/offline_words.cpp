// A chain's offline timing in words, and what it flags.
#include "report/offline_words.h"

#include "engine/realtime/plugin_cost.h"
#include "platform/common/echoed.h"
#include "report/readiness_report.h"

#include <cmath>
#include <cstdio>

namespace {
bool timed_as_chain(const RtLoad* load, const RtTestResult* test) {
    return load->kind == RT_PLUGINS && test->state != RT_NOT_RUN && test->offline_settle_blocks > 0;
}

// What it heard was something to work on: a signal, or notes.
bool heard_something(const RtLoad* load) {
    return load->order.input != PLUGIN_SILENCE;
}

// What a chain that heard something gave, when that says it may have done
// nothing; nullptr when it gave a sound of its own or has no output.
const char* gave_words(PluginOutputShape shape) {
    switch (shape) {
    case PLUGIN_OUTPUT_SILENT:
        return "silence";
    case PLUGIN_OUTPUT_INPUT:
        return "its input unchanged";
    case PLUGIN_OUTPUT_SCALED:
        return "only its input times a constant, as a gain does";
    case PLUGIN_OUTPUT_SOUND:
    case PLUGIN_OUTPUT_NONE:
        break;
    }
    return nullptr;
}
} // namespace

const char* output_shape_name(PluginOutputShape shape) {
    switch (shape) {
    case PLUGIN_OUTPUT_SOUND:
        return "sound";
    case PLUGIN_OUTPUT_SILENT:
        return "silent";
    case PLUGIN_OUTPUT_INPUT:
        return "its input";
    case PLUGIN_OUTPUT_SCALED:
        return "its input scaled";
    case PLUGIN_OUTPUT_NONE:
        break;
    }
    return "none";
}

std::string settle_words(const RtLoad* load, const RtTestResult* test) {
    if (!timed_as_chain(load, test)) {
        return "";
    }
    const std::string blocks = thousands(test->offline_settle_blocks);
    if (test->offline_settled) {
        return "settled after " + blocks + " blocks";
    }
    char text[120];
    std::snprintf(text, sizeof text, "had not settled after %s blocks (%.0f s)", blocks.c_str(),
                  static_cast<double>(SETTLE_MAX_NS) / 1e9);
    return text;
}

std::string offline_flags(const RtLoad* load, const RtTestResult* test) {
    if (!timed_as_chain(load, test)) {
        return "";
    }
    const std::string name = echoed(load->name);
    std::string text;
    const char* gave = heard_something(load) ? gave_words(test->offline_output) : nullptr;
    if (gave != nullptr) {
        text += "; offline, " + name + " gave " + gave + ": did it do " +
                (test->offline_output == PLUGIN_OUTPUT_SCALED ? "more" : "any work") +
                " (no sample or response loaded?)";
    }
    if (!test->offline_settled) {
        text += "; " + name + " " + settle_words(load, test) + " when it was timed offline";
    }
    const double offline = test->stream_ns_offline, inside = test->stream_ns_in_confirm;
    if (gave == nullptr && offline > 0.0 && inside > 0.0 &&
        std::fabs(inside - offline) >= OFFLINE_COST_FLOOR_NS) {
        const double ratio = inside / offline;
        if (ratio >= OFFLINE_COST_FLAG || ratio <= 1.0 / OFFLINE_COST_FLAG) {
            char note[240];
            std::snprintf(note, sizeof note,
                          "; %s cost %.2fx its offline cost a stream inside the hold: its bound "
                          "and offline line do not show what it does in a run",
                          name.c_str(), ratio);
            text += note;
        }
    }
    return text;
}
