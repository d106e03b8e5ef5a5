// The test plugins: one LV2 binary, one descriptor per kind (the bundle's
// zem-test.ttl describes them). A gain, mono and stereo; and plugins that
// each do one thing a host must survive or see: crash in run, at once or
// after CRASH_AFTER calls, hang, write NaN, allocate, open a file or start a
// thread in run, require a feature no host has, schedule work, hang in
// instantiate (always, or when its library was loaded before in the
// process), print to the standard output and error; an
// instrument that sounds while a note is held; a MIDI plugin that writes a
// note-on each period; a gain whose side-chain's peak shows on a control
// output; and four gains that labour,
// a serial chain of multiply-adds a sample, heavier in phases of audio time
// (frames run since activate, so that instances activated together are
// heavy together): a burst of 4 times the work for 50 ms of every 400 ms,
// a slow phase of 1.6 times for 1 s of every 3 s, and each of those always.
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

namespace {
enum Kind {
    GAIN,
    STEREO,
    CRASH,
    CRASH_LATER,
    HANG,
    NOT_A_NUMBER,
    ALLOCATE,
    OPEN_FILE,
    THREAD,
    UNKNOWN_FEATURE,
    WORKER,
    INSTRUMENT,
    BURST,
    BURST_ALWAYS,
    SLOW_PHASE,
    SLOW_ALWAYS,
    HANG_OPEN,
    RELOAD,
    PRINT,
    NOTE_EACH_PERIOD,
    SIDE_CHAIN,
    HUNGRY,
    LATE_LOAD,
    KINDS
};
const char* const NAMES[KINDS] = {
    "gain",        "stereo",     "crash",    "crash-later",  "hang",
    "nan",         "alloc",      "file",     "thread",       "unknown-feature",
    "worker",      "instrument", "burst",    "burst-always", "slow-phase",
    "slow-always", "hang-open",  "reload",   "print",        "note-each-period",
    "side-chain",  "hungry",     "late-load"};
// Past validation's warm-up blocks, well inside a trial's periods.
constexpr uint64_t CRASH_AFTER = 300;
// Above glibc's first mmap threshold, so that the kernel sees it too.
constexpr size_t ALLOCATE_BYTES = 1 << 20;
// The hungry plugin's own memory an instance, every page touched.
constexpr size_t HUNGRY_BYTES = size_t{64} << 20;
// The labouring gains: BASE_STEPS dependent multiply-adds a sample, some
// 15 to 20 ns on a current x86 core, x = x * LEAK + DRIVE each, the first
// one also taking the input. The leak is slow, so that x remembers how much
// work was done, and it settles at REST; what it strays from REST is mixed
// into the output some 60 dB down.
constexpr uint32_t BASE_STEPS = 10;
constexpr uint32_t BURST_STEPS = 4 * BASE_STEPS;
constexpr uint32_t SLOW_STEPS = BASE_STEPS * 16 / 10;
constexpr float LEAK = 1.0f - 0x1.0p-10f;
constexpr float DRIVE = 0.5f * 0x1.0p-10f; // (1 - LEAK) * REST
constexpr float REST = 0.5f;
constexpr float INPUT_DRIVE = 0x1.0p-10f;
constexpr float MIX = 0x1.0p-10f;
constexpr double BURST_S = 0.05, BURST_EVERY_S = 0.4;
constexpr double SLOW_S = 1.0, SLOW_EVERY_S = 3.0;
// How long the late load's worker takes to load what it plays.
constexpr auto LOAD_TIME = std::chrono::milliseconds(5);

// Set as the library loads: whether it was loaded before in this process
// (the environment outlives an unloading, the library's memory does not).
bool mark_loaded() {
    const bool before = std::getenv("ZEM_TEST_LOADED") != nullptr;
    setenv("ZEM_TEST_LOADED", "1", 1);
    return before;
}
const bool LOADED_BEFORE = mark_loaded();
int* volatile nowhere = nullptr; // the crash's address, unknown to the compiler
volatile bool spinning = true;   // the hang's, never cleared

struct Plugin {
    Kind kind;
    void* ports[5];
    uint64_t runs;
    void* block;
    std::thread thread;
    std::atomic<bool> stop;
    LV2_URID midi_event, sequence;
    LV2_Worker_Schedule* schedule;
    std::thread::id run_thread, work_thread;
    int held;
    bool asked, loaded; // the late load: its load asked for, and done
    // The labouring gains: frames into the cycle, the first heavy_frames of
    // every cycle_frames heavy, and the chain's value.
    uint64_t cycle_frames, heavy_frames, at;
    uint32_t heavy_steps;
    float x;
};

float* port(Plugin* plugin, int index) {
    return static_cast<float*>(plugin->ports[index]);
}

uint64_t frames_of(double seconds, double rate) {
    double frames = seconds * rate + 0.5;
    return frames < 1.0 ? 1 : static_cast<uint64_t>(frames);
}

// Heavy for `heavy_s` of every `every_s` seconds; both 0: always.
void set_phases(Plugin* plugin, double rate, double heavy_s, double every_s, uint32_t steps) {
    plugin->cycle_frames = every_s > 0.0 ? frames_of(every_s, rate) : 1;
    plugin->heavy_frames = every_s > 0.0 ? frames_of(heavy_s, rate) : 1;
    plugin->heavy_steps = steps;
}

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double rate, const char*,
                       const LV2_Feature* const* features) {
    auto* plugin = new Plugin{};
    plugin->kind = KINDS;
    for (int k = 0; k < KINDS; ++k) {
        plugin->kind = std::strcmp(descriptor->URI + 13, NAMES[k]) == 0 ? Kind(k) : plugin->kind;
    }
    for (int f = 0; features[f] != nullptr; ++f) {
        if (std::strcmp(features[f]->URI, LV2_URID__map) == 0) {
            auto* map = static_cast<LV2_URID_Map*>(features[f]->data);
            plugin->midi_event = map->map(map->handle, LV2_MIDI__MidiEvent);
            plugin->sequence = map->map(map->handle, LV2_ATOM__Sequence);
        } else if (std::strcmp(features[f]->URI, LV2_WORKER__schedule) == 0) {
            plugin->schedule = static_cast<LV2_Worker_Schedule*>(features[f]->data);
        }
    }
    if (plugin->kind == HANG_OPEN || (plugin->kind == RELOAD && LOADED_BEFORE)) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(1));
        }
    }
    if (plugin->kind == PRINT) {
        std::printf("ZEM test print: instantiated at %.0f Hz\n", rate); // left in stdio's buffer
    }
    if (plugin->kind == HUNGRY) {
        plugin->block = std::malloc(HUNGRY_BYTES);
        if (plugin->block == nullptr) {
            delete plugin;
            return nullptr;
        }
        std::memset(plugin->block, 1, HUNGRY_BYTES);
    }
    if (((plugin->kind == WORKER || plugin->kind == LATE_LOAD) && plugin->schedule == nullptr) ||
        ((plugin->kind == INSTRUMENT || plugin->kind == NOTE_EACH_PERIOD) &&
         plugin->midi_event == 0)) {
        delete plugin;
        return nullptr;
    }
    switch (plugin->kind) {
    case BURST:
        set_phases(plugin, rate, BURST_S, BURST_EVERY_S, BURST_STEPS);
        break;
    case BURST_ALWAYS:
    case LATE_LOAD:
        set_phases(plugin, rate, 0.0, 0.0, BURST_STEPS);
        break;
    case SLOW_PHASE:
        set_phases(plugin, rate, SLOW_S, SLOW_EVERY_S, SLOW_STEPS);
        break;
    case SLOW_ALWAYS:
        set_phases(plugin, rate, 0.0, 0.0, SLOW_STEPS);
        break;
    default:
        break;
    }
    return plugin;
}

// Starting again: no note held, the first frame after activate the cycle's
// first, the chain at rest.
void activate(LV2_Handle handle) {
    auto* plugin = static_cast<Plugin*>(handle);
    plugin->held = 0;
    plugin->asked = plugin->asked && plugin->loaded; // a restart drops a request not yet served
    plugin->at = 0;
    plugin->x = REST;
}

void connect_port(LV2_Handle handle, uint32_t index, void* data) {
    static_cast<Plugin*>(handle)->ports[index] = data;
}

void play(Plugin* plugin, uint32_t frames) {
    const auto* sequence = static_cast<const LV2_Atom_Sequence*>(plugin->ports[0]);
    LV2_ATOM_SEQUENCE_FOREACH(sequence, event) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(event + 1);
        if (event->body.type == plugin->midi_event && lv2_midi_is_voice_message(bytes)) {
            bool on = (bytes[0] & 0xF0) == LV2_MIDI_MSG_NOTE_ON && bytes[2] > 0;
            plugin->held += on ? 1 : -1;
            *port(plugin, 2) += on ? 1.0f : 0.0f;
        }
    }
    for (uint32_t i = 0; i < frames; ++i) {
        port(plugin, 1)[i] = plugin->held > 0 ? (i & 32 ? 0.25f : -0.25f) : 0.0f;
    }
}

// One note-on at the period's first frame, in the room the host gave.
void write_note(Plugin* plugin) {
    auto* out = static_cast<LV2_Atom_Sequence*>(plugin->ports[1]);
    const uint32_t room = out->atom.size;
    out->atom.type = plugin->sequence;
    out->atom.size = sizeof(LV2_Atom_Sequence_Body);
    out->body.unit = 0;
    out->body.pad = 0;
    struct {
        LV2_Atom_Event event;
        uint8_t bytes[3];
    } note{{{0}, {3, plugin->midi_event}}, {LV2_MIDI_MSG_NOTE_ON, 60, 100}};
    if (room >= sizeof(LV2_Atom_Sequence_Body) + sizeof note) {
        lv2_atom_sequence_append_event(out, room, &note.event);
    }
}

// The gain, and the chain's steps for each sample, heavy_steps in the heavy
// part of the cycle; phase is 1 when any sample of the block was heavy.
void labour(Plugin* plugin, uint32_t frames) {
    const float* in = port(plugin, 0);
    float* out = port(plugin, 1);
    float gain = *port(plugin, 2);
    float x = plugin->x;
    uint64_t at = plugin->at;
    bool heavy_seen = false;
    for (uint32_t i = 0; i < frames; ++i) {
        bool heavy = at < plugin->heavy_frames;
        heavy_seen = heavy_seen || heavy;
        at = at + 1 == plugin->cycle_frames ? 0 : at + 1;
        uint32_t steps = heavy ? plugin->heavy_steps : BASE_STEPS;
        x = x * LEAK + (DRIVE + in[i] * INPUT_DRIVE);
        for (uint32_t k = 1; k < steps; ++k) {
            x = x * LEAK + DRIVE;
        }
        out[i] = in[i] * gain + (x - REST) * MIX;
    }
    plugin->x = x;
    plugin->at = at;
    *port(plugin, 3) = heavy_seen ? 1.0f : 0.0f;
}

void run(LV2_Handle handle, uint32_t frames) {
    auto* plugin = static_cast<Plugin*>(handle);
    plugin->runs += 1;
    plugin->run_thread = std::this_thread::get_id();
    switch (plugin->kind) {
    case CRASH:
        *nowhere = 1;
        break;
    case CRASH_LATER:
        if (plugin->runs > CRASH_AFTER) {
            *nowhere = 1;
        }
        break;
    case HANG:
        while (spinning) {
        }
        break;
    case ALLOCATE:
        std::free(plugin->block);
        plugin->block = std::malloc(ALLOCATE_BYTES);
        static_cast<char*>(plugin->block)[0] = 1;
        break;
    case OPEN_FILE:
        if (std::FILE* file = std::fopen("/dev/null", "r")) {
            std::fclose(file);
        }
        break;
    case THREAD:
        if (!plugin->thread.joinable()) {
            plugin->thread = std::thread([plugin] {
                while (!plugin->stop.load()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        break;
    case PRINT:
        if (plugin->runs == 1) {
            std::fprintf(stderr, "ZEM test print: first run, %u frames\n", frames);
        }
        break;
    case WORKER:
        plugin->schedule->schedule_work(plugin->schedule->handle, sizeof plugin->runs,
                                        &plugin->runs);
        break;
    case INSTRUMENT:
        play(plugin, frames);
        return;
    case NOTE_EACH_PERIOD:
        write_note(plugin);
        return;
    case SIDE_CHAIN: {
        float peak = 0.0f;
        for (uint32_t i = 0; i < frames; ++i) {
            port(plugin, 1)[i] = port(plugin, 0)[i];
            peak = std::fmax(peak, std::fabs(port(plugin, 2)[i]));
        }
        *port(plugin, 3) = peak;
        return;
    }
    case LATE_LOAD:
        if (!plugin->loaded) {
            if (!plugin->asked) {
                plugin->asked =
                    plugin->schedule->schedule_work(plugin->schedule->handle, sizeof plugin->runs,
                                                    &plugin->runs) == LV2_WORKER_SUCCESS;
            }
            std::memset(port(plugin, 1), 0, frames * sizeof(float));
            return;
        }
        labour(plugin, frames);
        return;
    case BURST:
    case BURST_ALWAYS:
    case SLOW_PHASE:
    case SLOW_ALWAYS:
        labour(plugin, frames);
        return;
    default:
        break;
    }
    int channels = plugin->kind == STEREO ? 2 : 1;
    float gain = *port(plugin, 2 * channels);
    for (int c = 0; c < channels; ++c) {
        const float* in = port(plugin, c);
        float* out = port(plugin, channels + c);
        for (uint32_t i = 0; i < frames; ++i) {
            out[i] = plugin->kind == NOT_A_NUMBER ? std::numeric_limits<float>::quiet_NaN()
                                                  : in[i] * gain;
        }
    }
}

void cleanup(LV2_Handle handle) {
    auto* plugin = static_cast<Plugin*>(handle);
    plugin->stop.store(true);
    if (plugin->thread.joinable()) {
        plugin->thread.join();
    }
    std::free(plugin->block);
    delete plugin;
}

LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function respond,
                       LV2_Worker_Respond_Handle respond_handle, uint32_t size, const void* data) {
    auto* plugin = static_cast<Plugin*>(handle);
    plugin->work_thread = std::this_thread::get_id();
    if (plugin->kind == LATE_LOAD) {
        std::this_thread::sleep_for(LOAD_TIME);
    }
    return respond(respond_handle, size, data);
}

// On the thread that runs the plugin: off_thread is 1 once work ran on
// another thread, answers counts the answers.
LV2_Worker_Status work_response(LV2_Handle handle, uint32_t, const void*) {
    auto* plugin = static_cast<Plugin*>(handle);
    if (plugin->kind == LATE_LOAD) {
        plugin->loaded = true;
        return LV2_WORKER_SUCCESS;
    }
    *port(plugin, 3) = plugin->work_thread != std::this_thread::get_id() ? 1.0f : 0.0f;
    *port(plugin, 4) += 1.0f;
    return LV2_WORKER_SUCCESS;
}

const void* extension_data(const char* uri) {
    static const LV2_Worker_Interface worker{work, work_response, nullptr};
    return std::strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : nullptr;
}

char uris[KINDS][64];
LV2_Descriptor descriptors[KINDS];
} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    if (index >= KINDS) {
        return nullptr;
    }
    std::snprintf(uris[index], sizeof uris[index], "urn:zem-test:%s", NAMES[index]);
    descriptors[index] = LV2_Descriptor{uris[index], instantiate, connect_port, activate,
                                        run,         nullptr,     cleanup,      extension_data};
    return &descriptors[index];
}
