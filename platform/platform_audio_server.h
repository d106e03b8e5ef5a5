// A client inside an audio server's process cycle: the server wakes it once
// a period and it runs the caller's work there, telling the work when the
// server's cycle started and when it ends. One implementation speaks the
// JACK client API (platform/jack/), which serves both JACK and PipeWire
// (through its JACK library, `pw-jack`); builds without the JACK development
// files, and Windows, get one that only says it is not there.
//
// Contract:
//   audio_server_available   whether this build has a server client at all;
//                            when not, one line in `why` saying so.
//   audio_server_open        connects as client `name` (never starts a
//                            server), reads the buffer size and sample rate,
//                            activates, then registers one output port,
//                            connected to nothing (so a port in the graph
//                            means a running client). nullptr with a
//                            one-line reason in `error` when no server
//                            runs, the connection is refused or anything
//                            else fails.
//   audio_server_name        the kind of server the client speaks to, for
//                            reports ("JACK"); never nullptr.
//   audio_server_connect_output  connects the output port to `destination`.
//   audio_server_start_work  from the next period on, calls `work` once a
//                            period on the server's thread, until
//                            audio_server_stop_work. False while work is
//                            installed, or when the server has gone away.
//   audio_server_stop_work   removes the work; once it returns the server's
//                            thread neither runs it nor touches `context`.
//   audio_server_state       what the server did so far, without blocking
//                            (jack_on_shutdown and jack_on_info_shutdown are
//                            both watched: PipeWire calls only the first).
//   audio_server_close       deactivates and disconnects; every thread the
//                            client started has ended when it returns. Safe
//                            after the server has gone away.
// The server's thread never allocates, locks or waits on the caller; it
// writes silence to the port every period.
#pragma once

#include <cstddef>
#include <cstdint>

struct AudioServerClient;

constexpr size_t AUDIO_SERVER_TEXT = 256;

struct AudioServerError {
    char text[AUDIO_SERVER_TEXT];
};

struct AudioServerFormat {
    uint32_t buffer_frames;
    uint32_t sample_rate;
};

// One period, as the work sees it. Times are on the monotonic clock
// (CLOCK_MONOTONIC, rt_now_ns's). The cycle's start is the server's own
// stamp of it, read through jack_frames_since_cycle_start (to within one
// frame): jackd stamps its driver's wake-up, PipeWire its clock's planned
// time. The cycle's end, the deadline, is the next cycle's start: the work
// learns it in the next period (frame_time tells whether cycles came in
// between); deadline_ns, one period after the start, is the end as planned
// at the cycle's start, which a driver that woke late has already pushed
// back. jack_get_cycle_times' end is given beside them only: jackd states
// there a delay-locked loop's estimate, which on a server that wakes late
// wanders milliseconds away from the real cycle.
struct AudioServerCycle {
    uint32_t frames;
    uint32_t frame_time; // the server's frame count at the cycle's start (jack_last_frame_time)
    int64_t start_ns;
    int64_t deadline_ns;
    int64_t woke_ns;       // our callback's entry
    int64_t stated_end_ns; // the end jack_get_cycle_times states; 0: none
    float server_load;     // the server's own load figure now (jack_cpu_load), percent
};

// Called once per period inside the server's cycle.
using AudioServerWork = void (*)(void* context, const AudioServerCycle* cycle);

struct AudioServerState {
    AudioServerFormat format;                // as read at open
    uint64_t periods;                        // process callbacks since activation
    uint32_t server_xruns;                   // xruns the server reported since activation
    bool shutdown;                           // the server went away (or dropped this client)
    bool buffer_size_changed;                // the server changed its buffer size
    uint32_t new_buffer_frames;              // the buffer size it changed to
    char shutdown_reason[AUDIO_SERVER_TEXT]; // the server's words, if any
    bool thread_realtime;                    // the server's thread has real-time priority
    char thread[AUDIO_SERVER_TEXT];          // how it is scheduled ("" before the first period)
};

bool audio_server_available(AudioServerError* why);
AudioServerClient* audio_server_open(const char* name, AudioServerFormat* format,
                                     AudioServerError* error);
const char* audio_server_name(const AudioServerClient* client);
bool audio_server_connect_output(AudioServerClient* client, const char* destination,
                                 AudioServerError* error);
bool audio_server_start_work(AudioServerClient* client, AudioServerWork work, void* context);
void audio_server_stop_work(AudioServerClient* client);
void audio_server_state(AudioServerClient* client, AudioServerState* state);
void audio_server_close(AudioServerClient* client);
