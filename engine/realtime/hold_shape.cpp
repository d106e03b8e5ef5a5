#include "engine/realtime/hold_shape.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace {
// A pause lifts a period's end this far over the usual at least (the
// host's here last 1 to 14 ms), and twice the median work.
constexpr double PAUSE_MIN_NS = 1e6;
constexpr double PAUSE_OVER_MEDIAN = 2.0;
// A burst or a pause is a run of slow periods; gaps this short inside one
// do not split it.
constexpr size_t EPISODE_GAP = 2;
// Slow phases are read from blocks of about this length.
constexpr double PHASE_BLOCK_SECONDS = 0.05;
constexpr size_t PHASE_BLOCK_MIN = 4;
// Bursts need this many episodes, and this share of their intervals at one.
constexpr uint32_t BURST_MIN_EPISODES = 3;
constexpr double BURST_REGULAR_SHARE = 0.75;

struct Series {
    size_t count;
    std::unique_ptr<double[]> work;   // the busiest thread's processing
    std::unique_ptr<double[]> finish; // the latest end of any thread's work, from the start
    std::unique_ptr<double[]> cpu;    // the busiest thread's own time; -1 unknown
    std::unique_ptr<bool[]> in_phase; // inside a slow phase
};

double quantile(const double* values, size_t count, double share, double* scratch) {
    if (count == 0) {
        return 0.0;
    }
    std::copy(values, values + count, scratch);
    const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(count)));
    const size_t at = rank == 0 ? 0 : rank - 1;
    std::nth_element(scratch, scratch + at, scratch + count);
    return scratch[at];
}

bool read_series(const PeriodSample* const* samples, uint32_t threads, size_t periods,
                 Series* series) {
    series->count = periods;
    series->work.reset(new (std::nothrow) double[periods + 1]);
    series->finish.reset(new (std::nothrow) double[periods + 1]);
    series->cpu.reset(new (std::nothrow) double[periods + 1]);
    series->in_phase.reset(new (std::nothrow) bool[periods + 1]);
    if (!series->work || !series->finish || !series->cpu || !series->in_phase) {
        return false;
    }
    for (size_t p = 0; p < periods; ++p) {
        double work = 0.0;
        double finish = 0.0;
        double cpu = -1.0;
        for (uint32_t t = 0; t < threads; ++t) {
            if (samples[t] == nullptr) {
                continue;
            }
            const PeriodSample* sample = &samples[t][p];
            const auto processing = static_cast<double>(sample->processing_ns);
            if (processing >= work) {
                work = processing;
                cpu = static_cast<double>(sample->cpu_ns);
            }
            finish = std::max(finish, static_cast<double>(sample->lateness_ns) + processing);
        }
        series->work[p] = work;
        series->finish[p] = finish;
        series->cpu[p] = cpu;
        series->in_phase[p] = false;
    }
    return true;
}

// Stretches of SLOW_PHASE_SECONDS or more whose blocks' medians lie
// SLOW_PHASE_FACTOR over the faster blocks' (their lowest quarter).
void find_slow_phases(Series* series, int64_t period_ns, double* scratch, HoldLimits* limits) {
    const double period = static_cast<double>(period_ns);
    const size_t block =
        std::max<size_t>(PHASE_BLOCK_MIN, static_cast<size_t>(PHASE_BLOCK_SECONDS * 1e9 / period));
    const size_t blocks = series->count / block;
    const size_t needed = static_cast<size_t>(
        std::ceil(SLOW_PHASE_SECONDS * 1e9 / period / static_cast<double>(block)));
    if (blocks < needed + 1) {
        return;
    }
    std::unique_ptr<double[]> medians(new (std::nothrow) double[blocks]);
    std::unique_ptr<double[]> sorted(new (std::nothrow) double[blocks]);
    if (!medians || !sorted) {
        return;
    }
    for (size_t b = 0; b < blocks; ++b) {
        medians[b] = quantile(&series->work[b * block], block, 0.5, scratch);
    }
    const double fast = quantile(medians.get(), blocks, 0.25, sorted.get());
    size_t slow_blocks = 0;
    double slow_sum = 0.0;
    for (size_t b = 0; b < blocks;) {
        size_t end = b;
        while (end < blocks && medians[end] >= SLOW_PHASE_FACTOR * fast) {
            end += 1;
        }
        if (end - b >= needed) {
            for (size_t k = b; k < end; ++k) {
                slow_sum += medians[k];
                std::fill(&series->in_phase[k * block], &series->in_phase[(k + 1) * block], true);
            }
            slow_blocks += end - b;
        }
        b = end > b ? end : b + 1;
    }
    if (slow_blocks > 0 && fast > 0.0) {
        limits->slow_phases = true;
        limits->slow_share = static_cast<double>(slow_blocks) / static_cast<double>(blocks);
        limits->slow_factor = slow_sum / static_cast<double>(slow_blocks) / fast;
    }
}

struct Episode {
    size_t first;
    size_t last;
};

// Bursts among `found` episodes: their starts recur at one interval.
bool read_bursts(const Series* series, const Episode* episodes, size_t found, double period,
                 double median, double* scratch, HoldLimits* limits) {
    if (found >= BURST_MIN_EPISODES) {
        for (size_t e = 1; e < found; ++e) {
            scratch[e - 1] = static_cast<double>(episodes[e].first - episodes[e - 1].first);
        }
        std::unique_ptr<double[]> more(new (std::nothrow) double[found]);
        const double interval = more ? quantile(scratch, found - 1, 0.5, more.get()) : 0.0;
        size_t regular = 0;
        for (size_t e = 1; e < found; ++e) {
            const double gap = static_cast<double>(episodes[e].first - episodes[e - 1].first);
            regular +=
                std::fabs(gap - interval) <= BURST_INTERVAL_TOLERANCE * interval + 1.0 ? 1 : 0;
        }
        if (interval >= 2.0 &&
            static_cast<double>(regular) >= BURST_REGULAR_SHARE * static_cast<double>(found - 1)) {
            size_t in_bursts = 0;
            for (size_t e = 0; e < found; ++e) {
                for (size_t p = episodes[e].first; p <= episodes[e].last; ++p) {
                    scratch[in_bursts++] = series->work[p];
                }
                more[e] = static_cast<double>(episodes[e].last - episodes[e].first + 1);
            }
            std::unique_ptr<double[]> sorted(new (std::nothrow) double[in_bursts + found]);
            if (sorted) {
                limits->bursts = true;
                limits->burst_factor = quantile(scratch, in_bursts, 0.5, sorted.get()) / median;
                limits->burst_ms = quantile(more.get(), found, 0.5, sorted.get()) * period / 1e6;
                limits->burst_every_ms = interval * period / 1e6;
                return true;
            }
        }
    }
    return false;
}

// Bursts: runs of slow periods outside the slow phases whose starts recur
// at one interval. Pauses: the rest, short and far over the usual end.
void find_bursts_and_pauses(const Series* series, int64_t period_ns, double median, bool loaded,
                            double* scratch, HoldLimits* limits) {
    const size_t count = series->count;
    std::unique_ptr<Episode[]> episodes(new (std::nothrow) Episode[count / 2 + 2]);
    if (!episodes) {
        return;
    }
    const double slow = SLOW_PERIOD_FACTOR * median;
    size_t found = 0;
    for (size_t p = 0; p < count; ++p) {
        if (series->in_phase[p] || series->work[p] < slow) {
            continue;
        }
        if (found > 0 && p - episodes[found - 1].last <= EPISODE_GAP + 1) {
            episodes[found - 1].last = p;
        } else if (found < count / 2 + 2) {
            episodes[found++] = Episode{p, p};
        }
    }
    const double period = static_cast<double>(period_ns);
    // The host's pauses are mostly single periods, and between a load's
    // bursts they would break the rhythm: the bursts from the episodes of
    // more than one period first, then (bursts shorter than a period) from
    // every episode.
    std::unique_ptr<Episode[]> longer(new (std::nothrow) Episode[found + 1]);
    size_t long_count = 0;
    for (size_t e = 0; longer && e < found; ++e) {
        if (episodes[e].last > episodes[e].first) {
            longer[long_count++] = episodes[e];
        }
    }
    if (loaded && ((longer && read_bursts(series, longer.get(), long_count, period, median, scratch,
                                          limits)) ||
                   read_bursts(series, episodes.get(), found, period, median, scratch, limits))) {
        return; // the host's pauses inside a load's bursts are not told apart
    }
    const double usual = quantile(series->finish.get(), count, 0.5, scratch);
    for (size_t p = 0; p < count; ++p) {
        const double over = series->finish[p] - usual;
        if (series->in_phase[p] || over < PAUSE_MIN_NS || over < PAUSE_OVER_MEDIAN * median) {
            continue;
        }
        if (p == 0 || !(series->finish[p - 1] - usual >= PAUSE_MIN_NS)) {
            limits->pauses += 1;
        }
        limits->pause_longest_ms = std::max(limits->pause_longest_ms, over / 1e6);
    }
    const double minutes = static_cast<double>(count) * period / 60e9;
    limits->pauses_per_minute = minutes > 0.0 ? static_cast<double>(limits->pauses) / minutes : 0.0;
}
} // namespace

bool hold_shape_of(const PeriodSample* const* samples, uint32_t threads, uint64_t period_count,
                   int64_t period_ns, bool loaded, HoldShape* shape) {
    const auto periods = static_cast<size_t>(period_count);
    *shape = HoldShape{};
    shape->median_cpu_ns = -1;
    if (threads == 0 || periods == 0) {
        return true;
    }
    Series series{};
    std::unique_ptr<double[]> scratch(new (std::nothrow) double[periods + 1]);
    if (!scratch || !read_series(samples, threads, periods, &series)) {
        return false;
    }
    shape->periods = periods;
    const double median = quantile(series.work.get(), periods, 0.5, scratch.get());
    shape->spread.p50_ns = static_cast<int64_t>(median);
    if (median > 0.0) {
        shape->spread.p99 = quantile(series.work.get(), periods, 0.99, scratch.get()) / median;
        shape->spread.p999 = quantile(series.work.get(), periods, 0.999, scratch.get()) / median;
        shape->spread.max = *std::max_element(&series.work[0], &series.work[periods]) / median;
    }
    size_t known = 0;
    for (size_t p = 0; p < periods; ++p) {
        if (series.cpu[p] >= 0.0) {
            series.cpu[known++] = series.cpu[p];
        }
    }
    if (known * 2 >= periods) {
        shape->median_cpu_ns =
            static_cast<int64_t>(quantile(series.cpu.get(), known, 0.5, scratch.get()));
    }
    if (loaded) {
        find_slow_phases(&series, period_ns, scratch.get(), &shape->limits);
    }
    find_bursts_and_pauses(&series, period_ns, median > 0.0 ? median : 1.0, loaded, scratch.get(),
                           &shape->limits);
    return true;
}

uint32_t median_fits(const HoldShape* shape, uint32_t per_thread, uint32_t threads, double fixed_ns,
                     int64_t room_ns) {
    const double median = static_cast<double>(shape->spread.p50_ns);
    if (per_thread == 0 || median <= fixed_ns) {
        return 0;
    }
    const double each = (median - fixed_ns) / static_cast<double>(per_thread);
    const double fits = std::floor((static_cast<double>(room_ns) - fixed_ns) / each);
    return fits > 0.0 ? static_cast<uint32_t>(std::min(fits * static_cast<double>(threads), 4e9))
                      : 0;
}
