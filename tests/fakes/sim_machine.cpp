#include "tests/fakes/sim_machine.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double MINUTE_NS = 60e9;
constexpr double SECOND_NS = 1e9;
// A hold of the truth starts this far into a fresh timeline, so that the
// speed's stretches are as likely at its start as anywhere.
constexpr double SETTLE_LOW_NS = 30e9;
constexpr double SETTLE_HIGH_NS = 90e9;

uint64_t rotl(uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

double per_period(double per_minute, double period_ns) {
    return per_minute * period_ns / MINUTE_NS;
}

// Every period of one hold, each thread's figures ready to be scaled by its
// streams: it wakes `late` after its start (or its thread's last end) and
// works fixed + streams · each.
struct HoldDraws {
    std::vector<double> late, fixed, each; // [i · threads + t]
    std::vector<int64_t> starts;           // periods + 1 edges
};

void draw_hold(const SimMachine* m, uint64_t total, uint64_t seed, HoldDraws* hold) {
    SimRandom random(seed);
    SimTimeline timeline(m, random.next());
    const double period = static_cast<double>(m->frames) * 1e9 / m->rate;
    const auto first =
        static_cast<uint64_t>(random.between(SETTLE_LOW_NS, SETTLE_HIGH_NS) / period);
    std::vector<SimCommon> common(static_cast<size_t>(total));
    sim_common(m, &timeline, first, total, common.data());
    const size_t cells = static_cast<size_t>(total) * m->threads;
    hold->late.resize(cells);
    hold->fixed.resize(cells);
    hold->each.resize(cells);
    hold->starts.resize(static_cast<size_t>(total) + 1);
    for (uint64_t i = 0; i <= total; ++i) {
        hold->starts[static_cast<size_t>(i)] = sim_period_start(m, i);
    }
    for (size_t i = 0; i < static_cast<size_t>(total); ++i) {
        for (uint32_t t = 0; t < m->threads; ++t) {
            const SimDraw draw = sim_draw(m, &random);
            const size_t c = i * m->threads + t;
            hold->late[c] = draw.late_ns;
            hold->fixed[c] = m->fixed_ns * common[i].all * draw.spread + draw.pause_ns;
            hold->each[c] = m->per_stream_ns * common[i].stream * draw.spread;
        }
    }
}

// The hold's missed periods at `streams` (counted after `warmup`), or
// `limit` + 1 once it passes `limit`.
uint64_t hold_misses(const SimMachine* m, const HoldDraws* hold, uint64_t warmup, uint32_t streams,
                     uint64_t limit) {
    double done[64];
    double k[64];
    for (uint32_t t = 0; t < m->threads; ++t) {
        done[t] = -1e18;
        k[t] = sim_share(streams, m->threads, t);
    }
    uint64_t missed = 0;
    const size_t total = hold->starts.size() - 1;
    for (size_t i = 0; i < total; ++i) {
        const auto start = static_cast<double>(hold->starts[i]);
        const auto deadline = static_cast<double>(hold->starts[i + 1]);
        bool late = false;
        for (uint32_t t = 0; t < m->threads; ++t) {
            const size_t c = i * m->threads + t;
            const double woke = std::max(done[t], start) + hold->late[c];
            done[t] = woke + hold->fixed[c] + k[t] * hold->each[c];
            late = late || done[t] > deadline;
        }
        if (late && i >= warmup && ++missed > limit) {
            return missed;
        }
    }
    return missed;
}
} // namespace

uint32_t sim_share(uint32_t streams, uint32_t threads, uint32_t t) {
    return streams / threads + (t < streams % threads ? 1u : 0u);
}

const char* family_name(SimFamily family) {
    static const char* const NAMES[FAMILY_COUNT] = {
        "exponential tail", "Gaussian tail", "Pareto tail", "two speeds",
        "lockstep bursts",  "slow phases",   "cold start",  "host pauses"};
    return family < FAMILY_COUNT ? NAMES[family] : "?";
}

SimRandom::SimRandom(uint64_t seed) {
    uint64_t x = seed ^ 0x5851f42d4c957f2dULL;
    for (uint64_t& word : s) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        word = x ^ (x >> 29);
    }
}

uint64_t SimRandom::next() {
    const uint64_t result = rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
}

double SimRandom::uniform() {
    return static_cast<double>(next() >> 11) / 9007199254740992.0;
}

double SimRandom::between(double low, double high) {
    return low + (high - low) * uniform();
}

double SimRandom::normal() {
    const double u = 1.0 - uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * uniform());
}

SimMachine sim_machine(SimFamily family, uint64_t index) {
    SimMachine m{};
    m.family = family;
    m.seed = (uint64_t{family} << 32) ^ (index * 0x9e3779b97f4a7c15ULL) ^ 0xabcdefULL;
    SimRandom random(m.seed);
    m.frames = 64u << (index % 5);
    m.rate = 48000;
    m.threads = random.uniform() < 0.6 ? 1u : 2u + static_cast<uint32_t>(random.next() % 3);
    const double period = static_cast<double>(m.frames) * 1e9 / m.rate;
    m.fixed_ns = random.between(3e3, 25e3);
    m.late_ns = random.between(5e3, 50e3);
    m.jitter_ns = random.between(1e3, 10e3);
    const double capacity = std::exp(random.between(std::log(100.0), std::log(20000.0)));
    m.per_stream_ns =
        (0.85 * period - m.late_ns - m.fixed_ns) / (capacity / static_cast<double>(m.threads));
    if (random.uniform() < 0.4) { // the system's own late wake-ups, seen idle too
        m.stall_chance = per_period(random.between(0.0, 100.0), period);
        m.stall_low_ns = 0.2e6;
        m.stall_high_ns = random.between(0.3e6, 1.5e6);
    }
    m.tail_width = random.between(0.005, 0.03);
    m.slow_factor = 1.0;
    m.burst_factor = 1.0;
    m.cold_factor = 1.0;
    m.cold_ns = 1.0;
    switch (family) {
    case FAMILY_GAUSSIAN:
        m.tail_width = random.between(0.05, 0.12);
        break;
    case FAMILY_PARETO:
        m.tail_width = random.between(0.01, 0.04);
        m.tail_shape = random.between(2.5, 5.0);
        break;
    case FAMILY_TWO_SPEEDS:
        m.slow_factor = random.between(1.2, 1.8);
        break;
    case FAMILY_BURSTS:
        m.burst_every = 2u + static_cast<uint32_t>(random.next() % 31);
        m.burst_phase = static_cast<uint32_t>(random.next() % m.burst_every);
        m.burst_factor = random.between(2.0, 4.0);
        break;
    case FAMILY_SLOW_PHASES:
        m.slow_factor = random.between(1.0, 1.6);
        m.cycle_ns = random.between(2.0, 6.0) * SECOND_NS;
        m.slow_share = random.between(0.1, 0.4);
        m.cycle_phase_ns = random.between(0.0, m.cycle_ns);
        break;
    case FAMILY_COLD_START:
        m.cold_factor = random.between(1.5, 3.0);
        m.cold_ns = random.between(20e6, 150e6);
        break;
    case FAMILY_HOST_PAUSES:
        m.pause_chance = per_period(random.between(2.0, 30.0), period);
        break;
    default:
        break;
    }
    return m;
}

int64_t sim_period_start(const SimMachine* m, uint64_t i) {
    return static_cast<int64_t>(i * m->frames * 1000000000ULL / m->rate);
}

SimTimeline::SimTimeline(const SimMachine* m, uint64_t seed) : machine(m), random(seed) {}

double SimTimeline::speed_at(double at_ns) {
    const SimMachine* m = machine;
    if (m->family == FAMILY_TWO_SPEEDS) {
        while (switches.empty() || switches.back() <= at_ns) {
            const bool fast = switches.size() % 2 == 0; // the stretch that ends here
            const double last = switches.empty() ? 0.0 : switches.back();
            switches.push_back(
                last + SECOND_NS * (fast ? random.between(2.0, 12.0) : random.between(1.0, 5.0)));
        }
        const auto after = std::upper_bound(switches.begin(), switches.end(), at_ns);
        return (after - switches.begin()) % 2 == 1 ? m->slow_factor : 1.0;
    }
    if (m->family == FAMILY_SLOW_PHASES) {
        const double phase = std::fmod(at_ns + m->cycle_phase_ns, m->cycle_ns);
        return phase < m->slow_share * m->cycle_ns ? m->slow_factor : 1.0;
    }
    return 1.0;
}

double SimTimeline::burst_at(uint64_t period) const {
    const SimMachine* m = machine;
    return m->burst_every > 0 && period % m->burst_every == m->burst_phase ? m->burst_factor : 1.0;
}

SimDraw sim_draw(const SimMachine* m, SimRandom* random) {
    SimDraw draw{};
    draw.late_ns = m->late_ns - m->jitter_ns * std::log(1.0 - random->uniform());
    if (m->stall_chance > 0.0 && random->uniform() < m->stall_chance) {
        draw.late_ns += random->between(m->stall_low_ns, m->stall_high_ns);
    }
    const double u = 1.0 - random->uniform();
    switch (m->family) {
    case FAMILY_GAUSSIAN:
        draw.spread = std::max(0.2, 1.0 + m->tail_width * random->normal());
        break;
    case FAMILY_PARETO:
        draw.spread = 1.0 + m->tail_width * (std::pow(u, -1.0 / m->tail_shape) -
                                             std::pow(2.0, 1.0 / m->tail_shape));
        break;
    default:
        draw.spread = 1.0 + m->tail_width * (-std::log(u) - std::log(2.0));
        break;
    }
    if (m->pause_chance > 0.0 && random->uniform() < m->pause_chance) {
        draw.pause_ns = random->between(1e6, 10e6);
    }
    return draw;
}

double sim_cold(const SimMachine* m, uint64_t period_in_trial) {
    if (m->cold_factor <= 1.0) {
        return 1.0;
    }
    const auto at = static_cast<double>(sim_period_start(m, period_in_trial));
    return 1.0 + (m->cold_factor - 1.0) * std::exp(-at / m->cold_ns);
}

void sim_common(const SimMachine* m, SimTimeline* timeline, uint64_t first_period, uint64_t count,
                SimCommon* common) {
    for (uint64_t i = 0; i < count; ++i) {
        const auto at = static_cast<double>(sim_period_start(m, first_period + i));
        const double all = timeline->speed_at(at) * sim_cold(m, i);
        common[i] = SimCommon{all, all * timeline->burst_at(first_period + i)};
    }
}

double sim_work(const SimMachine* m, const SimCommon* common, const SimDraw* draw,
                uint32_t streams) {
    return (m->fixed_ns * common->all + m->per_stream_ns * streams * common->stream) *
               draw->spread +
           draw->pause_ns;
}

SimIdle sim_idle_run(const SimMachine* m, uint64_t periods, uint64_t warmup, uint64_t seed) {
    HoldDraws hold;
    draw_hold(m, warmup + periods, seed, &hold);
    SimIdle idle{periods, hold_misses(m, &hold, warmup, 0, UINT64_MAX), 0.0};
    std::vector<double> work(hold.fixed.begin() + static_cast<std::ptrdiff_t>(warmup * m->threads),
                             hold.fixed.end());
    std::nth_element(work.begin(), work.begin() + static_cast<std::ptrdiff_t>(work.size() / 2),
                     work.end());
    idle.median_ns = work[work.size() / 2];
    return idle;
}

uint64_t sim_poisson_90(double mean) {
    if (!(mean > 0.0)) {
        return 0;
    }
    // Summed in logarithms: exp(-mean) underflows for long holds' means.
    double below = 0.0;
    for (uint64_t m = 0;; ++m) {
        const double md = static_cast<double>(m);
        below += std::exp(-mean + md * std::log(mean) - std::lgamma(md + 1.0));
        if (below >= 0.9) {
            return m;
        }
    }
}

std::vector<uint32_t> sim_hold_capacities(const SimMachine* m, uint64_t warmup, uint64_t periods,
                                          uint64_t allowance, uint32_t bound, uint32_t replicas) {
    std::vector<uint32_t> largest(replicas);
    HoldDraws hold;
    SimRandom seeds(m->seed ^ 0x7777);
    for (uint32_t r = 0; r < replicas; ++r) {
        draw_hold(m, warmup + periods, seeds.next(), &hold);
        uint32_t low = 0; // plays (taken so: a hold at 0 that failed ends at 0 too)
        uint32_t high = bound + 1;
        if (hold_misses(m, &hold, warmup, bound, allowance) <= allowance) {
            low = bound;
        }
        while (high - low > 1 && low < bound) {
            const uint32_t middle = low + (high - low) / 2;
            (hold_misses(m, &hold, warmup, middle, allowance) <= allowance ? low : high) = middle;
        }
        largest[r] = low;
    }
    std::sort(largest.begin(), largest.end());
    return largest;
}

uint32_t sim_true_capacity(const std::vector<uint32_t>& capacities, double odds) {
    const auto replicas = static_cast<uint32_t>(capacities.size());
    // At least `odds` of the holds played at capacities[at].
    const auto at = replicas - static_cast<uint32_t>(std::ceil(odds * replicas));
    return capacities[at];
}
