// A client inside an audio server's process cycle: the server wakes it once
// a period and it runs the caller's work there, timing each period against
// the end of the server's cycle. One implementation speaks the JACK client
// API (platform/jack/), which serves both JACK and PipeWire (through its
// JACK library, `pw-jack`); builds without the JACK development files get
// one that only says it is not there.
//
// Contract:
//   audio_server_available   whether this build has a server client at all.
//   audio_server_open        connects as client `name` (never starts a
//                            server), reads the buffer size and sample rate,
//                            registers one output port, connected to nothing,
//                            and activates. nullptr with a one-line reason in
//                            `error` when no server runs, the connection is
//                            refused or anything else fails.
//   audio_server_connect_output  connects the output port to `destination`.
//   audio_server_set_work    installs the work called once per period from
//                            the server's thread (nullptr: none). Only
//                            between runs; false while a run is armed.
//   audio_server_start_run   from the next period on, calls the work and
//                            writes one record per period into `records`
//                            until `periods` are written, then idles. The
//                            buffer is the caller's and must stay alive until
//                            the run is stopped. False while a run is armed
//                            (a finished one too, until it is stopped), or
//                            when the server has gone away.
//   audio_server_wait_run    waits at most timeout_ms for the run to finish;
//                            returns at once when the server shuts down or
//                            changes its buffer size.
//   audio_server_stop_run    ends the run; once it returns the server's
//                            thread touches neither the records nor the
//                            work's context. Returns the records written.
//   audio_server_state       what the server did so far, without blocking
//                            (jack_on_shutdown and jack_on_info_shutdown are
//                            both watched: PipeWire calls only the first).
//   audio_server_close       deactivates and disconnects; every thread the
//                            client started has ended when it returns. Safe
//                            after the server has gone away.
// The server's thread never allocates, locks or waits on the caller.
#pragma once

#include <cstddef>
#include <cstdint>

struct AudioServerClient;

// Called once per period inside the server's cycle.
using AudioServerWork = void (*)(void* context, uint32_t frames);

constexpr size_t AUDIO_SERVER_TEXT = 256;

struct AudioServerError {
    char text[AUDIO_SERVER_TEXT];
};

struct AudioServerFormat {
    uint32_t buffer_frames;
    uint32_t sample_rate;
};

// One period of a run. Times are from the start of the server's cycle as the
// server stamped it; the cycle ends one period (frames / rate) later, and
// that end is the deadline the work must meet.
struct AudioServerPeriod {
    uint32_t frames;
    uint32_t cycle_us;     // the period: frames / rate
    int32_t wake_us;       // our callback's entry after the cycle's start
    int32_t end_us;        // the work's end after the cycle's start
    int32_t stated_end_us; // the end as jack_get_cycle_times states it (0: none)
    int64_t work_ns;       // the work's duration on the monotonic clock
    float server_load;     // the server's own load figure, percent
    uint32_t server_xruns; // xruns the server had reported by then
    bool missed;           // the work ended after the cycle's end
};

enum class AudioServerWaitResult {
    done,               // all the run's periods are recorded
    timed_out,          // the deadline passed first
    shutdown,           // the server went away (or dropped this client)
    buffer_size_changed // the server changed its buffer size
};

struct AudioServerState {
    AudioServerFormat format;                // as read at open
    uint64_t periods;                        // process callbacks since activation
    uint32_t server_xruns;                   // xruns the server reported since activation
    float server_load;                       // the server's load figure now, percent
    bool shutdown;                           // the server went away
    bool buffer_size_changed;                // the server changed its buffer size
    uint32_t new_buffer_frames;              // the buffer size it changed to
    char shutdown_reason[AUDIO_SERVER_TEXT]; // the server's words, if any
};

bool audio_server_available();
AudioServerClient* audio_server_open(const char* name, AudioServerFormat* format,
                                     AudioServerError* error);
bool audio_server_connect_output(AudioServerClient* client, const char* destination,
                                 AudioServerError* error);
bool audio_server_set_work(AudioServerClient* client, AudioServerWork work, void* context);
bool audio_server_start_run(AudioServerClient* client, AudioServerPeriod* records,
                            uint32_t periods);
AudioServerWaitResult audio_server_wait_run(AudioServerClient* client, int64_t timeout_ms);
uint32_t audio_server_stop_run(AudioServerClient* client);
void audio_server_state(AudioServerClient* client, AudioServerState* state);
void audio_server_close(AudioServerClient* client);
