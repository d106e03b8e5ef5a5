// The test plugins' shared record: every kind, one instance's ports and
// state, and what each family's file does for the binary's one descriptor.
#pragma once

#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <atomic>
#include <cstdint>
#include <thread>

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

inline float* port(Plugin* plugin, int index) {
    return static_cast<float*>(plugin->ports[index]);
}

// faulty_plugins.cpp: false when the instance cannot be made.
bool fault_instantiate(Plugin* plugin, double rate);
void fault_run(Plugin* plugin, uint32_t frames);
void fault_cleanup(Plugin* plugin);

// labouring_plugins.cpp
void labour_prepare(Plugin* plugin, double rate);
void labour_restart(Plugin* plugin);
void labour(Plugin* plugin, uint32_t frames);

// note_plugins.cpp
void play(Plugin* plugin, uint32_t frames);
void write_note(Plugin* plugin);

// worker_plugins.cpp
bool ask_work(Plugin* plugin);
void late_load_run(Plugin* plugin, uint32_t frames);
const void* extension_data(const char* uri);
