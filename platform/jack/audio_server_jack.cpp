// The audio-server client over the JACK API: jackd, or PipeWire through its
// JACK library. The process callback writes silence to the port, calls the
// work of an armed run and records the period; everything it shares with the
// caller's thread is atomic or published by the run's arming.
#include "platform/platform_audio_server.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <jack/jack.h>
#include <new>
#include <time.h>

struct AudioServerClient {
    jack_client_t* jack;
    jack_port_t* port;
    AudioServerFormat format;

    // Written by the caller only while no run is armed; the arming publishes
    // them to the server's thread.
    AudioServerWork work;
    void* context;
    AudioServerPeriod* records;
    uint32_t capacity;

    std::atomic<bool> armed;
    std::atomic<bool> busy; // the server's thread is past its look at `armed`
    std::atomic<uint32_t> written;
    std::atomic<uint64_t> periods;
    std::atomic<uint32_t> xruns;
    std::atomic<bool> shutdown;
    std::atomic<bool> size_changed;
    std::atomic<uint32_t> new_frames;
    char shutdown_reason[AUDIO_SERVER_TEXT];
};

namespace {
constexpr int64_t NS_PER_MS = 1000000;
constexpr long POLL_NS = 1000000;

int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void sleep_ns(long nanoseconds) {
    timespec pause{0, nanoseconds};
    nanosleep(&pause, nullptr);
}

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

int32_t microseconds_between(jack_time_t from, jack_time_t to) {
    return static_cast<int32_t>(static_cast<int64_t>(to - from));
}

// The cycle's start is the server's own stamp of it, read through
// jack_frames_since_cycle_start (PipeWire: its driver's clock; jackd: the
// driver's wake-up). jack_get_cycle_times is kept beside it only: jackd
// states there a delay-locked loop's estimate, which on a server that wakes
// late wanders milliseconds away from the real cycle.
void record_period(AudioServerClient* client, jack_nframes_t frames, jack_time_t entry,
                   jack_nframes_t since_start) {
    const uint32_t index = client->written.load(std::memory_order_relaxed);
    if (index >= client->capacity) {
        return;
    }
    const uint64_t rate = client->format.sample_rate;
    const jack_time_t start = entry - static_cast<jack_time_t>(since_start) * 1000000u / rate;
    const jack_time_t end_of_cycle = start + static_cast<jack_time_t>(frames) * 1000000u / rate;
    const int64_t work_start = monotonic_ns();
    if (client->work != nullptr) {
        client->work(client->context, frames);
    }
    const int64_t work_end = monotonic_ns();
    const jack_time_t end = jack_get_time();

    jack_nframes_t stated_frames = 0;
    jack_time_t stated_start = 0;
    jack_time_t stated_end = 0;
    float stated_period = 0.0f;
    const bool stated = jack_get_cycle_times(client->jack, &stated_frames, &stated_start,
                                             &stated_end, &stated_period) == 0;

    AudioServerPeriod* record = &client->records[index];
    record->frames = frames;
    record->cycle_us = static_cast<uint32_t>(end_of_cycle - start);
    record->wake_us = microseconds_between(start, entry);
    record->end_us = microseconds_between(start, end);
    record->stated_end_us = stated ? microseconds_between(start, stated_end) : 0;
    record->work_ns = work_end - work_start;
    record->server_load = jack_cpu_load(client->jack);
    record->server_xruns = client->xruns.load(std::memory_order_relaxed);
    record->missed = end > end_of_cycle;
    client->written.store(index + 1, std::memory_order_release);
}

int on_process(jack_nframes_t frames, void* argument) {
    auto* client = static_cast<AudioServerClient*>(argument);
    const jack_time_t entry = jack_get_time();
    const jack_nframes_t since_start = jack_frames_since_cycle_start(client->jack);
    auto* out = static_cast<float*>(jack_port_get_buffer(client->port, frames));
    if (out != nullptr) {
        std::memset(out, 0, sizeof(float) * frames);
    }
    client->periods.fetch_add(1, std::memory_order_relaxed);
    client->busy.store(true);
    if (client->armed.load()) {
        record_period(client, frames, entry, since_start);
    }
    client->busy.store(false);
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
    if (!client->shutdown.load()) {
        std::snprintf(client->shutdown_reason, sizeof client->shutdown_reason, "%s",
                      reason != nullptr ? reason : "");
        client->shutdown.store(true);
    }
}

// Without a reason: the library that calls only this one says nothing more.
void on_plain_shutdown(void* argument) {
    on_shutdown(JackFailure, "the server went away", argument);
}

bool install_callbacks(AudioServerClient* client) {
    jack_client_t* jack = client->jack;
    jack_on_shutdown(jack, on_plain_shutdown, client);
    jack_on_info_shutdown(jack, on_shutdown, client);
    return jack_set_process_callback(jack, on_process, client) == 0 &&
           jack_set_xrun_callback(jack, on_xrun, client) == 0 &&
           jack_set_buffer_size_callback(jack, on_buffer_size, client) == 0;
}
} // namespace

bool audio_server_available() {
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
    } else if ((client->port = jack_port_register(client->jack, "out", JACK_DEFAULT_AUDIO_TYPE,
                                                  JackPortIsOutput, 0)) == nullptr) {
        failure = "the JACK server refused our output port";
    } else if (!install_callbacks(client)) {
        failure = "the JACK server refused our callbacks";
    } else if (jack_activate(client->jack) != 0) {
        failure = "the JACK server did not activate our client";
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

bool audio_server_connect_output(AudioServerClient* client, const char* destination,
                                 AudioServerError* error) {
    const int result = jack_connect(client->jack, jack_port_name(client->port), destination);
    if (result != 0) {
        std::snprintf(error->text, sizeof error->text, "cannot connect our output to %.200s",
                      destination);
        return false;
    }
    return true;
}

bool audio_server_set_work(AudioServerClient* client, AudioServerWork work, void* context) {
    if (client->armed.load()) {
        return false;
    }
    client->work = work;
    client->context = context;
    return true;
}

bool audio_server_start_run(AudioServerClient* client, AudioServerPeriod* records,
                            uint32_t periods) {
    if (client->armed.load() || client->shutdown.load()) {
        return false;
    }
    client->records = records;
    client->capacity = periods;
    client->written.store(0);
    client->armed.store(true);
    return true;
}

AudioServerWaitResult audio_server_wait_run(AudioServerClient* client, int64_t timeout_ms) {
    const int64_t deadline = monotonic_ns() + timeout_ms * NS_PER_MS;
    for (;;) {
        if (client->written.load(std::memory_order_acquire) >= client->capacity) {
            return AudioServerWaitResult::done;
        }
        if (client->shutdown.load()) {
            return AudioServerWaitResult::shutdown;
        }
        if (client->size_changed.load()) {
            return AudioServerWaitResult::buffer_size_changed;
        }
        if (monotonic_ns() >= deadline) {
            return AudioServerWaitResult::timed_out;
        }
        sleep_ns(POLL_NS);
    }
}

uint32_t audio_server_stop_run(AudioServerClient* client) {
    client->armed.store(false);
    // The work is ours and finite, so the server's thread leaves it soon.
    while (client->busy.load()) {
        sleep_ns(POLL_NS / 10);
    }
    return client->written.load(std::memory_order_acquire);
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
    } else {
        state->server_load = jack_cpu_load(client->jack);
    }
}

void audio_server_close(AudioServerClient* client) {
    if (client == nullptr) {
        return;
    }
    audio_server_stop_run(client);
    jack_deactivate(client->jack);
    jack_client_close(client->jack);
    delete client;
}
