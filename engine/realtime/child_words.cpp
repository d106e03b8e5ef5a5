#include "engine/realtime/child_words.h"

#include <cstdio>
#include <cstring>

std::string child_end_words(const ChildEnd* end, const char* process) {
    const char* stage = end->stage[0] != '\0' ? end->stage : process;
    char words[160];
    if (!end->started) {
        std::snprintf(words, sizeof words, "its process could not start");
    } else if (end->timed_out) {
        std::snprintf(words, sizeof words, "no answer in %s after %lld s", stage,
                      static_cast<long long>((end->allowed_ms + 999) / 1000));
    } else if (std::strcmp(end->signal_name, "SIGKILL") == 0) {
        // Not ours: the kernel's out-of-memory killer sends it, as a rule.
        std::snprintf(words, sizeof words,
                      "killed with signal %d (SIGKILL, most likely for want of memory) in %s",
                      end->signal, stage);
    } else if (end->signal != 0) {
        std::snprintf(words, sizeof words, "crashed with signal %d (%s) in %s", end->signal,
                      end->signal_name, stage);
    } else {
        std::snprintf(words, sizeof words, "its process ended early (status %d) in %s",
                      end->exit_status, stage);
    }
    return words;
}
