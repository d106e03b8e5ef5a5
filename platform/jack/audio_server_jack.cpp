// The audio-server client over the JACK API: jackd, or PipeWire through its
// JACK library. The process callback writes silence to the port and calls
// the installed work; everything it shares with the caller's thread is
// atomic or published by the work's installation.
#include "platform/platform_audio_server.h"

#include "platform/posix/posix_clock.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <jack/jack.h>
#include <new>
#include <sched.h>
#include <time.h>

struct AudioServerClient {
    jack_client_t* jack;
    // Registered once the client is active, so that a port in the graph
    // means a client that runs.
    std::atomic<jack_port_t*> port;
    AudioServerFormat format;

    // Written by the caller only while no work is installed; the
    // installation publishes them to the server's thread.
    AudioServerWork work;
    void* context;

    std::atomic<bool> armed;
    std::atomic<bool> busy; // the server's thread is past its look at `armed`
    std::atomic<uint64_t> periods;
    std::atomic<uint32_t> xruns;
    std::atomic<bool> shutdown_claimed; // the first shutdown callback writes the reason
    std::atomic<bool> shutdown;         // then publishes it
    std::atomic<bool> size_changed;
    std::atomic<uint32_t> new_frames;
    std::atomic<int> policy; // the server thread's scheduling, -1 until its first period
    std::atomic<int> priority;
    char shutdown_reason[AUDIO_SERVER_TEXT];
};

namespace {
constexpr long STOP_POLL_NS = 100000;

// libjack and PipeWire's JACK library print their own complaints to stderr;
// the caller gets one line of ours instead.
void quiet(const char*) {}

void set_error(AudioServerError* error, const char* text, unsigned status) {
    std::snprintf(error->text, sizeof error->text, "%s (JACK status 0x%x)", text, status);
}

void describe_open_failure(jack_status_t status, AudioServerError* error) {
    const auto bits = static_cast<unsigned>(status);
    if ((bits & JackServerFailed) != 0) {
        set_error(error,
                  "no JACK server is running: start jackd, or run under PipeWire with pw-jack",
                  bits);
    } else if ((bits & JackVersionError) != 0) {
        set_error(error, "the JACK server speaks another protocol version", bits);
    } else if ((bits & JackShmFailure) != 0) {
        set_error(error, "cannot reach the JACK server's shared memory", bits);
    } else if ((bits & (JackServerError | JackInitFailure)) != 0) {
        set_error(error, "the JACK server refused the connection", bits);
    } else {
        set_error(error, "cannot open a JACK client", bits);
    }
}

int64_t frames_ns(uint64_t frames, uint64_t rate) {
    return static_cast<int64_t>(frames * NS_PER_SECOND / rate);
}

void run_work(AudioServerClient* client, jack_nframes_t frames) {
    AudioServerCycle cycle{};
    cycle.woke_ns = monotonic_ns();
    const jack_time_t entry_us = jack_get_time();
    const uint64_t rate = client->format.sample_rate;
    cycle.frames = frames;
    cycle.frame_time = jack_last_frame_time(client->jack);
    cycle.start_ns = cycle.woke_ns - frames_ns(jack_frames_since_cycle_start(client->jack), rate);
    cycle.deadline_ns = cycle.start_ns + frames_ns(frames, rate);
    jack_nframes_t stated_frames = 0;
    jack_time_t stated_start = 0;
    jack_time_t stated_end = 0;
    float stated_period = 0.0f;
    if (jack_get_cycle_times(client->jack, &stated_frames, &stated_start, &stated_end,
                             &stated_period) == 0 &&
        stated_end != 0) {
        cycle.stated_end_ns =
            cycle.woke_ns +
            (static_cast<int64_t>(stated_end) - static_cast<int64_t>(entry_us)) * 1000;
    }
    cycle.server_load = jack_cpu_load(client->jack);
    client->work(client->context, &cycle);
}

void note_scheduling(AudioServerClient* client) {
    sched_param parameter{};
    sched_getparam(0, &parameter);
    client->priority.store(parameter.sched_priority);
    // PipeWire asks for SCHED_RESET_ON_FORK beside the policy.
    const int policy = sched_getscheduler(0);
    client->policy.store(policy == -1 ? SCHED_OTHER : policy & ~SCHED_RESET_ON_FORK);
}

int on_process(jack_nframes_t frames, void* argument) {
    auto* client = static_cast<AudioServerClient*>(argument);
    jack_port_t* port = client->port.load(std::memory_order_acquire);
    auto* out = port != nullptr ? static_cast<float*>(jack_port_get_buffer(port, frames)) : nullptr;
    if (out != nullptr) {
        std::memset(out, 0, sizeof(float) * frames);
    }
    if (client->policy.load(std::memory_order_relaxed) == -1) {
        note_scheduling(client);
    }
    client->busy.store(true);
    if (client->armed.load()) {
        run_work(client, frames);
    }
    client->busy.store(false);
    client->periods.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int on_xrun(void* argument) {
    static_cast<AudioServerClient*>(argument)->xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int on_buffer_size(jack_nframes_t frames, void* argument) {
    auto* client = static_cast<AudioServerClient*>(argument);
    if (frames != client->format.buffer_frames) {
        client->new_frames.store(frames);
        client->size_changed.store(true);
    }
    return 0;
}

void on_shutdown(jack_status_t, const char* reason, void* argument) {
    auto* client = static_cast<AudioServerClient*>(argument);
    bool expected = false;
    if (client->shutdown_claimed.compare_exchange_strong(expected, true)) {
        std::snprintf(client->shutdown_reason, sizeof client->shutdown_reason, "%s",
                      reason != nullptr ? reason : "");
        client->shutdown.store(true);
    }
}

// Without a reason: the library that calls only this one says nothing more.
void on_plain_shutdown(void* argument) {
    on_shutdown(JackFailure, "", argument);
}

bool install_callbacks(AudioServerClient* client) {
    jack_client_t* jack = client->jack;
    jack_on_shutdown(jack, on_plain_shutdown, client);
    jack_on_info_shutdown(jack, on_shutdown, client);
    return jack_set_process_callback(jack, on_process, client) == 0 &&
           jack_set_xrun_callback(jack, on_xrun, client) == 0 &&
           jack_set_buffer_size_callback(jack, on_buffer_size, client) == 0;
}

void describe_thread(const AudioServerClient* client, AudioServerState* state) {
    const int policy = client->policy.load();
    const int priority = client->priority.load();
    char* text = state->thread;
    const size_t size = sizeof state->thread;
    state->thread_realtime = policy == SCHED_FIFO || policy == SCHED_RR;
    if (state->thread_realtime) {
        std::snprintf(text, size, "the server's thread: %s priority %d",
                      policy == SCHED_FIFO ? "SCHED_FIFO" : "SCHED_RR", priority);
    } else if (policy != -1) {
        std::snprintf(text, size,
                      "the server's thread: normal scheduling, no real-time priority (the "
                      "server runs without it, or this user may not have it)");
    } else {
        text[0] = '\0';
    }
}
} // namespace

bool audio_server_available(AudioServerError*) {
    return true;
}

AudioServerClient* audio_server_open(const char* name, AudioServerFormat* format,
                                     AudioServerError* error) {
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    auto* client = new (std::nothrow) AudioServerClient{};
    if (client == nullptr) {
        set_error(error, "out of memory", 0);
        return nullptr;
    }
    client->policy.store(-1);
    jack_status_t status{};
    client->jack = jack_client_open(name, JackNoStartServer, &status);
    if (client->jack == nullptr) {
        describe_open_failure(status, error);
        delete client;
        return nullptr;
    }
    client->format.buffer_frames = jack_get_buffer_size(client->jack);
    client->format.sample_rate = jack_get_sample_rate(client->jack);
    const char* failure = nullptr;
    if (client->format.buffer_frames == 0 || client->format.sample_rate == 0) {
        failure = "the JACK server states no buffer size or sample rate";
    } else if (!install_callbacks(client)) {
        failure = "the JACK server refused our callbacks";
    } else if (jack_activate(client->jack) != 0) {
        failure = "the JACK server did not activate our client";
    } else {
        client->port.store(
            jack_port_register(client->jack, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0),
            std::memory_order_release);
        failure =
            client->port.load() == nullptr ? "the JACK server refused our output port" : nullptr;
    }
    if (failure != nullptr) {
        set_error(error, failure, 0);
        jack_client_close(client->jack);
        delete client;
        return nullptr;
    }
    *format = client->format;
    return client;
}

// PipeWire's JACK library speaks the same API: to us both are JACK servers.
const char* audio_server_name(const AudioServerClient* /*client*/) {
    return "JACK";
}

bool audio_server_connect_output(AudioServerClient* client, const char* destination,
                                 AudioServerError* error) {
    if (jack_connect(client->jack, jack_port_name(client->port.load()), destination) != 0) {
        std::snprintf(error->text, sizeof error->text,
                      "the JACK server did not connect our output to '%.200s'", destination);
        return false;
    }
    return true;
}

bool audio_server_start_work(AudioServerClient* client, AudioServerWork work, void* context) {
    if (client->armed.load() || client->shutdown.load()) {
        return false;
    }
    client->work = work;
    client->context = context;
    client->armed.store(true);
    return true;
}

void audio_server_stop_work(AudioServerClient* client) {
    client->armed.store(false);
    // The work is the caller's and finite, so the server's thread leaves it
    // soon, whatever became of the server meanwhile.
    while (client->busy.load()) {
        timespec pause{0, STOP_POLL_NS};
        nanosleep(&pause, nullptr);
    }
}

void audio_server_state(AudioServerClient* client, AudioServerState* state) {
    *state = AudioServerState{};
    state->format = client->format;
    state->periods = client->periods.load(std::memory_order_relaxed);
    state->server_xruns = client->xruns.load(std::memory_order_relaxed);
    state->shutdown = client->shutdown.load();
    state->buffer_size_changed = client->size_changed.load();
    state->new_buffer_frames = client->new_frames.load();
    if (state->shutdown) {
        std::memcpy(state->shutdown_reason, client->shutdown_reason, AUDIO_SERVER_TEXT);
    }
    describe_thread(client, state);
}

void audio_server_close(AudioServerClient* client) {
    if (client == nullptr) {
        return;
    }
    audio_server_stop_work(client);
    jack_deactivate(client->jack);
    // PipeWire's JACK library frees a port's memory only here.
    if (client->port.load() != nullptr) {
        jack_port_unregister(client->jack, client->port.load());
    }
    jack_client_close(client->jack);
    delete client;
}
