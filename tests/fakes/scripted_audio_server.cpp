#include "tests/fakes/scripted_audio_server.h"

#include "platform/platform_realtime.h"

#include <atomic>
#include <cstdio>
#include <thread>

struct AudioServerClient {
    ServerScript script;
    AudioServerWork work;
    void* context;
    std::thread player;
    std::atomic<uint64_t> periods;
    std::atomic<uint32_t> xruns;
    std::atomic<uint32_t> new_frames; // 0: the buffer size never changed
    std::atomic<bool> shutdown;
    char shutdown_reason[AUDIO_SERVER_TEXT]; // written before shutdown is set
};

namespace {
void play(AudioServerClient* client) {
    int64_t last_woke = 0;
    for (const ScriptedCycle& scripted : client->script.cycles) {
        if (scripted.frames != client->script.format.buffer_frames) {
            client->new_frames.store(scripted.frames);
        }
        AudioServerCycle cycle{};
        cycle.woke_ns = rt_now_ns();
        cycle.frames = scripted.frames;
        cycle.frame_time = scripted.frame_time;
        cycle.start_ns = scripted.start_ns == BEFORE_LAST_WORK ? last_woke - 1
                                                               : cycle.woke_ns + scripted.start_ns;
        cycle.deadline_ns = cycle.start_ns + scripted.deadline_ns;
        cycle.stated_end_ns =
            scripted.stated_end_ns != 0 ? cycle.start_ns + scripted.stated_end_ns : 0;
        cycle.server_load = scripted.server_load;
        client->work(client->context, &cycle);
        last_woke = cycle.woke_ns;
        client->xruns.fetch_add(scripted.xruns);
        client->periods.fetch_add(1);
        if (scripted.shutdown != nullptr) {
            std::snprintf(client->shutdown_reason, AUDIO_SERVER_TEXT, "%s", scripted.shutdown);
            client->shutdown.store(true);
            return;
        }
    }
}
} // namespace

AudioServerClient* scripted_server_open(const ServerScript& script) {
    auto* client = new AudioServerClient{};
    client->script = script;
    client->xruns.store(script.xruns);
    return client;
}

bool audio_server_available(AudioServerError* /*why*/) {
    return true;
}

AudioServerClient* audio_server_open(const char* /*name*/, AudioServerFormat* /*format*/,
                                     AudioServerError* error) {
    std::snprintf(error->text, sizeof error->text, "the scripted server has no script");
    return nullptr;
}

const char* audio_server_name(const AudioServerClient* /*client*/) {
    return "scripted";
}

bool audio_server_connect_output(AudioServerClient* /*client*/, const char* /*destination*/,
                                 AudioServerError* error) {
    std::snprintf(error->text, sizeof error->text, "the scripted server has no graph");
    return false;
}

bool audio_server_start_work(AudioServerClient* client, AudioServerWork work, void* context) {
    if (client->player.joinable() || client->shutdown.load()) {
        return false;
    }
    client->work = work;
    client->context = context;
    client->player = std::thread(play, client);
    return true;
}

void audio_server_stop_work(AudioServerClient* client) {
    // Scripts are short: the thread ends them soon.
    if (client->player.joinable()) {
        client->player.join();
    }
}

void audio_server_state(AudioServerClient* client, AudioServerState* state) {
    *state = AudioServerState{};
    state->format = client->script.format;
    state->periods = client->periods.load();
    state->server_xruns = client->xruns.load();
    state->new_buffer_frames = client->new_frames.load();
    state->buffer_size_changed = state->new_buffer_frames != 0;
    state->shutdown = client->shutdown.load();
    if (state->shutdown) {
        std::snprintf(state->shutdown_reason, AUDIO_SERVER_TEXT, "%s", client->shutdown_reason);
    }
}

void audio_server_close(AudioServerClient* client) {
    audio_server_stop_work(client);
    delete client;
}
