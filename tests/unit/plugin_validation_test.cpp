// The plugin host's validation in a child process: each faulty plugin's
// verdict and line, what the plugins print, a stop, and what run asks of the
// system.
#include "report/plugins_report.h"
#include "tests/unit/plugin_host_fixture.h"

#include <functional>

TEST_F(Plugins, ValidationGivesEachFaultItsVerdictAndLine) {
    struct Case {
        std::vector<std::string> kinds;
        std::vector<std::string> settings;
        uint32_t blocks;
        PluginVerdict verdict;
        std::string line;
    };
    const Case cases[] = {
        {{"gain", "stereo"},
         {},
         64,
         PLUGIN_FLAGGED,
         "ZEM test gain + ZEM test stereo gain: flagged: ZEM test stereo gain: not declared "
         "hardRTCapable"},
        {{"gain", "worker", "instrument"},
         {},
         64,
         PLUGIN_PASSED,
         "ZEM test gain + ZEM test worker + ZEM test instrument: passed"},
        {{"gain"},
         {"gain=1e-38"},
         64,
         PLUGIN_FLAGGED,
         "ZEM test gain: flagged: 4096 denormal output samples"},
        {{"crash"},
         {},
         64,
         PLUGIN_FAILED,
         "ZEM test crash: failed: crashed with SIGSEGV in run (block 1)"},
        {{"gain", "crash-later"},
         {},
         64,
         PLUGIN_PASSED,
         "ZEM test gain + ZEM test crash later: passed"},
        {{"gain", "crash-later"},
         {},
         400,
         PLUGIN_FAILED,
         "ZEM test crash later: failed: crashed with SIGSEGV in run (block 301)"},
        {{"hang"},
         {},
         64,
         PLUGIN_FAILED,
         "ZEM test hang: failed: no answer in run (block 1) after 2.2 s, killed"},
        {{"gain", "hang-open"},
         {},
         64,
         PLUGIN_FAILED,
         "ZEM test hang in instantiate: failed: no answer in instantiate after 2 s, killed"},
        {{"gain", "nan"},
         {},
         64,
         PLUGIN_FAILED,
         "ZEM test NaN: failed: 4096 NaN or infinite output samples"},
        {{"unknown-feature"},
         {},
         64,
         PLUGIN_FAILED,
         "ZEM test unknown feature: failed: cannot be hosted: it requires "
         "urn:zem-test:unknown-feature-uri"},
    };
    PluginValidateOptions options;
    options.timeout_ms = 2000;
    for (const Case& c : cases) {
        PluginValidation validation;
        options.blocks = c.blocks;
        PluginLoadOrder order = order_of(c.kinds, c.settings);
        plugin_validate(host, &order, &options, &validation);
        std::vector<std::string> names;
        for (const std::string& uri : order.uris) {
            PluginInfo info;
            names.push_back(plugin_host_info(host, uri, &info) ? info.name : uri);
        }
        EXPECT_EQ(plugin_verdict(&validation), c.verdict) << c.kinds.back();
        EXPECT_EQ(plugin_validation_line(names, &validation), c.line);
    }
}

TEST_F(Plugins, ValidationKeepsWhatThePluginsPrintAndTheWiring) {
    PluginValidateOptions options;
    options.blocks = 4;
    options.timeout_ms = 10000;
    PluginValidation validation;
    PluginLoadOrder order = order_of({"print", "instrument"});
    plugin_validate(host, &order, &options, &validation);
    EXPECT_EQ(plugin_verdict(&validation), PLUGIN_PASSED) << validation.output;
    // The print left in stdio's buffer as well as the one on standard error.
    EXPECT_NE(validation.output.find("instantiated at 48000 Hz"), std::string::npos);
    EXPECT_NE(validation.output.find("first run, 64 frames"), std::string::npos);
    EXPECT_NE(validation.wiring.find("ZEM test print (1 in, 1 out) -> ZEM test instrument"),
              std::string::npos)
        << validation.wiring;
    ASSERT_EQ(validation.plugins.size(), 2u);
    EXPECT_FALSE(validation.plugins[0].gets_notes);
    EXPECT_TRUE(validation.plugins[1].gets_notes);
}

TEST_F(Plugins, ValidationEndsWithAStopWhereverThePluginIs) {
    PluginValidateOptions options;
    options.blocks = 4;
    options.timeout_ms = 600000; // only the stop can end it within the test's time
    options.stop_wait = [](int64_t) { return 15; };
    PluginValidation validation;
    PluginLoadOrder order = order_of({"hang-open"});
    plugin_validate(host, &order, &options, &validation);
    EXPECT_EQ(validation.stop_signal, 15);
    EXPECT_FALSE(validation.timed_out);
    EXPECT_EQ(validation.stage, PLUGIN_STAGE_OPEN);
}

TEST_F(Plugins, ValidationFlagsWhatRunAsksOfTheSystem) {
    PluginValidateOptions options;
    options.blocks = 16;
    options.timeout_ms = 10000;
    struct Case {
        const char* kind;
        std::function<bool(const PluginFindings&, const PluginValidation&)> seen;
    };
    const Case cases[] = {
        {"alloc",
         [](const PluginFindings& f, const PluginValidation&) {
             return f.kernel_memory > 0 || (f.kernel_memory < 0 && f.allocations > 0);
         }},
        {"file",
         [](const PluginFindings& f, const PluginValidation&) {
             return f.files > 0 || (f.files < 0 && f.allocations != 0);
         }},
        {"thread",
         [](const PluginFindings& f, const PluginValidation& v) {
             return (f.threads > 0 || f.threads < 0) && v.extra_threads == 1;
         }},
    };
    for (const Case& c : cases) {
        PluginValidation validation;
        PluginLoadOrder order = order_of({"gain", c.kind});
        plugin_validate(host, &order, &options, &validation);
        ASSERT_EQ(validation.plugins.size(), 2u);
        EXPECT_EQ(plugin_verdict(&validation), PLUGIN_FLAGGED) << c.kind;
        EXPECT_TRUE(c.seen(validation.plugins[1], validation)) << c.kind;
        // The gain before it is clean: the counts are per plugin.
        EXPECT_LE(validation.plugins[0].allocations, 0) << c.kind;
        EXPECT_LE(validation.plugins[0].kernel_memory + validation.plugins[0].files, 0) << c.kind;
        if (validation.plugins[1].allocations != PLUGIN_NOT_CHECKED &&
            c.kind != std::string("thread")) {
            EXPECT_GE(validation.plugins[1].allocations, 16) << c.kind;
        }
    }
}
