// The session readers against hand-written sessions in Ardour's three
// formats, our own JSON written and read back, and hostile files, each
// refused in one line.
#include "session/ardour_session.h"
#include "session/session_file.h"
#include "session/session_json.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {
const std::string FIXTURES = ZEM_SESSION_FIXTURES;

Session read_fixture(const std::string& name) {
    Session session;
    std::string problem;
    EXPECT_TRUE(read_session_path(FIXTURES + "/" + name, &session, &problem)) << problem;
    return session;
}

bool skipped_with(const SessionRoute& route, const std::string& what, const std::string& why) {
    for (const SkippedItem& item : route.skipped) {
        if (item.what.find(what) != std::string::npos && item.why.find(why) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string route_xml(const std::string& id, const std::string& name, const std::string& flags,
                      const std::string& body) {
    return "<Route id=\"" + id + "\" name=\"" + name + "\"><PresentationInfo flags=\"" + flags +
           "\"/><IO name=\"" + name + "\" direction=\"Input\"/>" + body + "</Route>";
}

std::string session_xml(const std::string& routes) {
    return "<Session version=\"7002\" name=\"s\" sample-rate=\"48000\"><Routes>" + routes +
           "</Routes></Session>";
}

std::string output_to(const std::string& name, const std::string& target) {
    return "<IO name=\"" + name + "\" direction=\"Output\"><Port name=\"" + name +
           "/audio_out 1\"><Connection other=\"" + target + "/audio_in 1\"/></Port></IO>";
}

std::string nested(const std::string& open, const std::string& close) {
    std::string text;
    for (int level = 0; level < 100; ++level) {
        text = open + text + close;
    }
    return text;
}
} // namespace

TEST(ArdourSession, Ardour6SendWithNestedGainPluginStateAndAttributeChannels) {
    const Session session = read_fixture("ardour6_send.ardour");
    ASSERT_EQ(session.routes.size(), 3u);
    EXPECT_EQ(session.sample_rate, 44100);
    const SessionRoute& vocal = session.routes[1];
    EXPECT_EQ(vocal.kind, ROUTE_AUDIO_TRACK);
    ASSERT_EQ(vocal.plugins.size(), 1u);
    const SessionPlugin& eq = vocal.plugins[0];
    EXPECT_EQ(eq.uri, "http://gareus.org/oss/lv2/fil4#mono");
    EXPECT_EQ(eq.inputs, (ChannelCounts{1, 0}));
    EXPECT_EQ(eq.controls, (std::vector<ControlValue>{{"enable", 1.0}, {"gain", -3.5}}));
    EXPECT_EQ(eq.state_path, FIXTURES + "/plugins/24/state3");
    EXPECT_EQ(vocal.feeds, (std::vector<RouteFeed>{{2, 0.25, true}, {0, 1.0, false}}));
    EXPECT_TRUE(skipped_with(vocal, "diskreader", "Ardour's own"));
    EXPECT_TRUE(skipped_with(vocal, "system:capture_1", "hardware"));
    const SessionRoute& echo = session.routes[2];
    EXPECT_EQ(echo.kind, ROUTE_AUDIO_BUS);
    EXPECT_FALSE(echo.plugins[0].active);
    EXPECT_EQ(echo.plugins[0].outputs, (ChannelCounts{2, 0}));
    EXPECT_TRUE(echo.plugins[0].state_path.empty());
    EXPECT_TRUE(skipped_with(session.routes[0], "system:playback_1", "hardware"));
}

TEST(ArdourSession, Ardour7BusFedByTwoTracksMidiInstrumentAndOtherFormats) {
    const Session session = read_fixture("ardour7_buses.ardour");
    ASSERT_EQ(session.routes.size(), 5u);
    // Both of Kick's ports reach Drums, and both ends list them: one feed.
    EXPECT_EQ(session.routes[1].feeds, (std::vector<RouteFeed>{{3, 1.0, false}}));
    EXPECT_EQ(session.routes[2].feeds, (std::vector<RouteFeed>{{3, 1.0, false}}));
    EXPECT_EQ(session.routes[3].feeds, (std::vector<RouteFeed>{{0, 1.0, false}}));
    EXPECT_TRUE(skipped_with(session.routes[1], "vst3", "only LV2"));
    EXPECT_TRUE(skipped_with(session.routes[2], "luaproc", "only LV2"));
    EXPECT_TRUE(skipped_with(session.routes[1], "triggerbox", "Ardour's own"));
    EXPECT_EQ(session.routes[1].plugins[0].controls.size(), 2u);
    const SessionRoute& keys = session.routes[4];
    EXPECT_EQ(keys.kind, ROUTE_MIDI_TRACK);
    EXPECT_EQ(keys.plugins[0].inputs, (ChannelCounts{0, 1}));
    EXPECT_EQ(keys.plugins[0].outputs, (ChannelCounts{2, 1}));
    EXPECT_TRUE(skipped_with(keys, "midi_capture_1", "hardware"));
}

TEST(ArdourSession, Ardour8ExternalConnectionInactiveSendAndSendWithoutGain) {
    const Session session = read_fixture("ardour8_external.ardour");
    ASSERT_EQ(session.routes.size(), 3u);
    EXPECT_TRUE(skipped_with(session.routes[0], "system:playback_1", "hardware"));
    const SessionRoute& guitar = session.routes[1];
    EXPECT_EQ(guitar.feeds,
              (std::vector<RouteFeed>{{2, 0.5, true}, {2, 1.0, true}, {0, 1.0, false}}));
    EXPECT_TRUE(skipped_with(guitar, "the send 'Room'", "inactive"));
    EXPECT_TRUE(skipped_with(guitar, "the gain of", "taken as 1"));
}

TEST(SessionJson, EveryFixtureAndAnEdgyRecordComeBackTheSame) {
    std::vector<Session> sessions;
    for (const char* name :
         {"ardour6_send.ardour", "ardour7_buses.ardour", "ardour8_external.ardour", "small.json"}) {
        sessions.push_back(read_fixture(name));
    }
    Session edgy;
    edgy.name = "Gr\xc3\xbc\xc3\x9f \"quoted\"\n";
    edgy.sample_rate = MAX_SAMPLE_RATE;
    edgy.routes.push_back({"a", "", ROUTE_MIDI_BUS, {}, {{1, 1e-300, true}}, {{"", ""}}});
    edgy.routes.push_back(
        {"b",
         "b",
         ROUTE_MASTER,
         {{"urn:x", false, {{"q", 0.1}, {"t", -1e300}}, "", {0, 0}, {MAX_PLUGIN_CHANNELS, 1}}},
         {},
         {}});
    sessions.push_back(edgy);
    for (const Session& session : sessions) {
        const std::string text = session_json_text(session);
        Session back;
        std::string problem;
        ASSERT_TRUE(read_session_json(text, &back, &problem)) << problem;
        EXPECT_EQ(back, session) << text;
        EXPECT_EQ(session_json_text(back), text);
    }
}

TEST(SessionReaders, HostileInputsAreRefusedInOneLine) {
    const std::string plugin_body =
        "<Processor type=\"lv2\" unique-id=\"" + std::string(10000, 'u') + "\"/>";
    std::string many_routes;
    for (int at = 0; at < 10000; ++at) {
        const std::string name = "r" + std::to_string(at);
        many_routes += route_xml(name, name, "AudioTrack", "");
    }
    const std::string self = route_xml("1", "A", "AudioBus", output_to("A", "A"));
    const std::string cycle =
        route_xml("1", "A", "AudioBus", "<Processor type=\"intsend\" target=\"2\"/>") +
        route_xml("2", "B", "AudioBus", output_to("B", "A"));
    const struct {
        std::string text;
        bool ardour;
        const char* words;
    } cases[] = {
        {"<Session version=\"7002\"><Routes>", true, "not well-formed XML"},
        {session_xml(self), true, "'A' feeds itself"},
        {session_xml(cycle), true, "cycle: 'A' -> 'B' -> 'A'"},
        {session_xml(
             route_xml("1", "A", "AudioTrack", "<Processor type=\"intsend\" target=\"9\"/>")),
         true, "does not hold"},
        {session_xml(many_routes), true, "10000 routes"},
        {session_xml(route_xml("1", "A", "AudioTrack", plugin_body)), true, "longer than 1024"},
        {session_xml(route_xml("1", "A", "VCA", "")), true, "no kind of route"},
        {"<Session version=\"3001\" sample-rate=\"48000\"/>", true, "not Ardour 6's"},
        {nested("<a>", "</a>"), true, "deeper than 64"},
        {std::string(MAX_SESSION_BYTES + 1, ' '), true, "larger than the 16 MB"},
        {"{\"schema\": 1", false, "not JSON"},
        {nested("[", "]"), false, "deeper than 64"},
        {"{\"schema\": 2}", false, "schema 2"},
        {"{\"schema\": 1, \"name\": \"s\", \"sample_rate\": 48000, \"routes\": [{\"id\": \"a\", "
         "\"name\": \"a\", \"kind\": \"master\", \"plugins\": [], \"feeds\": [{\"route\": 5, "
         "\"gain\": 1, \"send\": false}], \"skipped\": []}]}",
         false, "feeds route 5"},
    };
    for (const auto& hostile : cases) {
        Session session;
        std::string problem;
        const bool read = hostile.ardour ? read_ardour_session(hostile.text, "", &session, &problem)
                                         : read_session_json(hostile.text, &session, &problem);
        EXPECT_FALSE(read) << hostile.words;
        EXPECT_NE(problem.find(hostile.words), std::string::npos) << problem;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
    }
}

TEST(SessionReaders, FilesBeyondTheLimitOrNotFilesAreRefusedUnread) {
    const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / "sessions";
    std::filesystem::create_directories(folder);
    const std::filesystem::path large = folder / "large.ardour";
    std::ofstream(large).put(' ');
    std::filesystem::resize_file(large, MAX_SESSION_BYTES + 1);
    Session session;
    std::string problem;
    EXPECT_FALSE(read_session_path(large.string(), &session, &problem));
    EXPECT_NE(problem.find("larger than"), std::string::npos) << problem;
    EXPECT_FALSE(read_session_path(folder.string(), &session, &problem));
    EXPECT_NE(problem.find("not a regular file"), std::string::npos) << problem;
    std::filesystem::remove_all(folder);
}
