// A test implementation of platform/platform_window.h that draws nothing and
// shows nothing: it records every call as one line of text, in order, so
// that tests can compare what the sequencer and the main window asked of the
// window system. Objects and windows are fake handles with names.
#pragma once

#include "platform/platform_window.h"

#include <string>
#include <vector>

struct RecordedBox {
    bool owned; // by the main window, not ownerless
    std::string text;
    std::string caption;
    uint32_t flags;
};

struct RecordingPlatform {
    std::vector<std::string> calls;
    std::vector<RecordedBox> boxes;
    // Failures to simulate.
    bool fail_register_class;
    bool fail_create_window;
    bool fail_set_timer;
    bool fail_create_font;
    bool fail_load_bitmap;
    // Messages platform_get_message hands out, in order, before the quit.
    std::vector<PlatformMessage> script;
    bool quit_posted;
    int32_t quit_code;
};

extern RecordingPlatform recording;

// Forgets every call, failure, script and registered class.
void reset_recording();
// Returns the calls recorded since the last take (or reset) and forgets them.
std::vector<std::string> take_calls();
// The handle platform_create_window returns (also usable without creating).
WindowHandle recorded_window();
