// Debian's plugins through our host: each load validates without failing,
// then runs four instances whose outputs are finite and not silent. Skipped,
// saying so, when a plugin's package is not installed.
#include "engine/realtime/plugin_cost.h"
#include "report/plugins_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

namespace {
const char* const EQ = "http://gareus.org/oss/lv2/fil4#mono";       // x42-plugins
const char* const SAMPLER = "http://lv2plug.in/plugins/eg-sampler"; // lv2-examples
const char* const PIANO = "http://drobilla.net/plugins/mda/Piano";  // mda-lv2
const char* const REVERB = "urn:dragonfly:room";                    // dragonfly-reverb-lv2
const char* const COMPRESSOR =
    "http://lsp-plug.in/plugins/lv2/compressor_stereo"; // lsp-plugins-lv2

struct RealLoad {
    const char* name;
    std::vector<std::string> uris;
    const char* fact; // in the load's facts (wiring, then notes)
};

class RealPlugins : public ::testing::TestWithParam<RealLoad> {
  protected:
    static void SetUpTestSuite() {
        std::string why;
        host = plugin_host_open(&why);
        ASSERT_NE(host, nullptr) << why;
    }
    static void TearDownTestSuite() {
        plugin_host_close(host);
    }
    static PluginHost* host;
};
PluginHost* RealPlugins::host = nullptr;

constexpr uint32_t FRAMES = 256;
constexpr uint32_t INSTANCES = 4;
constexpr uint32_t PERIODS = 400; // 2.1 s at 48 kHz: the pattern's first notes and their tails
} // namespace

TEST_P(RealPlugins, ValidateThenRunFiniteAndAudible) {
    const RealLoad& real = GetParam();
    std::vector<std::string> names;
    for (const std::string& uri : real.uris) {
        PluginInfo info;
        if (!plugin_host_info(host, uri, &info)) {
            GTEST_SKIP() << uri << " is not installed";
        }
        names.push_back(info.name);
    }
    PluginLoadOrder order;
    order.uris = real.uris;
    order.frames = FRAMES;
    order.rate = 48000;
    order.instances = INSTANCES;
    // The example sampler declares no instrument class: it plays only when asked.
    order.notes_to_any_midi = true;
    PluginValidateOptions options;
    options.blocks = PERIODS;
    options.timeout_ms = 60000;
    PluginValidation validation;
    plugin_validate(host, &order, &options, &validation);
    std::cout << plugin_validation_line(names, &validation) << "\n";
    EXPECT_NE(plugin_verdict(&validation), PLUGIN_FAILED);

    PluginLoadFacts facts;
    std::string error;
    PluginLoad* load = plugin_load_open(host, &order, &facts, &error);
    ASSERT_NE(load, nullptr) << error;
    std::string said = facts.wiring;
    for (const std::string& note : facts.notes) {
        said += "\n" + note;
    }
    EXPECT_NE(said.find(real.fact), std::string::npos) << said;
    double energy = 0.0;
    uint64_t non_finite = 0;
    for (uint32_t p = 0; p < PERIODS; ++p) {
        plugin_load_run(load, 0, INSTANCES);
        plugin_load_finish_period(load, INSTANCES);
        for (uint32_t i = 0; i < INSTANCES; ++i) {
            for (uint32_t c = 0; c < facts.outputs; ++c) {
                const float* out = plugin_load_output(load, i, c);
                for (uint32_t s = 0; s < FRAMES; ++s) {
                    non_finite += std::isfinite(out[s]) ? 0u : 1u;
                    energy += static_cast<double>(out[s]) * out[s];
                }
            }
        }
    }
    EXPECT_EQ(non_finite, 0u);
    EXPECT_GT(energy, 0.0);
    // Event buffers of the size each port asks (the EQ says when too small).
    std::string log = plugin_load_log(load);
    EXPECT_EQ(log.find("insufficient"), std::string::npos) << log;
    std::cout << log;
    plugin_load_close(load);
}

INSTANTIATE_TEST_SUITE_P(
    Debian, RealPlugins,
    ::testing::Values(RealLoad{"eq", {EQ}, "(1 in, 1 out)"},
                      RealLoad{"sampler", {SAMPLER}, "default state loaded"},
                      RealLoad{"piano", {PIANO}, "(0 in, 2 out)"},
                      RealLoad{"reverb", {REVERB}, "(2 in, 2 out)"},
                      RealLoad{"chain", {EQ, COMPRESSOR, REVERB}, "(mono into stereo)"}),
    [](const ::testing::TestParamInfo<RealLoad>& load) { return std::string(load.param.name); });
