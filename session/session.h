// A DAW session as this program understands it: its routes, the plugins of
// each in chain order, where each route's sound goes, and everything the
// session held that cannot be run here, kept with the reason. Both readers
// fill it and check it against the limits below, which are what a session
// may hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Real sessions are a few megabytes at most; a file beyond this is refused
// before it is read.
constexpr uint64_t MAX_SESSION_BYTES = uint64_t{16} << 20;
// Elements of the XML or values of the JSON: Ardour's session of 32 tracks
// with two plugins each holds some 11,000; this bounds the parsed tree to
// some hundred megabytes.
constexpr size_t MAX_SESSION_NODES = size_t{1} << 20;
// Ardour's sessions and our JSON nest seven levels deep.
constexpr int MAX_SESSION_DEPTH = 64;
constexpr size_t MAX_SESSION_ROUTES = 1024;
// Processors of any kind on one route, plugins among them.
constexpr size_t MAX_ROUTE_PROCESSORS = 256;
constexpr size_t MAX_ROUTE_PLUGINS = 64;
// Skipped items and feeds of one route: its processors and its connections.
constexpr size_t MAX_ROUTE_ITEMS = 4096;
// The largest plugins have some thousand control ports.
constexpr size_t MAX_PLUGIN_CONTROLS = 4096;
constexpr int64_t MAX_PLUGIN_CHANNELS = 256;
constexpr int64_t MAX_SAMPLE_RATE = 768000;
// A name, an id, a URI or a control's symbol.
constexpr size_t MAX_SESSION_TEXT = 1024;
// A path, or a skipped item's words, which quote names.
constexpr size_t MAX_SESSION_NOTE = 4096;

enum RouteKind {
    ROUTE_AUDIO_TRACK,
    ROUTE_MIDI_TRACK,
    ROUTE_AUDIO_BUS,
    ROUTE_MIDI_BUS,
    ROUTE_MASTER,
};
constexpr int ROUTE_KINDS = 5;

struct ChannelCounts {
    int64_t audio = 0;
    int64_t midi = 0;
    bool operator==(const ChannelCounts&) const = default;
};

struct ControlValue {
    std::string symbol;
    double value = 0.0;
    bool operator==(const ControlValue&) const = default;
};

struct SessionPlugin {
    std::string uri;
    bool active = true;
    std::vector<ControlValue> controls; // in the order the session lists them
    std::string state_path;             // its saved state's folder; empty when it has none
    ChannelCounts inputs;               // as the session configured it
    ChannelCounts outputs;
    bool operator==(const SessionPlugin&) const = default;
};

struct RouteFeed {
    size_t route = 0;  // an index into Session::routes
    double gain = 1.0; // linear: a send's own gain, 1 for a direct connection
    bool send = false; // through an internal send rather than a port connection
    bool operator==(const RouteFeed&) const = default;
};

// Something the session holds that is not run: what it is and why not.
struct SkippedItem {
    std::string what;
    std::string why;
    bool operator==(const SkippedItem&) const = default;
};

struct SessionRoute {
    std::string id;
    std::string name;
    RouteKind kind = ROUTE_AUDIO_TRACK;
    std::vector<SessionPlugin> plugins; // in chain order
    std::vector<RouteFeed> feeds;
    std::vector<SkippedItem> skipped;
    bool operator==(const SessionRoute&) const = default;
};

struct Session {
    std::string name;
    int64_t sample_rate = 0;
    std::vector<SessionRoute> routes;
    bool operator==(const Session&) const = default;
};

// False, with `problem` set, when the route's feeds and skipped items with
// `adding` more would be beyond MAX_ROUTE_ITEMS.
bool route_items_within(const SessionRoute& route, size_t adding, std::string* problem);

// False, with `problem` set, when a file or text of `bytes` is beyond
// MAX_SESSION_BYTES.
bool within_size(uint64_t bytes, std::string* problem);

// "audio_track", "midi_track", "audio_bus", "midi_bus", "master".
const char* route_kind_name(RouteKind kind);
// False when `name` is none of those.
bool route_kind_from_name(const std::string& name, RouteKind* kind);

// The limits above that a whole record must keep, and its feeds: each to a
// route of the session with a finite gain of 0 or more, none to itself, and
// no cycle through several. False, with `problem` set to one line, at the
// first that fails.
bool check_session(const Session& session, std::string* problem);

// `text` quoted for a problem or a note: control characters become '?' and
// it is cut after some 60 bytes, so the line stays one line.
std::string quoted(const std::string& text);
