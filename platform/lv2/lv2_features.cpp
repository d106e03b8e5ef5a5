// The features the host gives plugins that need code behind them: URID
// map and unmap, the log and the plugin worker.
#include "platform/lv2/lv2_internal.h"
#include "platform/posix/posix_clock.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <system_error>

namespace {
LV2_URID map_uri(LV2_URID_Map_Handle handle, const char* uri) {
    return urid_of(static_cast<UridMap*>(handle), uri);
}

const char* unmap_urid(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
    auto* urids = static_cast<UridMap*>(handle);
    std::lock_guard<std::mutex> hold(urids->lock);
    return urid == 0 || urid > urids->uris.size() ? nullptr : urids->uris[urid - 1].c_str();
}

// The longest message kept whole; longer ones are cut.
constexpr size_t LOG_LINE = 512;

int log_vprintf(LV2_Log_Handle handle, LV2_URID type, const char* format, va_list arguments) {
    auto* log = static_cast<LogBuffer*>(handle);
    char line[LOG_LINE];
    const char* kind = type == log->error     ? "error: "
                       : type == log->warning ? "warning: "
                       : type == log->trace   ? "trace: "
                                              : "";
    int prefix = std::snprintf(line, sizeof line, "%s", kind);
    int body =
        std::vsnprintf(line + prefix, sizeof line - static_cast<size_t>(prefix), format, arguments);
    if (body < 0) {
        return body;
    }
    uint32_t length = static_cast<uint32_t>(
        std::min<size_t>(static_cast<size_t>(prefix) + static_cast<size_t>(body), sizeof line - 1));
    uint32_t start = log->used.fetch_add(length);
    if (start + length > LOG_BYTES) {
        log->used.fetch_sub(length);
        log->dropped.fetch_add(1);
        return 0;
    }
    std::memcpy(log->text + start, line, length);
    return body;
}

int log_printf(LV2_Log_Handle handle, LV2_URID type, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int written = log_vprintf(handle, type, format, arguments);
    va_end(arguments);
    return written;
}

void ring_copy_in(Ring* ring, uint32_t at, const void* data, uint32_t size) {
    uint32_t start = at & (ring->capacity - 1);
    uint32_t first = std::min(size, ring->capacity - start);
    std::memcpy(ring->bytes.get() + start, data, first);
    std::memcpy(ring->bytes.get(), static_cast<const uint8_t*>(data) + first, size - first);
}

void ring_copy_out(const Ring* ring, uint32_t at, void* data, uint32_t size) {
    uint32_t start = at & (ring->capacity - 1);
    uint32_t first = std::min(size, ring->capacity - start);
    std::memcpy(data, ring->bytes.get() + start, first);
    std::memcpy(static_cast<uint8_t*>(data) + first, ring->bytes.get(), size - first);
}

LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
    auto* slot = static_cast<PluginWorkerSlot*>(handle);
    return ring_put(&slot->responses, size, data) ? LV2_WORKER_SUCCESS : LV2_WORKER_ERR_NO_SPACE;
}

// From the thread that runs the instance: never waits; sem_post wakes the
// plugin worker without a lock.
LV2_Worker_Status schedule_work(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                const void* data) {
    auto* slot = static_cast<PluginWorkerSlot*>(handle);
    if (!ring_put(&slot->requests, size, data)) {
        slot->plugin_worker->refused.fetch_add(1, std::memory_order_relaxed);
        return LV2_WORKER_ERR_NO_SPACE;
    }
    sem_post(&slot->plugin_worker->wake);
    return LV2_WORKER_SUCCESS;
}

// A DAW's plugin worker is a background thread: at normal priority and free
// to run on any core, so that the real-time thread that opened the load,
// spinning on its own core, never starves it.
void run_in_background() {
    sched_param normal{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
    cpu_set_t any;
    CPU_ZERO(&any);
    for (size_t c = 0; c < CPU_SETSIZE; ++c) {
        CPU_SET(c, &any);
    }
    pthread_setaffinity_np(pthread_self(), sizeof any, &any);
}

void plugin_worker_loop(PluginWorker* plugin_worker) {
    run_in_background();
    for (;;) {
        while (sem_wait(&plugin_worker->wake) != 0) {
        }
        if (plugin_worker->stop.load()) {
            return;
        }
        std::lock_guard<std::mutex> serving(plugin_worker->serving);
        plugin_worker->busy.store(true);
        for (PluginWorkerSlot* slot : plugin_worker->slots) {
            uint32_t size = 0;
            while (ring_take(&slot->requests, plugin_worker->scratch.get(), &size)) {
                int64_t start = monotonic_ns();
                slot->interface->work(slot->handle, respond, slot, size,
                                      plugin_worker->scratch.get());
                int64_t took = monotonic_ns() - start;
                plugin_worker->jobs.fetch_add(1);
                plugin_worker->total_ns.fetch_add(took);
                if (took > plugin_worker->longest_ns.load()) {
                    plugin_worker->longest_ns.store(took);
                }
            }
        }
        plugin_worker->busy.store(false);
    }
}

bool ring_empty(const Ring* ring) {
    return ring->head.load(std::memory_order_acquire) == ring->tail.load(std::memory_order_acquire);
}
} // namespace

void urid_map_init(UridMap* urids) {
    urids->map = LV2_URID_Map{urids, map_uri};
    urids->unmap = LV2_URID_Unmap{urids, unmap_urid};
}

LV2_URID urid_of(UridMap* urids, const char* uri) {
    std::lock_guard<std::mutex> hold(urids->lock);
    auto found = urids->ids.find(uri);
    if (found != urids->ids.end()) {
        return found->second;
    }
    urids->uris.emplace_back(uri);
    auto id = static_cast<LV2_URID>(urids->uris.size());
    urids->ids.emplace(uri, id);
    return id;
}

void log_init(LogBuffer* log, UridMap* urids) {
    log->used.store(0);
    log->dropped.store(0);
    log->error = urid_of(urids, LV2_LOG__Error);
    log->warning = urid_of(urids, LV2_LOG__Warning);
    log->trace = urid_of(urids, LV2_LOG__Trace);
    log->log = LV2_Log_Log{log, log_printf, log_vprintf};
}

std::string log_text(const LogBuffer* log) {
    std::string text(log->text, std::min(log->used.load(), LOG_BYTES));
    uint64_t dropped = log->dropped.load();
    if (dropped > 0) {
        text += "(" + std::to_string(dropped) + " more messages did not fit)\n";
    }
    return text;
}

void ring_init(Ring* ring, uint32_t capacity) {
    ring->bytes = std::make_unique<uint8_t[]>(capacity);
    ring->capacity = capacity;
    ring->head.store(0);
    ring->tail.store(0);
}

bool ring_put(Ring* ring, uint32_t size, const void* data) {
    uint32_t head = ring->head.load(std::memory_order_relaxed);
    uint32_t tail = ring->tail.load(std::memory_order_acquire);
    if (size > ring->capacity || ring->capacity - (head - tail) < size + 4) {
        return false;
    }
    ring_copy_in(ring, head, &size, 4);
    ring_copy_in(ring, head + 4, data, size);
    ring->head.store(head + 4 + size, std::memory_order_release);
    return true;
}

void ring_drop(Ring* ring) {
    ring->tail.store(ring->head.load(std::memory_order_acquire), std::memory_order_release);
}

bool ring_take(Ring* ring, uint8_t* out, uint32_t* size) {
    uint32_t tail = ring->tail.load(std::memory_order_relaxed);
    uint32_t head = ring->head.load(std::memory_order_acquire);
    if (head == tail) {
        return false;
    }
    ring_copy_out(ring, tail, size, 4);
    ring_copy_out(ring, tail + 4, out, *size);
    ring->tail.store(tail + 4 + *size, std::memory_order_release);
    return true;
}

void plugin_worker_init(PluginWorker* plugin_worker) {
    sem_init(&plugin_worker->wake, 0, 0);
    plugin_worker->stop.store(false);
    plugin_worker->busy.store(false);
    plugin_worker->running = false;
    plugin_worker->scratch = std::make_unique<uint8_t[]>(PLUGIN_WORKER_RING_BYTES);
    plugin_worker->jobs.store(0);
    plugin_worker->refused.store(0);
    plugin_worker->responses.store(0);
    plugin_worker->total_ns.store(0);
    plugin_worker->longest_ns.store(0);
}

void plugin_worker_slot_init(PluginWorkerSlot* slot, PluginWorker* plugin_worker) {
    ring_init(&slot->requests, PLUGIN_WORKER_RING_BYTES);
    ring_init(&slot->responses, PLUGIN_WORKER_RING_BYTES);
    slot->schedule = LV2_Worker_Schedule{slot, schedule_work};
    slot->interface = nullptr;
    slot->handle = nullptr;
    slot->plugin_worker = plugin_worker;
}

void plugin_worker_slot_clear(PluginWorkerSlot* slot) {
    ring_drop(&slot->requests);
    ring_drop(&slot->responses);
}

bool plugin_worker_start(PluginWorker* plugin_worker) {
    if (plugin_worker->slots.empty()) {
        return true;
    }
    try {
        plugin_worker->thread = std::thread(plugin_worker_loop, plugin_worker);
    } catch (const std::system_error&) {
        return false;
    }
    plugin_worker->running = true;
    return true;
}

void plugin_worker_stop(PluginWorker* plugin_worker) {
    if (plugin_worker->running) {
        plugin_worker->stop.store(true);
        sem_post(&plugin_worker->wake);
        plugin_worker->thread.join();
        plugin_worker->running = false;
    }
    sem_destroy(&plugin_worker->wake);
}

bool plugin_worker_idle(const PluginWorker* plugin_worker) {
    if (plugin_worker->busy.load()) {
        return false;
    }
    for (const PluginWorkerSlot* slot : plugin_worker->slots) {
        if (!ring_empty(&slot->requests)) {
            return false;
        }
    }
    return !plugin_worker->busy.load();
}

void plugin_worker_deliver(PluginWorkerSlot* slot, uint8_t* scratch) {
    uint32_t size = 0;
    while (ring_take(&slot->responses, scratch, &size)) {
        if (slot->interface->work_response != nullptr) {
            slot->interface->work_response(slot->handle, size, scratch);
        }
        slot->plugin_worker->responses.fetch_add(1, std::memory_order_relaxed);
    }
    if (slot->interface->end_run != nullptr) {
        slot->interface->end_run(slot->handle);
    }
}
