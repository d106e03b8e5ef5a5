// The session readers fed any bytes, as Ardour's XML and as our JSON: each
// either refuses them in one printable line or gives a record, and a record
// given goes through our JSON and comes back the same.
#include "session/ardour_session.h"
#include "session/session_json.h"
#include "tests/fuzz/printable_line.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
void round_trip(bool read, const Session& session, const std::string& problem) {
    if (!read) {
        if (!printable_line(problem)) {
            std::abort();
        }
        return;
    }
    Session back;
    std::string again;
    if (!read_session_json(session_json_text(session), &back, &again) || !(back == session)) {
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Session session;
    std::string problem;
    round_trip(read_ardour_session(text, "fuzzed", &session, &problem), session, problem);
    round_trip(read_session_json(text, &session, &problem), session, problem);
    return 0;
}
