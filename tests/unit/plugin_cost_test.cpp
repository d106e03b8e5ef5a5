// A plugin load's offline cost: timed once the plugin settles, and the line
// fitted through its costs at several buffer sizes.
#include "engine/realtime/plugin_cost.h"
#include "tests/unit/plugin_host_fixture.h"

// Timed once it works: a plugin that loads what it plays on its worker is
// timed after the load, one that asks its worker every block settles all
// the same, and what a chain gave before its timing tells one that did no
// work from one that did.
TEST_F(Plugins, OfflineTimingWaitsUntilThePluginSettles) {
    static int64_t now = 0;
    const auto clock = [] { return now += 1000; };
    struct Case {
        std::vector<std::string> kinds;
        std::vector<std::string> settings;
        PluginOutputShape output;
    } cases[] = {{{"late-load"}, {}, PLUGIN_OUTPUT_SOUND},
                 {{"worker"}, {}, PLUGIN_OUTPUT_INPUT}, // asks for work every block
                 {{"gain"}, {}, PLUGIN_OUTPUT_INPUT},
                 {{"stereo"}, {"gain=0.3"}, PLUGIN_OUTPUT_SCALED},
                 {{"gain", "gain"}, {"1:gain=0"}, PLUGIN_OUTPUT_SILENT},
                 {{"instrument"}, {}, PLUGIN_OUTPUT_SOUND},
                 {{"burst-always"}, {}, PLUGIN_OUTPUT_SOUND}};
    for (const Case& c : cases) {
        PluginCost cost{};
        std::string error;
        PluginLoadOrder order = order_of(c.kinds, c.settings);
        ASSERT_TRUE(plugin_cost_measure(host, &order, clock, 1, 10000, &cost, &error)) << error;
        EXPECT_TRUE(cost.settled) << c.kinds[0];
        EXPECT_GE(cost.settle_blocks, 48000u / 64) << c.kinds[0]; // a second of audio at least
        EXPECT_EQ(cost.output, c.output) << c.kinds[0];
    }
}

TEST_F(Plugins, OfflineCostAndItsLine) {
    // A clock that moves 1000 ns each reading: rounds of 10 readings of 8
    // blocks, 125 ns a block.
    static int64_t now = 0;
    PluginCost cost{};
    std::string error;
    PluginLoadOrder order = order_of({"gain"});
    ASSERT_TRUE(plugin_cost_measure(
        host, &order, [] { return now += 1000; }, 3, 10000, &cost, &error))
        << error;
    EXPECT_DOUBLE_EQ(cost.ns_per_block, 125.0);
    EXPECT_DOUBLE_EQ(cost.ns_per_sample, 125.0 / 64);
    EXPECT_EQ(cost.blocks, 3u * 80);
    order.uris = {"urn:zem-test:unknown-feature"};
    EXPECT_FALSE(plugin_cost_measure(
        host, &order, [] { return now += 1000; }, 3, 10000, &cost, &error));

    PluginCostLine line =
        plugin_cost_line({{64, 100 + 2.0 * 64, 0, 0, 0, true, PLUGIN_OUTPUT_SOUND},
                          {256, 100 + 2.0 * 256, 0, 0, 0, true, PLUGIN_OUTPUT_SOUND},
                          {1024, 100 + 2.0 * 1024, 0, 0, 0, true, PLUGIN_OUTPUT_SOUND}});
    EXPECT_NEAR(line.a_ns, 100.0, 1e-9);
    EXPECT_NEAR(line.b_ns_per_sample, 2.0, 1e-12);
    line = plugin_cost_line({{128, 640, 0, 0, 0, true, PLUGIN_OUTPUT_SOUND}});
    EXPECT_EQ(line.a_ns, 0.0);
    EXPECT_EQ(line.b_ns_per_sample, 5.0);
}
