#include "engine/realtime/observer.h"

#include "platform/platform_engine.h"

bool observer_open(Observer* observer, double seconds, uint32_t threads) {
    observer->stride = threads > 0 && threads < MAX_RT_THREADS ? threads : MAX_RT_THREADS;
    observer->capacity =
        static_cast<uint64_t>(seconds * 1e9 / static_cast<double>(OBSERVER_INTERVAL_NS)) + 64;
    const auto samples = static_cast<size_t>(observer->capacity);
    observer->at_ns = static_cast<int64_t*>(platform_alloc(samples * sizeof(int64_t)));
    observer->late_ns = static_cast<int64_t*>(platform_alloc(samples * sizeof(int64_t)));
    observer->counters = static_cast<RtStallCounters*>(
        platform_alloc(samples * observer->stride * sizeof(RtStallCounters)));
    observer->count = 0;
    if (observer->read == nullptr) {
        observer->read = observer_real_read;
    }
    const bool complete =
        observer->at_ns != nullptr && observer->late_ns != nullptr && observer->counters != nullptr;
    if (!complete) {
        observer_close(observer);
    }
    return complete;
}

void observer_close(Observer* observer) {
    platform_free(observer->at_ns);
    platform_free(observer->late_ns);
    platform_free(observer->counters);
    observer->at_ns = nullptr;
    observer->late_ns = nullptr;
    observer->counters = nullptr;
    observer->capacity = 0;
}

void observer_reset(Observer* observer, uint32_t targets, const uint32_t* processors) {
    observer->targets = targets < observer->stride ? targets : observer->stride;
    for (uint32_t t = 0; t < observer->targets; ++t) {
        observer->processors[t] = processors[t];
        observer->thread_ids[t].store(-1);
    }
    observer->count = 0;
    observer->stop.store(false);
}

void observer_real_read(void* /*context*/, uint32_t processor, int64_t thread_id,
                        RtStallCounters* counters) {
    rt_stall_counters(processor, thread_id, counters);
}

uint32_t observer_thread(void* parameter) {
    auto* observer = static_cast<Observer*>(parameter);
    RtStep step{};
    if (observer->own_processor != NO_PROCESSOR) {
        rt_pin_thread(observer->own_processor, &step);
    }
    RtTimer* timer = rt_timer_open(&step);
    int64_t due = rt_now_ns();
    // One more sample after the stop: the trial's last period has an edge.
    bool last = false;
    while (!last && observer->count < observer->capacity) {
        last = observer->stop.load(std::memory_order_acquire);
        const uint64_t s = observer->count;
        const int64_t taken = rt_now_ns();
        for (uint32_t t = 0; t < observer->targets; ++t) {
            observer->read(observer->read_context, observer->processors[t],
                           observer->thread_ids[t].load(std::memory_order_relaxed),
                           &observer->counters[s * observer->stride + t]);
        }
        observer->at_ns[s] = taken;
        observer->late_ns[s] = taken - due;
        observer->count = s + 1;
        // On the grid of its own interval, never catching up in a burst.
        due += OBSERVER_INTERVAL_NS;
        const int64_t now = rt_now_ns();
        due = due > now ? due : now;
        if (!last) {
            rt_sleep_until(timer, due);
        }
    }
    rt_timer_close(timer);
    return 0;
}

namespace {
int64_t difference(int64_t after, int64_t before) {
    return after >= 0 && before >= 0 ? after - before : -1;
}

// The last sample at or before `when`; count when there is none.
uint64_t sample_before(const Observer* observer, int64_t when) {
    uint64_t low = 0;
    uint64_t high = observer->count; // the answer is below high, or none
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        if (observer->at_ns[middle] <= when) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low > 0 ? low - 1 : observer->count;
}
} // namespace

void observer_match(const Observer* observer, uint32_t target, int64_t done_ns,
                    MissRecord* record) {
    record->stall = RtStallCounters{-1, -1, -1};
    record->edge_from_ns = 0;
    record->edge_to_ns = 0;
    const uint64_t from = sample_before(observer, record->start_ns);
    uint64_t after = from + 1;
    while (after < observer->count && observer->at_ns[after] < done_ns) {
        after += 1;
    }
    if (from >= observer->count || after >= observer->count ||
        record->start_ns - observer->at_ns[from] > OBSERVER_REACH_NS ||
        observer->at_ns[after] - done_ns > OBSERVER_REACH_NS) {
        return;
    }
    const RtStallCounters* before = &observer->counters[from * observer->stride + target];
    const RtStallCounters* later = &observer->counters[after * observer->stride + target];
    record->stall.run_delay_ns = difference(later->run_delay_ns, before->run_delay_ns);
    record->stall.steal_ns = difference(later->steal_ns, before->steal_ns);
    record->stall.irq_ns = difference(later->irq_ns, before->irq_ns);
    record->edge_from_ns = observer->at_ns[from];
    record->edge_to_ns = observer->at_ns[after];
}
