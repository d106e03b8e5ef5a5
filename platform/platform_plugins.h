// Hosting LV2 plugins: what is installed, and loads of them to run. One
// implementation through lilv (platform/lv2/), for Linux; Windows and builds
// without lilv get one that only says why there is no host.
//
// A load is a chain of one or more plugins run in order on one thread (one
// track), opened as N instances, each with its own buffers. In a chain each
// plugin's audio outputs feed the next one's main audio inputs by index;
// when the next has more inputs, the last output feeds the extra ones (mono
// into stereo); when fewer, the extra outputs are summed into its last input.
// Side-chain inputs hear silence, CV inputs their default. A plugin's MIDI
// output feeds the next one's MIDI input in the same period. The first
// instrument or MIDI plugin (with notes_to_any_midi, the first plugin with a
// MIDI input) gets a fixed pattern of notes. Control inputs start at their
// defaults (times the rate for lv2:sampleRate ports); then, in order, the
// plugin's default state, the preset and the settings apply.
//
// Contract:
//   plugin_host_open       reads what is installed (LV2_PATH when set, the
//                          system's folders otherwise); nullptr with one line
//                          in `why` when this build has no host.
//   plugin_host_list       every plugin found, sorted by URI.
//   plugin_host_info       one of them by URI; false when not installed.
//   plugin_load_check      the order against what is installed, instantiating
//                          nothing: each URI, each setting against the
//                          plugins' control inputs at the order's rate, and
//                          the preset. false with one line in `error` when
//                          the order asks for what is not there (as a
//                          command line may); whether the plugins can be
//                          hosted is validation's to say.
//   plugin_load_open       instantiates the chain `instances` times at the
//                          block size and rate, restores state, applies the
//                          settings, activates, prepares the input and the
//                          first period's event buffers, and starts the
//                          worker's thread when a plugin has a worker.
//                          nullptr with one line in `error` when refused: an
//                          unknown URI, a feature or port we do not provide
//                          (named), a bad setting, a preset of none of the
//                          plugins, or an instance that would not start.
//   plugin_load_run        one period of instances [first, end): each runs its
//                          chain in order on one block, and gets the worker's
//                          answers after each plugin. Nothing on our side
//                          allocates, locks or opens a file.
//   plugin_load_run_link   the same for one plugin of one instance's chain,
//                          so that a caller can time each plugin; a period
//                          runs every link in order, 0 to links - 1.
//   plugin_load_links      the plugins in the chain.
//   plugin_load_finish_period  refills the event buffers of instances [0, end) and
//                          moves the note pattern on, for the next period.
//   plugin_load_restart    deactivates and activates instances [first, end),
//                          as a session starts: their plugins start again
//                          (audio time from 0), their note pattern from its
//                          beginning, their worker's pending requests and
//                          answers dropped, the worker kept off them
//                          meanwhile. Between periods, never in one.
//   plugin_load_output     an instance's audio output (of the chain's last
//                          plugin), `frames` samples; nullptr past the last.
//   plugin_load_input      an instance's audio input (of the chain's first
//                          plugin), `frames` samples that the caller may
//                          write between periods, as a bus is given the sum
//                          of what feeds it; nullptr past the last.
//   plugin_load_control    a control port's current value, by the plugin's
//                          index in the chain and the port's symbol.
//   plugin_load_output_shape  what an instance's chain gave in the last
//                          period, against what it heard: a sound of its
//                          own, silence, or its input unchanged or scaled.
//   plugin_load_worker     what the worker did so far, and whether anything
//                          waits for it.
//   plugin_load_log        what the plugins logged so far (a bounded buffer:
//                          read it between runs, never during one).
//   plugin_load_close      stops the worker, deactivates and frees.
//   plugin_validate        runs the load once in a child process, so that
//                          nothing the plugins do can harm the caller, and
//                          says what it saw.
// Everything but plugin_load_run (and _run_link), plugin_load_finish_period and
// plugin_load_restart belongs outside the periods, on one thread at a time
// (lilv is not thread-safe); a load's run, finish_period and restart belong
// to the one thread that runs it, which may be another. Like a stream set, a
// real-time thread gets a load of its own, calls plugin_load_run for its
// instances, in slices if it checks the time between them, then
// plugin_load_finish_period once a period, and plugin_load_restart between
// trials, so that the instances of each start together.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PluginHost;
struct PluginLoad;

// The most plugins in one chain: more would be a session, not a track.
constexpr uint32_t PLUGIN_MAX_CHAIN = 16;

struct PluginInfo {
    std::string uri;
    std::string name;
    std::string class_label;      // e.g. "Parametric EQ Plugin"
    uint32_t audio_in, audio_out; // main audio ports
    uint32_t side_chain_in;       // audio inputs declared lv2:isSideChain
    uint32_t control_in, control_out;
    uint32_t cv_in, cv_out;       // lv2:CVPort
    uint32_t event_in, event_out; // atom ports
    bool midi_in;                 // an event input accepts MIDI
    bool takes_notes;             // lv2:InstrumentPlugin or lv2:MIDIPlugin, with a MIDI input
    bool hard_rt_capable;         // declares lv2:hardRTCapable
    std::vector<std::string> required_features;
    bool hostable;
    std::string missing;    // when not hostable: the feature's URI, or the port and its type
    std::string open_error; // when its library will not open or lacks it: why, in words
};

enum PluginInput : uint32_t { PLUGIN_NOISE = 0, PLUGIN_SINE = 1, PLUGIN_SILENCE = 2 };
constexpr uint32_t PLUGIN_INPUTS = 3;
inline constexpr const char* PLUGIN_INPUT_NAMES[PLUGIN_INPUTS] = {"noise", "sine", "silence"};

struct PluginLoadOrder {
    std::vector<std::string> uris;     // the chain, in order
    std::vector<std::string> settings; // "SYMBOL=VALUE" (every plugin having it), "K:SYMBOL=VALUE"
    std::string preset;                // a preset's URI, "" for none
    // Per link, a state its host saved (a folder with the plugin's
    // state.ttl, as a session keeps it), restored after the preset; ""
    // or missing: none.
    std::vector<std::string> saved_states;
    PluginInput input = PLUGIN_NOISE;
    uint32_t frames = 0; // block size, samples per period
    uint32_t rate = 0;   // sample rate in Hz
    uint32_t instances = 0;
    uint64_t seed = 1; // of the noise
    // The note pattern to the first plugin with a MIDI input, even an
    // effect that only takes MIDI to be controlled.
    bool notes_to_any_midi = false;
    // In a child of platform_run_in_child: each instance's instantiate and
    // activate may take this long, named as the child's stage, so that many
    // instances of a plugin slow to open are not taken for a hang (0: the
    // caller's stage stands).
    int64_t instance_allowance_ms = 0;
};

struct ChainLink {
    std::string uri;
    std::string name;
    uint32_t audio_in, audio_out; // main audio ports
    uint32_t side_chain_in;       // fed silence
    uint32_t cv_in, cv_out;       // inputs at their default; outputs to scratch
    bool midi_in, midi_out;       // event ports carrying MIDI
    bool takes_notes;             // an instrument or a MIDI plugin, with a MIDI input
    bool hard_rt_capable;
    bool gets_notes;       // fed the note pattern
    bool gets_midi_before; // fed the MIDI the plugin before it wrote
    bool has_worker;
};

struct PluginLoadFacts {
    std::vector<ChainLink> chain;
    std::string wiring;             // how the chain is wired, in words
    std::string input;              // what the first plugin hears, in words
    uint32_t outputs;               // audio outputs of the last plugin
    uint64_t bytes_per_instance;    // buffers and event buffers, not the plugins' own memory
    std::vector<std::string> notes; // settings, preset and default state applied, one line each
};

struct PluginWorkerStats {
    uint64_t jobs;      // work calls run
    int64_t total_ns;   // their time, on the worker's thread
    int64_t longest_ns; // the longest one
    uint64_t refused;   // schedule calls refused for want of room
    uint64_t responses; // answers delivered to the plugins
    bool idle;          // no request waiting or in its hands
};

// A period's output of a chain against its input (below -100 dBFS is silence).
enum PluginOutputShape : uint32_t {
    PLUGIN_OUTPUT_SOUND = 0,
    PLUGIN_OUTPUT_SILENT = 1,
    PLUGIN_OUTPUT_INPUT = 2,  // each output its input, sample for sample
    PLUGIN_OUTPUT_NONE = 3,   // the last plugin has no audio output
    PLUGIN_OUTPUT_SCALED = 4, // each output its input times a constant, as a gain's
};

PluginHost* plugin_host_open(std::string* why);
void plugin_host_close(PluginHost* host);
std::vector<PluginInfo> plugin_host_list(PluginHost* host);
bool plugin_host_info(PluginHost* host, const std::string& uri, PluginInfo* info);
// Opens each hostable plugin's library in a child process (a few when one
// crashes or hangs as it opens) and marks those that will not give an
// instance: not hostable, with the reason in open_error.
void plugin_host_check_libraries(PluginHost* host, std::vector<PluginInfo>* plugins);

bool plugin_load_check(PluginHost* host, const PluginLoadOrder* order, std::string* error);
PluginLoad* plugin_load_open(PluginHost* host, const PluginLoadOrder* order, PluginLoadFacts* facts,
                             std::string* error);
void plugin_load_run(PluginLoad* load, uint32_t first, uint32_t end);
void plugin_load_run_link(PluginLoad* load, uint32_t instance, uint32_t link);
uint32_t plugin_load_links(const PluginLoad* load);
void plugin_load_finish_period(PluginLoad* load, uint32_t end);
void plugin_load_restart(PluginLoad* load, uint32_t first, uint32_t end);
const float* plugin_load_output(const PluginLoad* load, uint32_t instance, uint32_t channel);
float* plugin_load_input(PluginLoad* load, uint32_t instance, uint32_t channel);
bool plugin_load_control(const PluginLoad* load, uint32_t instance, uint32_t plugin,
                         const std::string& symbol, float* value);
PluginOutputShape plugin_load_output_shape(const PluginLoad* load, uint32_t instance);
PluginWorkerStats plugin_load_worker(const PluginLoad* load);
std::string plugin_load_log(const PluginLoad* load);
void plugin_load_close(PluginLoad* load);

// Validation: one instance is opened in a child process and run for
// `blocks` blocks with the order's input, with flush-to-zero and
// denormals-are-zero off so that denormals show, then closed. Each stage
// (each plugin's instantiate, activate, run, close) may take `timeout_ms`,
// run that and twice the blocks' audio time, before the child is killed; a
// stop from `stop_wait` ends it at once. The record holds what was seen,
// unjudged (engine/realtime/plugin_cost.h judges): how the child ended (a
// signal, an exit, a time-out, a stop, a refusal), what it printed, the
// chain's wiring as it opened, and per plugin what its outputs held and
// what it asked of the kernel during run. Without a display (no DISPLAY or
// WAYLAND_DISPLAY) the host gives its children QT_QPA_PLATFORM=offscreen
// unless it is set, and a child that aborts then is said to lack one.
enum PluginStage : uint32_t {
    PLUGIN_STAGE_OPEN = 0, // instantiate, state, settings ("instantiate")
    PLUGIN_STAGE_ACTIVATE = 1,
    PLUGIN_STAGE_RUN = 2,
    PLUGIN_STAGE_CLOSE = 3, // deactivate, clean up
    PLUGIN_STAGE_DONE = 4,
};
inline constexpr const char* PLUGIN_STAGE_NAMES[5] = {"instantiate", "activate", "run", "close",
                                                      "done"};

constexpr int64_t PLUGIN_NOT_CHECKED = -1;

// What validation saw of one plugin of the chain during run.
struct PluginFindings {
    uint64_t non_finite;   // NaN or infinite output samples
    uint64_t denormals;    // denormal output samples
    int64_t allocations;   // malloc-family calls; PLUGIN_NOT_CHECKED in sanitizer builds
    int64_t kernel_memory; // mmap, mremap, brk; PLUGIN_NOT_CHECKED without the filter
    int64_t files;         // open, openat, openat2, creat; likewise
    int64_t threads;       // clone, clone3, fork, vfork; likewise
    bool hard_rt_capable;
    bool gets_notes; // fed the note pattern
};

struct PluginValidateOptions {
    uint32_t blocks = 0;
    int64_t timeout_ms = 0;                         // a stage's allowance
    int (*stop_wait)(int64_t timeout_ms) = nullptr; // polled while the child runs; nullptr none
};

struct PluginValidation {
    std::string refusal;                   // the load was refused: why ("" when not)
    PluginStage stage = PLUGIN_STAGE_OPEN; // where the child was when it ended
    uint32_t plugin = 0;                   // which plugin of the chain it was in
    uint64_t block = 0;                    // blocks run to the end
    int32_t signal = 0;                    // the signal that ended the child, 0 none
    std::string signal_name;               // its name, e.g. "SIGSEGV"
    int32_t exit_status = 0;               // when it ended by itself
    bool timed_out = false;                // killed: its stage took longer than allowed
    int64_t allowed_ms = 0;                // that stage's allowance
    int32_t stop_signal = 0;               // a stop ended it: the signal, 0 none
    bool no_display = false;               // it aborted, and this host has no display
    int64_t extra_threads = 0;             // threads of the plugins alive after the run
    std::string not_checked;               // what could not be watched during run, and why
    std::vector<PluginFindings> plugins;   // in chain order
    std::string output;                    // what the child printed (standard output and error)
    std::string wiring;                    // as PluginLoadFacts, once the load opened
    std::string input;
};

void plugin_validate(PluginHost* host, const PluginLoadOrder* order,
                     const PluginValidateOptions* options, PluginValidation* result);
