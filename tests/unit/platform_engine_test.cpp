// The engine's operating-system operations: counter, threads and the
// thread-creation seam, on whichever platform the tests are built for; and
// where processes fork, the tasks run in a child process.
#include "platform/platform_engine.h"

#include "platform/platform_console.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <new>
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

#ifndef _WIN32
#include <unistd.h>

namespace {
uint32_t prints_and_ends(void* /*parameter*/) {
    std::printf("to stdout, left in its buffer\n");
    std::fprintf(stderr, "to stderr\n");
    return 3;
}

uint32_t outstays_its_stage(void* /*parameter*/) {
    std::fprintf(stderr, "napping\n");
    platform_child_stage("nap", 100);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}

uint32_t ignores_stops(void* parameter) {
    console_block_stop_signals();
    static_cast<std::atomic<int32_t>*>(parameter)->store(1);
    platform_child_stage("deaf", 600000);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}

// A stop sent to the whole process, as kill(1) sends it; `taken` says
// whether the run then asks for it, or is stuck past the watcher's grace.
uint32_t stopped_while(bool taken) {
    console_block_stop_signals();
    console_watch_stops(200);
    kill(getpid(), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (taken && console_wait_for_stop(10) == 0 && std::chrono::steady_clock::now() < deadline) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(taken ? 400 : 60000));
    return 0;
}

uint32_t stuck_when_stopped(void* /*parameter*/) {
    return stopped_while(false);
}

uint32_t takes_its_stop(void* /*parameter*/) {
    return stopped_while(true);
}

int never_stop(int64_t /*timeout_ms*/) {
    return 0;
}

// In memory the child shares: set once the child has blocked the stop signals.
std::atomic<int32_t>* child_deaf = nullptr;

int stop_once_deaf(int64_t /*timeout_ms*/) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return child_deaf->load() != 0 ? CONSOLE_SIGTERM : 0;
}
} // namespace

TEST(PlatformChild, KeepsWhatItPrintedAndHowItEnded) {
    ChildEnd end;
    int stop_signal = 0;
    const ChildTask task{prints_and_ends, nullptr, never_stop, nullptr};
    platform_run_in_child(&task, &end, &stop_signal);
    EXPECT_TRUE(end.started);
    EXPECT_EQ(end.exit_status, 3);
    EXPECT_EQ(end.signal, 0);
    EXPECT_FALSE(end.timed_out || end.stopped);
    // Standard output is a file's, buffered until the child's end.
    EXPECT_EQ(end.output, "to stderr\nto stdout, left in its buffer\n");
    platform_child_stage("not a child", 1); // here it does nothing
}

TEST(PlatformChild, IsKilledOnceItsStageOutstaysItsAllowanceAndTheStageIsNamed) {
    ChildEnd end;
    int stop_signal = 0;
    const ChildTask task{outstays_its_stage, nullptr, nullptr, nullptr};
    platform_run_in_child(&task, &end, &stop_signal);
    EXPECT_TRUE(end.timed_out);
    EXPECT_FALSE(end.stopped);
    EXPECT_STREQ(end.stage, "nap");
    EXPECT_EQ(end.allowed_ms, 100);
    EXPECT_EQ(end.output, "napping\n");
    EXPECT_EQ(stop_signal, 0);
}

TEST(PlatformChild, AStopIsPassedOnAndAChildThatIgnoresItIsKilled) {
    ChildEnd end;
    int stop_signal = 0;
    child_deaf = new (platform_shared_alloc(sizeof(std::atomic<int32_t>))) std::atomic<int32_t>{0};
    const ChildTask task{ignores_stops, child_deaf, stop_once_deaf, nullptr};
    platform_run_in_child(&task, &end, &stop_signal);
    platform_shared_free(child_deaf, sizeof(std::atomic<int32_t>));
    EXPECT_EQ(stop_signal, CONSOLE_SIGTERM);
    EXPECT_TRUE(end.stopped);
    EXPECT_FALSE(end.timed_out);
    EXPECT_STREQ(end.signal_name, "SIGKILL");
}

TEST(ConsoleStops, AStopNoPartTakesEndsTheProgramAndOneTakenLetsItFinish) {
    ChildEnd end;
    int stop_signal = 0;
    const ChildTask stuck{stuck_when_stopped, nullptr, never_stop, nullptr};
    platform_run_in_child(&stuck, &end, &stop_signal);
    EXPECT_EQ(end.exit_status, 128 + CONSOLE_SIGTERM);
    EXPECT_NE(end.output.find("did not answer within 200 ms"), std::string::npos) << end.output;
    const ChildTask taken{takes_its_stop, nullptr, never_stop, nullptr};
    platform_run_in_child(&taken, &end, &stop_signal);
    EXPECT_EQ(end.signal, 0);
    EXPECT_EQ(end.exit_status, 0) << end.output;
}
#endif
