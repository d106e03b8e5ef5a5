// A session opened on our test plugins and run as a DAW runs it: buses hear
// the sum of what feeds them at each feed's gain, a saved state is
// restored, and a hold on two real-time threads runs every period.
#include "engine/realtime/session_hold.h"
#include "engine/realtime/session_judge.h"
#include "tests/unit/plugin_host_fixture.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {
// Never a stop: waits as the console's wait would, then says none came.
int no_stop(int64_t timeout_ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return 0;
}

SessionRoute route_of(const char* name, RouteKind kind, std::vector<SessionPlugin> plugins,
                      std::vector<RouteFeed> feeds) {
    SessionRoute route;
    route.id = route.name = name;
    route.kind = kind;
    route.plugins = std::move(plugins);
    route.feeds = std::move(feeds);
    return route;
}

SessionPlugin plugin_of(const char* kind, std::vector<ControlValue> controls = {}) {
    SessionPlugin plugin;
    plugin.uri = std::string("urn:zem-test:") + kind;
    plugin.controls = std::move(controls);
    return plugin;
}

// Two tracks into a bus without plugins, the bus into a stereo master,
// listed first as Ardour lists it; the first track's gain comes from a
// state saved as a host saves it.
Session two_tracks(const std::string& state) {
    Session session;
    session.name = "two tracks";
    session.sample_rate = 48000;
    SessionPlugin saved = plugin_of("gain");
    saved.state_path = state;
    session.routes = {
        route_of("Master", ROUTE_MASTER, {plugin_of("stereo")}, {}),
        route_of("A", ROUTE_AUDIO_TRACK, {saved}, {{3, 0.5, true}}),
        route_of("B", ROUTE_AUDIO_TRACK, {plugin_of("gain", {{"gain", 2.0}})}, {{3, 1.0, false}}),
        route_of("Bus", ROUTE_AUDIO_BUS, {}, {{0, 1.0, false}})};
    return session;
}
} // namespace

TEST_F(Plugins, ASessionSumsItsBusesAndHoldsOnRealThreads) {
    const std::filesystem::path state =
        std::filesystem::temp_directory_path() / ("zem-state-" + std::to_string(getpid()));
    std::filesystem::create_directories(state);
    std::ofstream(state / "state.ttl")
        << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
           "<> a pset:Preset ; lv2:appliesTo <urn:zem-test:gain> ;\n"
           "   lv2:port [ lv2:symbol \"gain\" ; pset:value 0.25 ] .\n";
    const Session session = two_tracks(state.string());
    SessionRig rig;
    std::string problem;
    ASSERT_TRUE(session_rig_open(host, &session, 64, &rig, nullptr, &problem)) << problem;
    float gain = 0.0f;
    ASSERT_TRUE(plugin_load_control(rig.routes[1].load, 0, 0, "gain", &gain));
    EXPECT_EQ(gain, 0.25f);
    for (uint32_t r : route_order(&rig.graph)) {
        session_rig_run_route(&rig, r, nullptr, nullptr);
    }
    const float* a = session_rig_output(&rig, 1, 0);
    const float* b = session_rig_output(&rig, 2, 0);
    const float* bus = session_rig_output(&rig, 3, 0);
    ASSERT_EQ(rig.routes[0].outputs, 2u);
    for (uint32_t i = 0; i < 64; ++i) {
        EXPECT_FLOAT_EQ(bus[i], 0.5f * a[i] + b[i]) << i;
        EXPECT_FLOAT_EQ(session_rig_output(&rig, 0, 1)[i], bus[i]) << i;
    }
    EXPECT_NE(a[10], 0.0f);

    const uint32_t processors[2] = {0, 1};
    const SessionHoldPlan plan{2, processors, 100, 1'333'333, no_stop};
    // The plugins are numbered as the rig runs them, and a hold times each.
    const std::vector<uint32_t> first = session_first_links(&session);
    ASSERT_EQ(first.back(), rig.links);
    std::vector<int64_t> memory(session_hold_bytes(100, 4, rig.links, 2) / 8 + 1);
    SessionHold hold;
    session_hold_place(&hold, memory.data(), 100, 4, rig.links, 2);
    ASSERT_TRUE(session_hold_run(&rig, &plan, &hold));
    EXPECT_EQ(hold.ran, 100u);
    for (uint64_t k = 0; k < hold.ran; ++k) {
        EXPECT_GE(hold.end_ns[k], 0) << k;
        EXPECT_GT(hold.route_ns[k * 4], 0) << k;                   // the master ran
        EXPECT_GT(hold.link_ns[k * rig.links + first[0]], 0) << k; // and its plugin
        EXPECT_GE(hold.route_ns[k * 4], hold.link_ns[k * rig.links + first[0]]) << k;
    }
    // Each route's plugins are its own, though the routes ran in another order.
    const SessionVerdict verdict =
        judge_session(&hold, &hold, &rig.graph, first, 100, 1'333'333, 2, 0.01);
    for (const RouteTimes& times : verdict.routes) {
        EXPECT_EQ(times.plugins.size(), times.route == 3 ? 0u : 1u) << times.route;
    }
    EXPECT_EQ(hold.spots[0].route.load(), 0u); // no route left running
    session_hold_place(&hold, memory.data(), 100, 1, 0, 2);
    ASSERT_TRUE(session_hold_run(nullptr, &plan, &hold));
    EXPECT_EQ(hold.ran, 100u);
    session_rig_close(&rig);
    std::filesystem::remove_all(state);

    SessionRig refused;
    Session broken = two_tracks(state.string()); // its state folder is gone
    EXPECT_FALSE(session_rig_open(host, &broken, 64, &refused, nullptr, &problem));
    EXPECT_NE(problem.find("route A: the saved state of ZEM test gain"), std::string::npos)
        << problem;
}
