// Stand-in for Windows and for builds without the JACK development files:
// no client opens, and the caller learns why in one line.
#include "platform/platform_audio_server.h"

#include <cstdio>

namespace {
#ifdef _WIN32
const char* const WHY = "there is no audio-server client on Windows: it keeps its own clock";
#else
const char* const WHY = "this build has no audio-server client (built without the JACK "
                        "development files, libjack-jackd2-dev)";
#endif
} // namespace

bool audio_server_available(AudioServerError* why) {
    std::snprintf(why->text, sizeof why->text, "%s", WHY);
    return false;
}

AudioServerClient* audio_server_open(const char*, AudioServerFormat*, AudioServerError* error) {
    std::snprintf(error->text, sizeof error->text, "%s", WHY);
    return nullptr;
}

const char* audio_server_name(const AudioServerClient*) {
    return "audio";
}

bool audio_server_connect_output(AudioServerClient*, const char*, AudioServerError*) {
    return false;
}

bool audio_server_start_work(AudioServerClient*, AudioServerWork, void*) {
    return false;
}

void audio_server_stop_work(AudioServerClient*) {}

void audio_server_state(AudioServerClient*, AudioServerState* state) {
    *state = AudioServerState{};
}

void audio_server_close(AudioServerClient*) {}
