#include "session/ardour_session.h"

#include "session/ardour_xml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace {
const char* const OTHER_PLUGIN_FORMATS[] = {"ladspa", "lxvst",     "windows-vst", "mac-vst",
                                            "vst3",   "audiounit", "luaproc"};
const char* const ARDOUR_OWN_PROCESSORS[] = {"trim",      "amp",        "meter",      "polarity",
                                             "main-outs", "diskreader", "diskwriter", "triggerbox",
                                             "intreturn", "capture",    "return"};

// The first of these flags that a route's presentation holds names its
// kind; a foldback bus and the monitor section mix audio as a bus does.
struct KindFlag {
    const char* flag;
    RouteKind kind;
};
const KindFlag KIND_FLAGS[] = {
    {"MasterOut", ROUTE_MASTER},     {"AudioTrack", ROUTE_AUDIO_TRACK},
    {"MidiTrack", ROUTE_MIDI_TRACK}, {"AudioBus", ROUTE_AUDIO_BUS},
    {"MidiBus", ROUTE_MIDI_BUS},     {"FoldbackBus", ROUTE_AUDIO_BUS},
    {"MonitorOut", ROUTE_AUDIO_BUS},
};

struct Reader {
    std::string folder;
    Session* session;
    std::string* problem;
    std::unordered_map<std::string, size_t> by_id;
    std::unordered_map<std::string, size_t> by_input;  // a route's input ports' owner name
    std::unordered_map<std::string, size_t> by_output; // and its output ports'
    std::unordered_set<uint64_t> connected;            // direct feeds met, from * routes + to
};

bool fail(Reader* reader, const std::string& line) {
    *reader->problem = line;
    return false;
}

bool listed(const char* const* begin, const char* const* end, const std::string& name) {
    return std::any_of(begin, end, [&](const char* entry) { return name == entry; });
}

bool skip(Reader* reader, SessionRoute* route, const std::string& what, const std::string& why) {
    if (!route_items_within(*route, 1, reader->problem)) {
        return false;
    }
    route->skipped.push_back({what, why});
    return true;
}

// A state folder or a processor id that stays inside the session's plugins
// folder.
bool plain_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

bool kind_of(const std::string& flags, RouteKind* kind) {
    for (const KindFlag& entry : KIND_FLAGS) {
        size_t start = 0;
        while (start <= flags.size()) {
            size_t end = std::min(flags.find(',', start), flags.size());
            if (flags.compare(start, end - start, entry.flag) == 0) {
                *kind = entry.kind;
                return true;
            }
            start = end + 1;
        }
    }
    return false;
}

// Ardour writes <Channels type="audio" count="2"/> inside; a count given as
// an attribute (audio="2") is taken too.
bool read_channels(Reader* reader, pugi::xml_node node, ChannelCounts* counts) {
    for (const char* type : {"audio", "midi"}) {
        int64_t* count = type[0] == 'a' ? &counts->audio : &counts->midi;
        if (node.attribute(type) && !xml_count(node, type, count, reader->problem)) {
            return false;
        }
    }
    for (pugi::xml_node channels : node.children("Channels")) {
        const std::string type = channels.attribute("type").value();
        if (type != "audio" && type != "midi") {
            return fail(reader, "a plugin's channels are of type " + quoted(type) +
                                    ", neither audio nor midi");
        }
        if (!xml_count(channels, "count", type == "audio" ? &counts->audio : &counts->midi,
                       reader->problem)) {
            return false;
        }
    }
    return true;
}

bool read_plugin(Reader* reader, pugi::xml_node node, const std::string& processor_id,
                 SessionRoute* route) {
    SessionPlugin plugin;
    if (!xml_text(node, "unique-id", &plugin.uri, reader->problem)) {
        return false;
    }
    if (plugin.uri.empty()) {
        return fail(reader, "a plugin on route " + quoted(route->name) + " names no URI");
    }
    plugin.active = node.attribute("active").as_bool(true);
    if (!read_channels(reader, node.child("ConfiguredInput"), &plugin.inputs) ||
        !read_channels(reader, node.child("ConfiguredOutput"), &plugin.outputs)) {
        return false;
    }
    const pugi::xml_node lv2 = node.child("lv2");
    for (pugi::xml_node port : lv2.children("Port")) {
        ControlValue control;
        if (!xml_text(port, "symbol", &control.symbol, reader->problem) ||
            !xml_number(port, "value", &control.value, reader->problem)) {
            return false;
        }
        plugin.controls.push_back(control);
    }
    std::string state;
    if (!xml_text(lv2, "state-dir", &state, reader->problem)) {
        return false;
    }
    if (!state.empty() && (!plain_name(state) || !plain_name(processor_id))) {
        return fail(reader, "plugin " + quoted(plugin.uri) + " keeps its state in " +
                                quoted(state) + ", outside the session's plugins folder");
    }
    if (!state.empty()) {
        const std::string under = "plugins/" + processor_id + "/" + state;
        plugin.state_path = reader->folder.empty() ? under : reader->folder + "/" + under;
    }
    if (plugin.state_path.size() > MAX_SESSION_NOTE) {
        return fail(reader, "the path of a plugin's state is longer than " +
                                std::to_string(MAX_SESSION_NOTE) + " bytes");
    }
    route->plugins.push_back(plugin);
    return true;
}

// A send's gain is its own gain control, directly inside it since Ardour
// 7; inside a nested amp processor is taken too.
pugi::xml_node send_gain(pugi::xml_node send) {
    auto gain = [](pugi::xml_node node) {
        return node.find_child_by_attribute("Controllable", "name", "gaincontrol");
    };
    pugi::xml_node found = gain(send);
    for (pugi::xml_node inner : send.children("Processor")) {
        found = found ? found : gain(inner);
    }
    return found;
}

bool read_send(Reader* reader, pugi::xml_node node, const std::string& name, SessionRoute* route) {
    std::string target;
    if (!xml_text(node, "target", &target, reader->problem)) {
        return false;
    }
    const auto found = reader->by_id.find(target);
    if (found == reader->by_id.end()) {
        return fail(reader, "route " + quoted(route->name) + " sends to route id " +
                                quoted(target) + ", which the session does not hold");
    }
    const std::string what = "the send " + quoted(name) + " to route " +
                             quoted(reader->session->routes[found->second].name);
    if (!node.attribute("active").as_bool(true)) {
        return skip(reader, route, what, "the send is inactive");
    }
    RouteFeed feed{found->second, 1.0, true};
    const pugi::xml_node gain = send_gain(node);
    if (gain ? !xml_number(gain, "value", &feed.gain, reader->problem)
             : !skip(reader, route, "the gain of " + what, "the session holds none: taken as 1")) {
        return false;
    }
    if (!route_items_within(*route, 1, reader->problem)) {
        return false;
    }
    route->feeds.push_back(feed);
    return true;
}

std::string skipped_why(const std::string& type) {
    if (listed(std::begin(OTHER_PLUGIN_FORMATS), std::end(OTHER_PLUGIN_FORMATS), type)) {
        return "a plugin of another format: only LV2 plugins run here";
    }
    if (listed(std::begin(ARDOUR_OWN_PROCESSORS), std::end(ARDOUR_OWN_PROCESSORS), type)) {
        return "Ardour's own processor (gain, metering, disk or delivery), not a plugin";
    }
    if (type == "send" || type == "port") {
        return "it goes through ports outside the session";
    }
    return "a processor of a kind this program does not run";
}

bool read_processors(Reader* reader, pugi::xml_node node, SessionRoute* route) {
    size_t count = 0;
    for (pugi::xml_node processor : node.children("Processor")) {
        if (++count > MAX_ROUTE_PROCESSORS) {
            return fail(reader, "route " + quoted(route->name) + " has more than " +
                                    std::to_string(MAX_ROUTE_PROCESSORS) + " processors");
        }
        std::string type;
        std::string name;
        std::string id;
        if (!xml_text(processor, "type", &type, reader->problem) ||
            !xml_text(processor, "name", &name, reader->problem) ||
            !xml_text(processor, "id", &id, reader->problem)) {
            return false;
        }
        const bool read =
            type == "lv2" ? read_plugin(reader, processor, id, route)
            : type == "intsend"
                ? read_send(reader, processor, name, route)
                : skip(reader, route, quoted(name) + " (" + type + ")", skipped_why(type));
        if (!read) {
            return false;
        }
    }
    return true;
}

// The route whose ports `port` ("Reverb/audio_in 1") is one of; none for
// a port outside the session ("system:playback_1").
const size_t* owner_of(const std::unordered_map<std::string, size_t>& owners,
                       const std::string& port) {
    const size_t slash = port.rfind('/');
    const auto found =
        slash == std::string::npos ? owners.end() : owners.find(port.substr(0, slash));
    return found == owners.end() ? nullptr : &found->second;
}

bool connect(Reader* reader, size_t from, size_t to) {
    SessionRoute& route = reader->session->routes[from];
    const uint64_t key = uint64_t{from} * reader->session->routes.size() + to;
    if (!reader->connected.insert(key).second) {
        return true;
    }
    if (!route_items_within(route, 1, reader->problem)) {
        return false;
    }
    route.feeds.push_back({to, 1.0, false});
    return true;
}

// One connection of a route's port: a feed when its other end is a route's
// port, else skipped. Both ends of a connection between routes list it; it
// is taken once.
bool read_link(Reader* reader, pugi::xml_node link, const std::string& port, bool output,
               size_t index) {
    const bool internal = std::strcmp(link.name(), "Connection") == 0;
    if (!internal && std::strcmp(link.name(), "ExtConnection") != 0) {
        return true;
    }
    std::string other;
    if (!xml_text(link, "other", &other, reader->problem)) {
        return false;
    }
    const size_t* peer =
        internal ? owner_of(output ? reader->by_input : reader->by_output, other) : nullptr;
    if (peer != nullptr) {
        return output ? connect(reader, index, *peer) : connect(reader, *peer, index);
    }
    return skip(reader, &reader->session->routes[index],
                "the connection of " + quoted(port) + (output ? " to " : " from ") + quoted(other),
                "not a route of this session: hardware or another program");
}

bool read_connections(Reader* reader, pugi::xml_node node, size_t index) {
    for (pugi::xml_node io : node.children("IO")) {
        const bool output = std::strcmp(io.attribute("direction").value(), "Output") == 0;
        for (pugi::xml_node port : io.children("Port")) {
            std::string name;
            if (!xml_text(port, "name", &name, reader->problem)) {
                return false;
            }
            for (pugi::xml_node link : port.children()) {
                if (!read_link(reader, link, name, output, index)) {
                    return false;
                }
            }
        }
    }
    return true;
}

bool read_route(Reader* reader, pugi::xml_node node, size_t index) {
    SessionRoute route;
    if (!xml_text(node, "id", &route.id, reader->problem) ||
        !xml_text(node, "name", &route.name, reader->problem)) {
        return false;
    }
    const char* flags = node.child("PresentationInfo").attribute("flags").value();
    if (!kind_of(flags, &route.kind)) {
        return fail(reader, "route " + quoted(route.name) + " has the flags " + quoted(flags) +
                                ", naming no kind of route");
    }
    if (route.id.empty() || !reader->by_id.emplace(route.id, index).second) {
        return fail(reader, "route " + quoted(route.name) + " has no id, or another's");
    }
    for (pugi::xml_node io : node.children("IO")) {
        const bool output = std::strcmp(io.attribute("direction").value(), "Output") == 0;
        if (!(output ? reader->by_output : reader->by_input)
                 .emplace(io.attribute("name").value(), index)
                 .second) {
            return fail(reader, "route " + quoted(route.name) + "'s ports have another's name");
        }
    }
    reader->session->routes.push_back(route);
    return true;
}

bool read_head(Reader* reader, pugi::xml_node root) {
    int64_t format = 0;
    if (!xml_count(root, "version", &format, reader->problem)) {
        return false;
    }
    if (format < OLDEST_ARDOUR_FORMAT || format > NEWEST_ARDOUR_FORMAT) {
        return fail(reader, "the session's format " + std::to_string(format) +
                                " is not Ardour 6's, 7's or 8's (" +
                                std::to_string(OLDEST_ARDOUR_FORMAT) + " to " +
                                std::to_string(NEWEST_ARDOUR_FORMAT) + ")");
    }
    return xml_count(root, "sample-rate", &reader->session->sample_rate, reader->problem) &&
           xml_text(root, "name", &reader->session->name, reader->problem);
}
} // namespace

bool read_ardour_session(const std::string& text, const std::string& folder, Session* session,
                         std::string* problem) {
    *session = Session{};
    problem->clear();
    Reader reader{folder, session, problem, {}, {}, {}, {}};
    if (!within_size(text.size(), problem)) {
        return false;
    }
    // Each element opens with '<': a bound on the tree before it is built.
    if (static_cast<size_t>(std::count(text.begin(), text.end(), '<')) > MAX_SESSION_NODES) {
        return fail(&reader, "the file holds more than " + std::to_string(MAX_SESSION_NODES) +
                                 " elements, more than a session has");
    }
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        return fail(&reader, std::string("the file is not well-formed XML: ") +
                                 parsed.description() + " at byte " +
                                 std::to_string(parsed.offset));
    }
    if (!within_depth(document)) {
        return fail(&reader, "the XML nests deeper than " + std::to_string(MAX_SESSION_DEPTH) +
                                 " levels, as no session does");
    }
    const pugi::xml_node root = document.child("Session");
    if (!root) {
        return fail(&reader, "the file holds no Session element: it is not an Ardour session");
    }
    if (!read_head(&reader, root)) {
        return false;
    }
    const auto routes = root.child("Routes").children("Route");
    size_t index = 0;
    for (pugi::xml_node route : routes) {
        if (!read_route(&reader, route, index++)) {
            return false;
        }
    }
    // Too many routes are refused before their contents are read.
    if (session->routes.size() > MAX_SESSION_ROUTES) {
        return check_session(*session, problem);
    }
    // Every route's sends before any connection, so that each route's feeds
    // list its sends in chain order, then its connections.
    index = 0;
    for (pugi::xml_node route : routes) {
        if (!read_processors(&reader, route, &session->routes[index++])) {
            return false;
        }
    }
    index = 0;
    for (pugi::xml_node route : routes) {
        if (!read_connections(&reader, route, index++)) {
            return false;
        }
    }
    return check_session(*session, problem);
}
