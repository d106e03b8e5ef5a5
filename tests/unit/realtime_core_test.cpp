// The real-time mode's platform-free parts beside the period loop: histogram
// bins, overflow and percentiles; the period grid over an hour at 44100 Hz;
// stream sets restarted between trials; a hold's shape; the idle gate.
#include "engine/realtime/histogram.h"
#include "engine/realtime/hold_rule.h"
#include "engine/realtime/hold_shape.h"
#include "engine/realtime/period_grid.h"
#include "engine/realtime/stream_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

TEST(Histogram, BinsCoverEveryValueOnceWithinAThirtySecond) {
    for (uint32_t b = 0; b < HISTOGRAM_BINS; ++b) {
        int64_t low = histogram_bin_low(b);
        int64_t high = histogram_bin_high(b);
        ASSERT_EQ(histogram_bin_of(low), b);
        ASSERT_EQ(histogram_bin_of(high - 1), b);
        ASSERT_LE((high - low) * 32, low < 64 ? 32 : low) << b;
        if (b + 1 < HISTOGRAM_BINS) {
            ASSERT_EQ(high, histogram_bin_low(b + 1));
        }
    }
    EXPECT_EQ(histogram_bin_high(HISTOGRAM_BINS - 1), HISTOGRAM_LIMIT_NS);
}

TEST(Histogram, OverflowNegativesMergeAndPercentiles) {
    auto h = std::make_unique<Histogram>();
    histogram_clear(h.get());
    EXPECT_EQ(histogram_percentile(h.get(), P50), 0);
    for (int64_t v = 1; v <= 1000; ++v) {
        histogram_add(h.get(), v * 1000); // 1 µs .. 1 ms
    }
    int64_t p50 = histogram_percentile(h.get(), P50);
    EXPECT_GE(p50, 500000);
    EXPECT_LE(p50, 500000 + 500000 / 32);
    EXPECT_GE(histogram_percentile(h.get(), P999), 999000);
    EXPECT_EQ(histogram_percentile(h.get(), P100), 1000000); // the exact maximum
    EXPECT_EQ(histogram_percentile(h.get(), 1), 1007); // the lowest rank: the top of 1000's bin

    auto other = std::make_unique<Histogram>();
    histogram_clear(other.get());
    histogram_add(other.get(), -5); // woke early: counts as 0
    histogram_add(other.get(), HISTOGRAM_LIMIT_NS + 7);
    EXPECT_EQ(other->overflow, 1u);
    EXPECT_EQ(other->min, 0);
    histogram_merge(h.get(), other.get());
    EXPECT_EQ(h->count, 1002u);
    EXPECT_EQ(h->min, 0);
    EXPECT_EQ(h->max, HISTOGRAM_LIMIT_NS + 7);
    // The top rank lies in the overflow bin: the maximum, never a bin edge.
    EXPECT_EQ(histogram_percentile(h.get(), P100), HISTOGRAM_LIMIT_NS + 7);
    EXPECT_LE(histogram_percentile(h.get(), P99), 1000000);
}

TEST(PeriodGrid, FortyFourKiloHertzDoesNotDriftOverAnHour) {
    const PeriodGrid grid{123456789, 64, 44100};
    const uint64_t periods = uint64_t{3600} * 44100 / 64; // 2480625, exactly one hour
    EXPECT_EQ(grid_period_start(&grid, periods) - grid.origin_ns, int64_t{3600} * 1000000000);
    // 64 / 44100 s = 1451247.16 ns: every period is 1451247 or 1451248 ns long.
    int64_t previous = grid_period_start(&grid, 0);
    for (uint64_t n = 1; n <= periods; ++n) {
        int64_t start = grid_period_start(&grid, n);
        ASSERT_TRUE(start - previous == 1451247 || start - previous == 1451248) << n;
        previous = start;
    }
    EXPECT_EQ(grid_period_ns(64, 44100), 1451247);
    EXPECT_EQ(grid_periods_in(0.01, 64, 48000, 8), 8u);
    EXPECT_EQ(grid_periods_in(1.0, 64, 48000, 8), 750u);
}

namespace {
void run_periods(StreamSet* set, uint32_t periods) {
    for (uint32_t p = 0; p < periods; ++p) {
        stream_set_run(set, 0, set->capacity);
        stream_set_finish_period(set, set->capacity);
    }
}

// What stream s wrote last: its output block, or the mix's bus.
const void* output_of(const StreamSet* set, uint32_t s) {
    if (set->test == RT_ZEMM) {
        return set->bus;
    }
    return static_cast<const char*>(set->blocks) + (size_t{s} * 2 + 1) * set->frames * 4;
}

bool same_output(const StreamSet* a, const StreamSet* b, uint32_t s) {
    return std::memcmp(output_of(a, s), output_of(b, s), size_t{a->frames} * 4) == 0;
}
} // namespace

// Restarted after some periods, the first streams play what streams just
// prepared play, period after period; the others carry on where they were.
TEST(StreamSet, RestartedStreamsPlayAsJustPreparedOnesAndOnlyThose) {
    MixData mix{};
    ASSERT_TRUE(mix_data_prepare(&mix));
    for (RtTestKind test : {RT_ZEM1, RT_ZEM2, RT_ZEMM}) {
        StreamSet used{}, fresh{};
        ASSERT_TRUE(stream_set_prepare(&used, test, 64, 4, &mix));
        ASSERT_TRUE(stream_set_prepare(&fresh, test, 64, 4, &mix));
        run_periods(&used, 7);
        stream_set_restart(&used, 2);
        for (uint32_t p = 0; p < 3; ++p) {
            run_periods(&used, 1);
            run_periods(&fresh, 1);
            for (uint32_t s = 0; s < 2; ++s) {
                EXPECT_TRUE(same_output(&used, &fresh, s))
                    << test << " stream " << s << " period " << p;
            }
            if (test != RT_ZEMM && p == 0) {
                EXPECT_FALSE(same_output(&used, &fresh, 2)) << test;
                EXPECT_FALSE(same_output(&used, &fresh, 3)) << test;
            }
        }
        stream_set_free(&used);
        stream_set_free(&fresh);
    }
    mix_data_free(&mix);
}

namespace {
// A hold's periods drawn here: 1 ms of work a period with a few percent of
// noise, woken 50 us late, and what each case adds on top.
struct DrawnHold {
    std::vector<PeriodSample> samples;
    std::mt19937 noise{7};
    explicit DrawnHold(size_t periods) : samples(periods) {
        std::uniform_real_distribution<double> jitter(0.97, 1.03);
        for (PeriodSample& sample : samples) {
            sample = PeriodSample{static_cast<int64_t>(1e6 * jitter(noise)), -1, 50000};
        }
    }
    void scale(size_t first, size_t end, double factor) {
        for (size_t p = first; p < end && p < samples.size(); ++p) {
            samples[p].processing_ns =
                static_cast<int64_t>(static_cast<double>(samples[p].processing_ns) * factor);
        }
    }
    HoldShape shape() {
        const PeriodSample* threads[1] = {samples.data()};
        HoldShape read{};
        EXPECT_TRUE(
            hold_shape_of(threads, 1, samples.size(), grid_period_ns(256, 48000), true, &read));
        return read;
    }
};
} // namespace

TEST(HoldShape, TellsALoadsBurstsItsSlowPhasesAndTheHostsPausesApart) {
    // 4x for 9 periods every 75 (48 ms every 400 ms at 256 samples), with
    // one of the host's short pauses between each two.
    DrawnHold bursts(600);
    for (size_t start = 30; start < 600; start += 75) {
        bursts.scale(start, start + 9, 4.0);
    }
    for (size_t pause = 67; pause < 600; pause += 75) {
        bursts.scale(pause, pause + 1, 6.0);
    }
    HoldShape shape = bursts.shape();
    EXPECT_TRUE(shape.limits.bursts);
    EXPECT_NEAR(shape.limits.burst_factor, 4.0, 0.3);
    EXPECT_NEAR(shape.limits.burst_every_ms, 400.0, 30.0);
    EXPECT_NEAR(shape.limits.burst_ms, 48.0, 12.0);
    EXPECT_FALSE(shape.limits.slow_phases);

    // A second of 1.6x in three.
    DrawnHold phase(563);
    phase.scale(200, 388, 1.6);
    shape = phase.shape();
    EXPECT_TRUE(shape.limits.slow_phases);
    EXPECT_NEAR(shape.limits.slow_factor, 1.6, 0.15);
    EXPECT_NEAR(shape.limits.slow_share, 188.0 / 563.0, 0.08);
    EXPECT_FALSE(shape.limits.bursts);
    EXPECT_EQ(shape.limits.pauses, 0u);

    // Four pauses of 6 ms more at no fixed interval: the host's.
    DrawnHold pauses(563);
    for (size_t pause : {37u, 211u, 250u, 480u}) {
        pauses.samples[pause].processing_ns += 6000000;
    }
    shape = pauses.shape();
    EXPECT_FALSE(shape.limits.bursts);
    EXPECT_FALSE(shape.limits.slow_phases);
    EXPECT_EQ(shape.limits.pauses, 4u);
    EXPECT_NEAR(shape.limits.pause_longest_ms, 6.0, 0.2);
    EXPECT_NEAR(shape.spread.max, 7.0, 0.3);
}

// The idle gate is a rate: a few misses in a short run say nothing of 1 %,
// and the edge of a long run lies where the Poisson tail, summed here in
// logs, falls under the gate's odds.
TEST(IdleGate, JudgesTheRateNotOneLateWakeUp) {
    EXPECT_TRUE(idle_sustainable(24, 24, 1, 0.01));
    EXPECT_TRUE(idle_sustainable(24, 24, 2, 0.01));
    EXPECT_FALSE(idle_sustainable(24, 24, 3, 0.01));
    EXPECT_FALSE(idle_sustainable(24, 23, 0, 0.01)); // it ran short
    EXPECT_TRUE(idle_sustainable(2000000, 2000000, 20000, 0.01));
    EXPECT_FALSE(idle_sustainable(2000000, 2000000, 21000, 0.01));
    const double mean = 22.5; // 2250 periods at 1 %
    auto at_least = [mean](uint64_t m) {
        double sum = 0.0;
        for (uint64_t k = m; k < 400; ++k) {
            const double kd = static_cast<double>(k);
            sum += std::exp(kd * std::log(mean) - mean - std::lgamma(kd + 1.0));
        }
        return sum;
    };
    for (uint64_t m = 0; m < 60; ++m) {
        EXPECT_EQ(idle_sustainable(2250, 2250, m, 0.01), at_least(m) >= IDLE_GATE_ODDS) << m;
    }
}
