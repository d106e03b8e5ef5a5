// The LV2 host's records, shared by its files: the host (lv2_host.cpp: the
// world, the listing, what we can host), the features we give plugins
// (lv2_features.cpp: URIDs, log, plugin worker), a load's plan read from the
// world (lv2_plan.cpp), the loads (lv2_load.h: their set-up, states and
// periods) and their validation in a child process (lv2_validate.cpp), which
// watches the plugins' system calls (lv2_call_watch.cpp).
#pragma once

#include "platform/common/control_value.h"
#include "platform/lv2/lv2_wiring.h"
#include "platform/platform_plugins.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/log/log.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore.h>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// URIs to numbers and back, for every plugin of the host. Plugins map in
// instantiate and restore, not in run, so a lock is fine.
struct UridMap {
    std::mutex lock;
    std::unordered_map<std::string, LV2_URID> ids;
    std::deque<std::string> uris; // URID n is uris[n - 1]
    LV2_URID_Map map;
    LV2_URID_Unmap unmap;
};
void urid_map_init(UridMap* urids);
LV2_URID urid_of(UridMap* urids, const char* uri);

struct HostNodes {
    LilvNode* audio_port;
    LilvNode* control_port;
    LilvNode* cv_port;
    LilvNode* atom_port;
    LilvNode* input_port;
    LilvNode* output_port;
    LilvNode* midi_event;
    LilvNode* connection_optional;
    LilvNode* minimum_size;
    LilvNode* instrument;
    LilvNode* hard_rt;
    LilvNode* preset;
    LilvNode* default_state;
    LilvNode* worker_interface;
    LilvNode* worker_schedule;
    LilvNode* sample_rate;
    LilvNode* integer;
    LilvNode* toggled;
    LilvNode* enumeration;
    LilvNode* midi_plugin;
    LilvNode* side_chain;
    LilvNode* rdf_type;
};

struct PluginHost {
    LilvWorld* world;
    HostNodes nodes;
    UridMap urids;
};

// Whether we can host `plugin` at `frames` samples a block (0: at some
// block size); when not, `missing` names the feature or the port.
bool plugin_hostable(PluginHost* host, const LilvPlugin* plugin, uint32_t frames,
                     std::string* missing);
const LilvPlugin* plugin_by_uri(PluginHost* host, const std::string& uri);
// Whether this host has a display: DISPLAY or WAYLAND_DISPLAY set.
bool host_has_display();
// Keeps the plugin's library, once instantiated, in this process for good:
// some (GLib types, static registries) cannot be loaded a second time.
void keep_library(const LilvPlugin* plugin);
// Why the plugin's library will not give an instance: it does not open (the
// loader's words) or holds no descriptor of its URI; "" when it does.
std::string library_problem(const LilvPlugin* plugin);
std::string node_text(LilvNode* node); // frees the node

// A load's plan, read from the world before anything is instantiated.
enum PortKind : uint8_t { PORT_AUDIO, PORT_CONTROL, PORT_ATOM, PORT_CV, PORT_OTHER };

// A plugin's ports counted as the wiring and the listing see them.
struct LinkPorts {
    uint32_t audio_in, side_chain_in, audio_out, cv_in, cv_out;
    bool midi_in, midi_out, takes_notes;
};
LinkPorts link_ports(PluginHost* host, const LilvPlugin* plugin);

constexpr uint32_t NO_PORT = UINT32_MAX;

struct PortPlan {
    PortKind kind;
    bool output;
    bool midi;       // atom ports: carries MIDI events
    bool side_chain; // audio inputs: lv2:isSideChain
    // Audio ports: index among the main (or side-chain) ports of its
    // direction; atom and CV ports: among the plugin's ports of that kind.
    uint32_t channel;
    std::string symbol;
    ControlPort control; // control ports: as the plugin declares them
    float value;         // control and CV inputs: the default, in the port's units at the rate
};

struct LinkPlan {
    const LilvPlugin* plugin;
    ChainLink facts;
    std::vector<PortPlan> ports;
    uint32_t atom_ports;
    uint32_t atom_bytes;
    uint32_t midi_input;  // the atom channel of its first MIDI input, NO_PORT none
    uint32_t midi_output; // of its first MIDI output
    WiredLink wired;      // where its audio and MIDI come from
    LilvState* default_state;
    LilvState* preset;
    LilvState* saved; // the state its host saved, from the order
    // The options it gets: rate, block lengths, sequence size.
    float rate_value;
    int32_t block_value;
    int32_t sequence_value;
    LV2_Options_Option options[6];
    LV2_Feature options_feature;
};

struct Setting {
    uint32_t link;
    uint32_t port;
    float value;
};

// The order's chain, each plugin with its ports, and its settings checked
// against them; false with a line. Whether each plugin can be hosted is
// not asked here.
bool plan_order(PluginHost* host, const PluginLoadOrder* order, std::vector<LinkPlan>* plan,
                std::vector<Setting>* settings, std::string* error);
// The plan's links that `preset` belongs to; false with a line when it
// belongs to none of them (naming the plugin it is for, if any).
bool preset_links(PluginHost* host, const std::vector<LinkPlan>& plan, const std::string& preset,
                  std::vector<uint32_t>* links, std::string* error);

// The test input (lv2_input.cpp): a block of the order's signal, the
// words for it, and the note pattern's events of the period starting at
// sample `start`, as an atom sequence in `buffer` (NOTE_BYTES).
constexpr uint32_t NOTE_BYTES = 1024; // a sequence of a period's notes, at most 16
struct NoteTypes {
    LV2_URID sequence, midi;
};
void fill_input(float* block, uint32_t frames, uint32_t rate, PluginInput input, uint64_t seed);
std::string input_text(const PluginLoadOrder* order, uint32_t channels);
void write_notes(uint64_t* buffer, const NoteTypes* types, uint64_t start, uint32_t frames,
                 uint32_t rate);

// The log feature: messages into a bounded buffer. Any thread may write;
// writers take their room with one atomic add, so a full buffer drops what
// does not fit and counts it.
constexpr uint32_t LOG_BYTES = 16384; // some hundred lines: a run's warnings, not a trace
struct LogBuffer {
    char text[LOG_BYTES];
    std::atomic<uint32_t> used;
    std::atomic<uint64_t> dropped;
    LV2_URID error, warning, trace;
    LV2_Log_Log log;
};
void log_init(LogBuffer* log, UridMap* urids);
std::string log_text(const LogBuffer* log);

// One-writer, one-reader queue of messages (a 32-bit size, then the bytes).
struct Ring {
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t capacity; // a power of 2
    std::atomic<uint32_t> head;
    std::atomic<uint32_t> tail;
};
void ring_init(Ring* ring, uint32_t capacity);
bool ring_put(Ring* ring, uint32_t size, const void* data);
// The next message into `out` (room for the ring's capacity); false when
// there is none.
bool ring_take(Ring* ring, uint8_t* out, uint32_t* size);
// The reader's side: every message waiting is dropped.
void ring_drop(Ring* ring);

struct PluginWorker;

// One instance's side of the plugin worker: its requests, from the thread
// that runs it, and the plugin worker's answers back.
struct PluginWorkerSlot {
    Ring requests;
    Ring responses;
    LV2_Worker_Schedule schedule;
    const LV2_Worker_Interface* interface;
    LV2_Handle handle;
    PluginWorker* plugin_worker;
};

// The plugin worker's thread of a load, outside the periods, serving every
// slot; it holds `serving` while it calls plugins' work.
struct PluginWorker {
    std::vector<PluginWorkerSlot*> slots;
    sem_t wake;
    std::mutex serving;
    std::atomic<bool> stop;
    std::atomic<bool> busy; // awake and serving the slots
    std::thread thread;
    bool running;
    std::unique_ptr<uint8_t[]> scratch;
    std::atomic<uint64_t> jobs;
    std::atomic<uint64_t> refused;
    std::atomic<uint64_t> responses;
    std::atomic<int64_t> total_ns;
    std::atomic<int64_t> longest_ns;
};
constexpr uint32_t PLUGIN_WORKER_RING_BYTES = 8192; // a path or a small object a request; plenty
void plugin_worker_init(PluginWorker* plugin_worker);
void plugin_worker_slot_init(PluginWorkerSlot* slot, PluginWorker* plugin_worker);
// Drops a slot's requests and answers not yet delivered. The caller runs
// the instance and holds the plugin worker's `serving`: neither side is
// in a ring.
void plugin_worker_slot_clear(PluginWorkerSlot* slot);
bool plugin_worker_start(PluginWorker* plugin_worker);
void plugin_worker_stop(PluginWorker* plugin_worker); // also frees the semaphore
// Nothing waits for the plugin worker: no request untaken, none in its
// hands. Its answers reach the plugins in their next run.
bool plugin_worker_idle(const PluginWorker* plugin_worker);
// On the thread that runs the instance, after its run: the answers, then
// end_run. `scratch` holds PLUGIN_WORKER_RING_BYTES.
void plugin_worker_deliver(PluginWorkerSlot* slot, uint8_t* scratch);

// Called as a load opens: which stage, and which plugin of the chain.
struct LoadProgress {
    void (*mark)(void* context, PluginStage stage, uint32_t plugin);
    void* context;
};

// What validation's child counts of each plugin's run: files opened, memory
// and threads asked of the kernel, by the plugin `counting` names (-1 none).
enum CallKind : uint32_t { CALL_FILE, CALL_MEMORY, CALL_THREAD, CALL_KINDS };
struct CallCounts {
    std::atomic<int32_t> counting;
    int64_t calls[PLUGIN_MAX_CHAIN][CALL_KINDS];
};
struct CallWatch;
// Starts the listener's thread, then filters the calling thread's watched
// calls to it; nullptr, with why in `why`, when the kernel refuses.
CallWatch* call_watch_start(CallCounts* counts, char* why, size_t size);

PluginLoad* load_open(PluginHost* host, const PluginLoadOrder* order, PluginLoadFacts* facts,
                      std::string* error, const LoadProgress* progress);
const float* load_link_output(const PluginLoad* load, uint32_t instance, uint32_t link,
                              uint32_t channel);
uint32_t load_link_outputs(const PluginLoad* load, uint32_t link);
uint32_t load_threads(const PluginLoad* load); // threads the load itself started

// An instance's period against what its chain heard: `audio` holds its
// channels of `frames` samples, the first plugin's inputs read
// `input_source` (none: an instrument, which hears silence), the last
// plugin's `outputs` outputs start at channel `first_output`.
PluginOutputShape output_shape(const float* audio, uint32_t frames,
                               const std::vector<uint32_t>& input_source, uint32_t first_output,
                               uint32_t outputs);
