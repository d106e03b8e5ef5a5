// Stand-in for builds without the JACK development files: no client opens.
#include "platform/platform_audio_server.h"

#include <cstdio>

bool audio_server_available() {
    return false;
}

AudioServerClient* audio_server_open(const char*, AudioServerFormat*, AudioServerError* error) {
    std::snprintf(error->text, sizeof error->text,
                  "this build has no audio-server client (JACK development files not found)");
    return nullptr;
}

bool audio_server_connect_output(AudioServerClient*, const char*, AudioServerError*) {
    return false;
}

bool audio_server_set_work(AudioServerClient*, AudioServerWork, void*) {
    return false;
}

bool audio_server_start_run(AudioServerClient*, AudioServerPeriod*, uint32_t) {
    return false;
}

AudioServerWaitResult audio_server_wait_run(AudioServerClient*, int64_t) {
    return AudioServerWaitResult::shutdown;
}

uint32_t audio_server_stop_run(AudioServerClient*) {
    return 0;
}

void audio_server_state(AudioServerClient*, AudioServerState* state) {
    *state = AudioServerState{};
}

void audio_server_close(AudioServerClient*) {}
