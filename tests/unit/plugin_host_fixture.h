// The plugin host opened once over our test plugins' bundle (tests/plugins/),
// shared by every suite of its tests, and the load order they ask it for.
#pragma once

#include "platform/platform_plugins.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

inline PluginHost* host = nullptr;

class Plugins : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("LV2_PATH", ZEM_TEST_LV2_PATH, 1);
        std::string why;
        host = plugin_host_open(&why);
        ASSERT_NE(host, nullptr) << why;
    }
    static void TearDownTestSuite() {
        plugin_host_close(host);
    }
};

inline PluginLoadOrder order_of(std::vector<std::string> kinds,
                                std::vector<std::string> settings = {}, uint32_t instances = 2) {
    PluginLoadOrder order;
    for (const std::string& kind : kinds) {
        order.uris.push_back("urn:zem-test:" + kind);
    }
    order.settings = std::move(settings);
    order.frames = 64;
    order.rate = 48000;
    order.instances = instances;
    return order;
}
