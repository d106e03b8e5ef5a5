#include "session/session_json.h"

#include <nlohmann/json.hpp>

// Read into std::map objects, whose lookups stay cheap however many members
// a hostile object has; written in our own order.
using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

namespace {
// Counts values and nesting as the parser meets them and stops it at the
// first beyond the limits, before any tree is built.
struct Bounds {
    size_t values = 0;
    int depth = 0;
    std::string problem;

    bool value() {
        if (++values <= MAX_SESSION_NODES) {
            return true;
        }
        problem = "the file holds more than " + std::to_string(MAX_SESSION_NODES) +
                  " values, more than a session has";
        return false;
    }
    bool open() {
        if (++depth <= MAX_SESSION_DEPTH) {
            return value();
        }
        problem = "the JSON nests deeper than " + std::to_string(MAX_SESSION_DEPTH) +
                  " levels, as no session does";
        return false;
    }
    bool null() {
        return value();
    }
    bool boolean(bool) {
        return value();
    }
    bool number_integer(Json::number_integer_t) {
        return value();
    }
    bool number_unsigned(Json::number_unsigned_t) {
        return value();
    }
    bool number_float(Json::number_float_t, const Json::string_t&) {
        return value();
    }
    bool string(Json::string_t&) {
        return value();
    }
    bool binary(Json::binary_t&) {
        return value();
    }
    bool key(Json::string_t&) {
        return value();
    }
    bool start_object(size_t) {
        return open();
    }
    bool start_array(size_t) {
        return open();
    }
    bool end_object() {
        --depth;
        return true;
    }
    bool end_array() {
        --depth;
        return true;
    }
    // The parser's words without its prefix and without the bytes it last
    // read, which may be anything: the position says where.
    bool parse_error(size_t position, const std::string&,
                     const nlohmann::detail::exception& error) {
        std::string message = error.what();
        const size_t start = message.find("] ");
        message = start == std::string::npos ? message : message.substr(start + 2);
        problem = "the file is not JSON at byte " + std::to_string(position) + ": " +
                  message.substr(0, message.find("; last read"));
        return false;
    }
};

bool fault(std::string* problem, const std::string& where, const char* key, const char* what) {
    *problem = where + (where.empty() ? "" : ".") + key + " " + what;
    return false;
}

const Json* member(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

// object[key] as a T when `fits` takes it; else false, with `problem`
// naming the field and saying what it should be.
template <typename T, typename Fits>
bool get(const Json& object, const std::string& where, const char* key, Fits fits,
         const char* should_be, T* value, std::string* problem) {
    const Json* found = member(object, key);
    if (found == nullptr || !fits(*found)) {
        return fault(problem, where, key, should_be);
    }
    *value = found->get<T>();
    return true;
}

bool get_text(const Json& object, const std::string& where, const char* key, size_t longest,
              std::string* text, std::string* problem) {
    const auto fits = [longest](const Json& value) {
        return value.is_string() && value.get_ref<const std::string&>().size() <= longest;
    };
    return get(object, where, key, fits, "is not a string of a session's length", text, problem);
}

bool get_count(const Json& object, const std::string& where, const char* key, int64_t* count,
               std::string* problem) {
    const auto fits = [](const Json& value) {
        return value.is_number_integer() &&
               (value.is_number_unsigned() ? value.get<uint64_t>() <= uint64_t{INT64_MAX}
                                           : value.get<int64_t>() >= 0);
    };
    return get(object, where, key, fits, "is not a whole number of 0 or more", count, problem);
}

bool get_number(const Json& object, const std::string& where, const char* key, double* number,
                std::string* problem) {
    const auto fits = [](const Json& value) { return value.is_number(); };
    return get(object, where, key, fits, "is not a number", number, problem);
}

bool get_flag(const Json& object, const std::string& where, const char* key, bool* flag,
              std::string* problem) {
    const auto fits = [](const Json& value) { return value.is_boolean(); };
    return get(object, where, key, fits, "is not true or false", flag, problem);
}

// The member `key` as an array of objects, or null with `problem` set.
const Json* get_objects(const Json& object, const std::string& where, const char* key,
                        std::string* problem) {
    const Json* value = member(object, key);
    if (value == nullptr || !value->is_array()) {
        fault(problem, where, key, "is not an array");
        return nullptr;
    }
    for (const Json& entry : *value) {
        if (!entry.is_object()) {
            fault(problem, where, key, "holds something other than objects");
            return nullptr;
        }
    }
    return value;
}

std::string at(const std::string& where, const char* key, size_t index) {
    return where + (where.empty() ? "" : ".") + key + "[" + std::to_string(index) + "]";
}

bool read_channels(const Json& object, const std::string& where, const char* key,
                   ChannelCounts* counts, std::string* problem) {
    const Json* value = member(object, key);
    if (value == nullptr || !value->is_object()) {
        return fault(problem, where, key, "is not an object");
    }
    const std::string inside = where + "." + key;
    return get_count(*value, inside, "audio", &counts->audio, problem) &&
           get_count(*value, inside, "midi", &counts->midi, problem);
}

bool read_plugin(const Json& object, const std::string& where, SessionPlugin* plugin,
                 std::string* problem) {
    const Json* controls = nullptr;
    if (!get_text(object, where, "uri", MAX_SESSION_TEXT, &plugin->uri, problem) ||
        !get_flag(object, where, "active", &plugin->active, problem) ||
        !read_channels(object, where, "inputs", &plugin->inputs, problem) ||
        !read_channels(object, where, "outputs", &plugin->outputs, problem) ||
        (controls = get_objects(object, where, "controls", problem)) == nullptr) {
        return false;
    }
    if (member(object, "state") != nullptr &&
        !get_text(object, where, "state", MAX_SESSION_NOTE, &plugin->state_path, problem)) {
        return false;
    }
    for (size_t index = 0; index < controls->size(); ++index) {
        const std::string inside = at(where, "controls", index);
        ControlValue control;
        if (!get_text((*controls)[index], inside, "symbol", MAX_SESSION_TEXT, &control.symbol,
                      problem) ||
            !get_number((*controls)[index], inside, "value", &control.value, problem)) {
            return false;
        }
        plugin->controls.push_back(control);
    }
    return true;
}

bool read_feed(const Json& object, const std::string& where, RouteFeed* feed,
               std::string* problem) {
    int64_t route = 0;
    if (!get_count(object, where, "route", &route, problem) ||
        !get_number(object, where, "gain", &feed->gain, problem) ||
        !get_flag(object, where, "send", &feed->send, problem)) {
        return false;
    }
    feed->route = static_cast<size_t>(route);
    return true;
}

bool read_route(const Json& object, const std::string& where, SessionRoute* route,
                std::string* problem) {
    std::string kind;
    const Json* plugins = nullptr;
    const Json* feeds = nullptr;
    const Json* skipped = nullptr;
    if (!get_text(object, where, "id", MAX_SESSION_TEXT, &route->id, problem) ||
        !get_text(object, where, "name", MAX_SESSION_TEXT, &route->name, problem) ||
        !get_text(object, where, "kind", MAX_SESSION_TEXT, &kind, problem)) {
        return false;
    }
    if (!route_kind_from_name(kind, &route->kind)) {
        return fault(problem, where, "kind", "is no kind of route");
    }
    if ((plugins = get_objects(object, where, "plugins", problem)) == nullptr ||
        (feeds = get_objects(object, where, "feeds", problem)) == nullptr ||
        (skipped = get_objects(object, where, "skipped", problem)) == nullptr) {
        return false;
    }
    route->plugins.resize(plugins->size());
    route->feeds.resize(feeds->size());
    route->skipped.resize(skipped->size());
    for (size_t index = 0; index < plugins->size(); ++index) {
        if (!read_plugin((*plugins)[index], at(where, "plugins", index), &route->plugins[index],
                         problem)) {
            return false;
        }
    }
    for (size_t index = 0; index < feeds->size(); ++index) {
        if (!read_feed((*feeds)[index], at(where, "feeds", index), &route->feeds[index], problem)) {
            return false;
        }
    }
    for (size_t index = 0; index < skipped->size(); ++index) {
        const std::string inside = at(where, "skipped", index);
        SkippedItem& item = route->skipped[index];
        if (!get_text((*skipped)[index], inside, "what", MAX_SESSION_NOTE, &item.what, problem) ||
            !get_text((*skipped)[index], inside, "why", MAX_SESSION_NOTE, &item.why, problem)) {
            return false;
        }
    }
    return true;
}

bool read_document(const Json& document, Session* session, std::string* problem) {
    int64_t schema = 0;
    const Json* routes = nullptr;
    if (!document.is_object()) {
        *problem = "the file is JSON but not an object: not a session";
        return false;
    }
    if (!get_count(document, "", "schema", &schema, problem)) {
        return false;
    }
    if (schema != SESSION_SCHEMA) {
        *problem = "the session is of schema " + std::to_string(schema) + "; this program reads " +
                   std::to_string(SESSION_SCHEMA);
        return false;
    }
    if (!get_text(document, "", "name", MAX_SESSION_TEXT, &session->name, problem) ||
        !get_count(document, "", "sample_rate", &session->sample_rate, problem) ||
        (routes = get_objects(document, "", "routes", problem)) == nullptr) {
        return false;
    }
    session->routes.resize(routes->size());
    for (size_t index = 0; index < routes->size(); ++index) {
        if (!read_route((*routes)[index], at("", "routes", index), &session->routes[index],
                        problem)) {
            return false;
        }
    }
    return check_session(*session, problem);
}

OrderedJson channels_json(const ChannelCounts& counts) {
    return {{"audio", counts.audio}, {"midi", counts.midi}};
}

OrderedJson plugin_json(const SessionPlugin& plugin) {
    OrderedJson object = {{"uri", plugin.uri},
                          {"active", plugin.active},
                          {"inputs", channels_json(plugin.inputs)},
                          {"outputs", channels_json(plugin.outputs)},
                          {"controls", OrderedJson::array()}};
    for (const ControlValue& control : plugin.controls) {
        object["controls"].push_back({{"symbol", control.symbol}, {"value", control.value}});
    }
    if (!plugin.state_path.empty()) {
        object["state"] = plugin.state_path;
    }
    return object;
}

OrderedJson route_json(const SessionRoute& route) {
    OrderedJson object = {{"id", route.id},
                          {"name", route.name},
                          {"kind", route_kind_name(route.kind)},
                          {"plugins", OrderedJson::array()},
                          {"feeds", OrderedJson::array()},
                          {"skipped", OrderedJson::array()}};
    for (const SessionPlugin& plugin : route.plugins) {
        object["plugins"].push_back(plugin_json(plugin));
    }
    for (const RouteFeed& feed : route.feeds) {
        object["feeds"].push_back(
            {{"route", feed.route}, {"gain", feed.gain}, {"send", feed.send}});
    }
    for (const SkippedItem& item : route.skipped) {
        object["skipped"].push_back({{"what", item.what}, {"why", item.why}});
    }
    return object;
}
} // namespace

std::string session_json_text(const Session& session) {
    OrderedJson document = {{"schema", SESSION_SCHEMA},
                            {"name", session.name},
                            {"sample_rate", session.sample_rate},
                            {"routes", OrderedJson::array()}};
    for (const SessionRoute& route : session.routes) {
        document["routes"].push_back(route_json(route));
    }
    return document.dump(2, ' ', false, OrderedJson::error_handler_t::replace) + "\n";
}

bool read_session_json(const std::string& text, Session* session, std::string* problem) {
    *session = Session{};
    if (!within_size(text.size(), problem)) {
        return false;
    }
    Bounds bounds;
    Json document;
    // The parser reports through `bounds`; the catch is for anything it
    // might still throw, so nothing leaves the reader.
    try {
        if (!Json::sax_parse(text, &bounds)) {
            *problem = bounds.problem;
            return false;
        }
        document = Json::parse(text, nullptr, false);
    } catch (const Json::exception& error) {
        *problem = std::string("the file is not JSON: ") + error.what();
        return false;
    }
    return read_document(document, session, problem);
}
