// The console runner's command line: defaults and good values, edge values
// included. (Bad input is checked on the real program: tests/e2e.)
#include "cli/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
bool parse(std::vector<const char*> args, CliOptions* options, std::string* problem) {
    args.insert(args.begin(), "test_zem_cli");
    return parse_cli_options(static_cast<int>(args.size()), args.data(), options, problem);
}
} // namespace

TEST(CliOptions, DefaultsAndGoodValues) {
    CliOptions o{};
    std::string problem;
    ASSERT_TRUE(parse({}, &o, &problem));
    EXPECT_EQ(o.filter_ms, 20000);
    EXPECT_EQ(o.repeat, 1u);
    EXPECT_FALSE(o.json);
    ASSERT_TRUE(parse({"--seconds", "0.25", "--repeat", "1000", "--json"}, &o, &problem));
    EXPECT_EQ(o.filter_ms, 250);
    EXPECT_EQ(o.repeat, 1000u);
    EXPECT_TRUE(o.json);
    ASSERT_TRUE(parse({"--seconds", "3600"}, &o, &problem));
    EXPECT_EQ(o.filter_ms, 3600000);
    ASSERT_TRUE(parse({"--seconds", "0.0001"}, &o, &problem));
    EXPECT_EQ(o.filter_ms, 1);
}
