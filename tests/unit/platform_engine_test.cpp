// The engine's operating-system operations: counter, threads and the
// thread-creation seam, on whichever platform the tests are built for.
#include "platform/platform_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::atomic<int32_t> entry_calls{0};
std::atomic<bool> parameter_was_null{false};

uint32_t slow_entry(void* parameter) {
    parameter_was_null.store(parameter == nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    entry_calls.fetch_add(1);
    return 0;
}
} // namespace

TEST(PlatformCounter, RunsInTicksPerSecondAndNeverGoesBack) {
    int64_t frequency = 0;
    ASSERT_TRUE(platform_counter_frequency(&frequency));
    ASSERT_GT(frequency, 0);
    int64_t start = platform_counter_now();
    int64_t previous = start;
    for (int32_t i = 0; i < 100000; ++i) {
        int64_t now = platform_counter_now();
        ASSERT_GE(now, previous);
        previous = now;
        if (i % 1000 == 0) {
            platform_yield();
        }
    }
    // A 40 ms sleep spans at least some tens of milliseconds of counter time:
    // a frequency off by a factor of ten or more shows here.
    int64_t before = platform_counter_now();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    int64_t elapsed_ms = (platform_counter_now() - before) * 1000 / frequency;
    EXPECT_GE(elapsed_ms, 20);
}

TEST(PlatformThread, WaitReturnsOnlyOnceTheEntryHasReturned) {
    entry_calls.store(0);
    parameter_was_null.store(false);
    PlatformThread* thread = platform_thread_start(slow_entry);
    ASSERT_NE(thread, nullptr);
    platform_thread_wait(thread);
    EXPECT_EQ(entry_calls.load(), 1);
    EXPECT_TRUE(parameter_was_null.load());
    platform_thread_wait(thread); // a second wait returns at once
    platform_thread_close(thread);
    platform_thread_wait(nullptr);
    platform_thread_close(nullptr);
}

TEST(PlatformThread, SeamFailsExactlyTheArmedNumberOfStarts) {
    entry_calls.store(0);
    thread_seam_arm(2);
    EXPECT_EQ(platform_thread_start(slow_entry), nullptr);
    EXPECT_EQ(platform_thread_start(slow_entry), nullptr);
    PlatformThread* thread = platform_thread_start(slow_entry);
    ASSERT_NE(thread, nullptr);
    platform_thread_wait(thread);
    platform_thread_close(thread);
    EXPECT_EQ(entry_calls.load(), 1);
}
