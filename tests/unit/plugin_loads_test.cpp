// The plugin host's loads of our test plugins: the listing, chain wiring,
// the inputs, settings and presets, refusals, notes and MIDI, the side-chain,
// the worker, and restarts.
#include "tests/unit/plugin_host_fixture.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace {
PluginLoad* open_load(const PluginLoadOrder& order, PluginLoadFacts* facts, std::string* error) {
    return plugin_load_open(host, &order, facts, error);
}

std::string refusal_of(const PluginLoadOrder& order) {
    PluginLoadFacts facts;
    std::string error;
    PluginLoad* load = plugin_load_open(host, &order, &facts, &error);
    plugin_load_close(load);
    return load == nullptr ? error : "opened";
}

float control(PluginLoad* load, uint32_t plugin, const char* symbol) {
    float value = -1.0f;
    EXPECT_TRUE(plugin_load_control(load, 0, plugin, symbol, &value)) << symbol;
    return value;
}

void run_periods(PluginLoad* load, uint32_t instances, uint32_t periods) {
    for (uint32_t p = 0; p < periods; ++p) {
        plugin_load_run(load, 0, instances);
        plugin_load_finish_period(load, instances);
    }
}

float phase(PluginLoad* load, uint32_t instance) {
    float value = -1.0f;
    EXPECT_TRUE(plugin_load_control(load, instance, 0, "phase", &value));
    return value;
}

std::vector<float> output_of(PluginLoad* load, uint32_t instance) {
    const float* block = plugin_load_output(load, instance, 0);
    return std::vector<float>(block, block + 64);
}

double energy(const float* block, uint32_t frames) {
    double sum = 0.0;
    for (uint32_t i = 0; i < frames; ++i) {
        sum += static_cast<double>(block[i]) * block[i];
    }
    return sum;
}
} // namespace

TEST_F(Plugins, ListsTheBundleAndNamesWhatItCannotHost) {
    std::vector<PluginInfo> list = plugin_host_list(host);
    ASSERT_EQ(list.size(), 23u);
    PluginInfo info;
    ASSERT_TRUE(plugin_host_info(host, "urn:zem-test:unknown-feature", &info));
    EXPECT_FALSE(info.hostable);
    EXPECT_EQ(info.missing, "urn:zem-test:unknown-feature-uri");
    ASSERT_TRUE(plugin_host_info(host, "urn:zem-test:instrument", &info));
    EXPECT_TRUE(info.hostable && info.takes_notes && info.hard_rt_capable);
    EXPECT_EQ(info.event_in + info.audio_out + info.control_out, 3u);
    ASSERT_TRUE(plugin_host_info(host, "urn:zem-test:stereo", &info));
    EXPECT_EQ(info.audio_in + info.audio_out + info.control_in, 5u);
    EXPECT_FALSE(info.hard_rt_capable);
    EXPECT_FALSE(plugin_host_info(host, "urn:zem-test:none", &info));
    ASSERT_TRUE(plugin_host_info(host, "urn:zem-test:burst", &info));
    EXPECT_TRUE(info.hostable && info.hard_rt_capable);
    EXPECT_EQ(info.control_in + info.control_out, 2u);
}

TEST_F(Plugins, ChainsWireByIndexEachInstanceWithItsOwnBuffers) {
    PluginLoadFacts facts;
    std::string error;
    // Mono into stereo: the one output feeds both inputs.
    PluginLoad* load = open_load(order_of({"gain", "stereo"}), &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_NE(facts.wiring.find("feeding input 1 to 2 (mono into stereo)"), std::string::npos)
        << facts.wiring;
    EXPECT_EQ(facts.input, "pink noise at -18 dBFS, 1 channel");
    EXPECT_EQ(facts.outputs, 2u);
    run_periods(load, 2, 3);
    const float* left = plugin_load_output(load, 0, 0);
    const float* right = plugin_load_output(load, 0, 1);
    EXPECT_GT(energy(left, 64), 0.0);
    EXPECT_EQ(std::vector<float>(left, left + 64), std::vector<float>(right, right + 64));
    const float* other = plugin_load_output(load, 1, 0);
    EXPECT_NE(std::vector<float>(left, left + 64), std::vector<float>(other, other + 64));
    EXPECT_EQ(plugin_load_output(load, 0, 2), nullptr);
    plugin_load_close(load);
    // Stereo into mono: both outputs summed; a sine, the same on each
    // channel, comes out twice as loud as through the mono gain alone.
    PluginLoadOrder order = order_of({"gain"}, {}, 1);
    order.input = PLUGIN_SINE;
    load = open_load(order, &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    run_periods(load, 1, 1);
    const float* mono = plugin_load_output(load, 0, 0);
    std::vector<float> twice(mono, mono + 64);
    for (float& sample : twice) {
        sample *= 2.0f;
    }
    plugin_load_close(load);
    order.uris.insert(order.uris.begin(), "urn:zem-test:stereo");
    load = open_load(order, &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_EQ(facts.input.substr(facts.input.size() - 10), "2 channels");
    run_periods(load, 1, 1);
    const float* summed = plugin_load_output(load, 0, 0);
    EXPECT_EQ(std::vector<float>(summed, summed + 64), twice);
    plugin_load_close(load);
}

TEST_F(Plugins, InputsAreAtMinus18DbfsRms) {
    PluginLoadFacts facts;
    std::string error;
    const double level = std::pow(10.0, -18.0 / 20.0);
    PluginLoadOrder order = order_of({"gain"}, {}, 1);
    for (PluginInput input : {PLUGIN_NOISE, PLUGIN_SINE, PLUGIN_SILENCE}) {
        order.input = input;
        PluginLoad* load = open_load(order, &facts, &error);
        ASSERT_NE(load, nullptr) << error;
        run_periods(load, 1, 1);
        double rms = std::sqrt(energy(plugin_load_output(load, 0, 0), 64) / 64);
        EXPECT_NEAR(rms, input == PLUGIN_SILENCE ? 0.0 : level, 1e-4) << facts.input;
        plugin_load_close(load);
    }
    // Whole cycles in a block: at 64 samples and 48 kHz, one of 750 Hz.
    EXPECT_EQ(facts.input, "silence, 1 channel");
    order.input = PLUGIN_SINE;
    plugin_load_close(open_load(order, &facts, &error));
    EXPECT_EQ(facts.input, "a 750 Hz sine at -18 dBFS, 1 channel");
}

TEST_F(Plugins, PresetAndSettingsApplyInOrderCheckedAgainstTheChain) {
    PluginLoadFacts facts;
    std::string error;
    PluginLoad* load =
        open_load(order_of({"gain", "stereo"}, {"gain=1.5", "2:gain=0.5"}), &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_EQ(control(load, 0, "gain"), 1.5f);
    EXPECT_EQ(control(load, 1, "gain"), 0.5f);
    plugin_load_close(load);
    // The preset goes to the plugin it belongs to; a setting wins over it.
    PluginLoadOrder order = order_of({"gain", "stereo"});
    order.preset = "urn:zem-test:quiet-stereo";
    load = open_load(order, &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_EQ(control(load, 0, "gain"), 1.0f);
    EXPECT_EQ(control(load, 1, "gain"), 0.25f);
    EXPECT_EQ(facts.notes.back(), "ZEM test stereo gain: preset urn:zem-test:quiet-stereo loaded");
    plugin_load_close(load);
    order.settings = {"gain=0.5"};
    load = open_load(order, &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_EQ(control(load, 1, "gain"), 0.5f);
    plugin_load_close(load);

    EXPECT_EQ(refusal_of(order_of({"gain"}, {"gain=2.5"})),
              "setting 'gain=2.5': ZEM test gain's gain takes 0 to 2");
    EXPECT_EQ(refusal_of(order_of({"gain"}, {"2:gain=1"})),
              "setting '2:gain=1': the load has 1 plugin");
    EXPECT_EQ(refusal_of(order_of({"gain", "stereo"}, {"2:volume=1"})),
              "setting '2:volume=1': ZEM test stereo gain has no control input 'volume'");
    EXPECT_EQ(refusal_of(order_of({"gain"}, {"volume=1"})),
              "setting 'volume=1': no plugin of the load has a control input 'volume'");
    EXPECT_EQ(refusal_of(order_of({"gain"}, {"x:gain=1"})),
              "setting 'x:gain=1': K in K:SYMBOL=VALUE is a plugin's place in the chain");
    for (const char* bad : {"gain", "gain=", "=1", "1:=1"}) {
        EXPECT_NE(refusal_of(order_of({"gain"}, {bad})).find("not SYMBOL=VALUE"), std::string::npos)
            << bad;
    }
}

TEST_F(Plugins, RefusesByNameBeforeAnythingRuns) {
    EXPECT_EQ(refusal_of(order_of({"gain", "unknown-feature"})),
              "ZEM test unknown feature cannot be hosted: it requires "
              "urn:zem-test:unknown-feature-uri");
    EXPECT_NE(refusal_of(order_of({"none"})).find("no plugin urn:zem-test:none is installed"),
              std::string::npos);
    PluginLoadOrder order = order_of({"gain"});
    order.preset = "urn:zem-test:no-such-preset";
    EXPECT_EQ(refusal_of(order), "no preset urn:zem-test:no-such-preset is installed");
    order.preset = "urn:zem-test:quiet-stereo";
    EXPECT_EQ(refusal_of(order),
              "preset urn:zem-test:quiet-stereo is for ZEM test stereo gain, not a plugin of the "
              "load");
}

TEST_F(Plugins, CheckFindsWhatACommandLineGetsWrongAndLeavesHostingToValidation) {
    std::string error;
    PluginLoadOrder order = order_of({"gain", "unknown-feature"}, {"2:gain=0.5"});
    order.preset = "urn:zem-test:quiet-stereo";
    order.uris.back() = "urn:zem-test:stereo";
    EXPECT_TRUE(plugin_load_check(host, &order, &error)) << error;
    order.uris.back() = "urn:zem-test:unknown-feature";
    order.preset.clear();
    EXPECT_TRUE(plugin_load_check(host, &order, &error)) << error;
    for (const PluginLoadOrder& wrong :
         {order_of({"gain", "none"}), order_of({"gain"}, {"2:gain=1"}),
          order_of({"gain"}, {"gain=3"})}) {
        EXPECT_FALSE(plugin_load_check(host, &wrong, &error));
        EXPECT_EQ(error, refusal_of(wrong));
    }
}

TEST_F(Plugins, InstrumentGetsTheNotePattern) {
    PluginLoadFacts facts;
    std::string error;
    PluginLoad* load = open_load(order_of({"instrument"}, {}, 1), &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_TRUE(facts.chain[0].gets_notes);
    EXPECT_EQ(facts.input, "none: the first plugin has no audio input");
    // A note every 12000 samples at 48 kHz: three in 400 periods of 64.
    double sound = 0.0;
    for (uint32_t p = 0; p < 400; ++p) {
        run_periods(load, 1, 1);
        sound += energy(plugin_load_output(load, 0, 0), 64);
    }
    EXPECT_EQ(control(load, 0, "notes"), 3.0f);
    EXPECT_GT(sound, 0.0);
    plugin_load_close(load);
}

TEST_F(Plugins, MidiWrittenInAPeriodReachesTheNextPluginInIt) {
    PluginLoadFacts facts;
    std::string error;
    PluginLoad* load =
        open_load(order_of({"note-each-period", "instrument"}, {}, 1), &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_TRUE(facts.chain[0].gets_notes);
    EXPECT_TRUE(!facts.chain[1].gets_notes && facts.chain[1].gets_midi_before);
    // One note-on a period, none of the pattern's three.
    run_periods(load, 1, 400);
    EXPECT_EQ(control(load, 1, "notes"), 400.0f);
    plugin_load_close(load);
}

TEST_F(Plugins, ASideChainHearsSilence) {
    PluginLoadFacts facts;
    std::string error;
    PluginLoad* load = open_load(order_of({"stereo", "side-chain"}, {}, 1), &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_NE(facts.wiring.find("summed into input 1 (stereo into mono), side-chain input 2: "
                                "silence"),
              std::string::npos)
        << facts.wiring;
    run_periods(load, 1, 4);
    EXPECT_EQ(control(load, 1, "side_peak"), 0.0f);
    EXPECT_GT(energy(plugin_load_output(load, 0, 0), 64), 0.0);
    plugin_load_close(load);
}

TEST_F(Plugins, WorkerRunsOffThePeriodThreadAndAnswersInRun) {
    PluginLoadFacts facts;
    std::string error;
    PluginLoad* load = open_load(order_of({"worker"}), &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_TRUE(facts.chain[0].has_worker);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (control(load, 0, "answers") < 3.0f && std::chrono::steady_clock::now() < deadline) {
        run_periods(load, 2, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(control(load, 0, "answers"), 3.0f);
    EXPECT_EQ(control(load, 0, "off_thread"), 1.0f);
    PluginWorkerStats worker = plugin_load_worker(load);
    EXPECT_GE(worker.jobs, 3u);
    EXPECT_GE(worker.responses, 3u);
    EXPECT_GT(worker.total_ns, 0);
    plugin_load_close(load);
}

// The burst is heavy for the first 2400 of every 19200 frames at 48 kHz:
// periods 0 to 37 of 64 frames, then from period 300.
TEST_F(Plugins, ARestartStartsAudioTimeAgainForTheInstancesRestarted) {
    PluginLoadFacts facts;
    std::string error;
    PluginLoad* load = open_load(order_of({"burst"}), &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    run_periods(load, 2, 38);
    EXPECT_EQ(phase(load, 0), 1.0f);
    run_periods(load, 2, 1);
    EXPECT_EQ(phase(load, 0), 0.0f);
    EXPECT_EQ(phase(load, 1), 0.0f);
    // The second alone: 38 heavy periods from the restart, the first
    // carrying on past its burst.
    plugin_load_restart(load, 1, 2);
    run_periods(load, 2, 38);
    EXPECT_EQ(phase(load, 0), 0.0f);
    EXPECT_EQ(phase(load, 1), 1.0f);
    run_periods(load, 2, 1);
    EXPECT_EQ(phase(load, 1), 0.0f);

    // Restarted, an instance plays what a fresh one plays, from the first
    // block on; carried on, it does not.
    PluginLoad* fresh = open_load(order_of({"burst"}, {}, 1), &facts, &error);
    ASSERT_NE(fresh, nullptr) << error;
    run_periods(load, 2, 1);
    run_periods(fresh, 1, 1);
    EXPECT_NE(output_of(load, 0), output_of(fresh, 0));
    plugin_load_close(fresh);
    fresh = open_load(order_of({"burst"}, {}, 1), &facts, &error);
    ASSERT_NE(fresh, nullptr) << error;
    plugin_load_restart(load, 0, 2);
    for (uint32_t p = 0; p < 40; ++p) {
        run_periods(load, 2, 1);
        run_periods(fresh, 1, 1);
        ASSERT_EQ(output_of(load, 0), output_of(fresh, 0)) << "period " << p;
        ASSERT_EQ(phase(load, 0), phase(fresh, 0)) << "period " << p;
    }
    plugin_load_close(fresh);
    plugin_load_close(load);
}

TEST_F(Plugins, ARestartStartsTheNotesAgainAndKeepsTheWorker) {
    PluginLoadFacts facts;
    std::string error;
    // A note at once, the next 12000 samples later: a restart at sample
    // 6400 plays the first again.
    PluginLoad* load = open_load(order_of({"instrument"}, {}, 1), &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    run_periods(load, 1, 100);
    EXPECT_EQ(control(load, 0, "notes"), 1.0f);
    plugin_load_restart(load, 0, 1);
    run_periods(load, 1, 1);
    EXPECT_EQ(control(load, 0, "notes"), 2.0f);
    EXPECT_GT(energy(plugin_load_output(load, 0, 0), 64), 0.0);
    // Released 0.2 s after the restart, not held by the note it cut short.
    run_periods(load, 1, 160);
    EXPECT_EQ(energy(plugin_load_output(load, 0, 0), 64), 0.0);
    plugin_load_close(load);

    // Restarts between periods while the worker works: it answers on.
    load = open_load(order_of({"worker"}), &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    uint32_t restarts = 0;
    while ((restarts < 20 || control(load, 0, "answers") < 3.0f) &&
           std::chrono::steady_clock::now() < deadline) {
        run_periods(load, 2, 1);
        plugin_load_restart(load, 0, 2);
        restarts += 1;
        run_periods(load, 2, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(restarts, 20u);
    EXPECT_GE(control(load, 0, "answers"), 3.0f);
    EXPECT_EQ(control(load, 0, "off_thread"), 1.0f);
    plugin_load_close(load);
}
