// Validation of a load in a child process: whatever the plugins do there, a
// crash, a hang or worse, the caller goes on and learns what happened.
//
// The child opens one instance, then runs `blocks` blocks with flush-to-zero
// and denormals-are-zero off, reading every plugin's outputs after its run.
// During each plugin's run it watches what the plugin asks of the kernel: a
// seccomp filter on the running thread (after PR_SET_NO_NEW_PRIVS) sends
// open, openat, openat2, creat, mmap, mremap, mprotect, brk, clone, clone3,
// fork and vfork to a listener (SECCOMP_FILTER_FLAG_NEW_LISTENER) served by
// a thread of the child, which counts each call against the plugin running
// and lets it go on (SECCOMP_USER_NOTIF_FLAG_CONTINUE). The filter sees the
// calls of the running thread only: work the plugin hands to threads of its
// own is not seen there, but the threads themselves are, both when run
// starts them and, counted in /proc/self/task after the blocks, wherever
// they were started. Small allocations that glibc serves without the kernel
// are counted by the program's own malloc (malloc_count.cpp), absent in
// sanitizer builds; memory taken by other means, such as a plugin's own
// allocator working in memory it took earlier, is not seen at all.
#include "platform/lv2/lv2_internal.h"
#ifndef ZEM_NO_MALLOC_COUNT
#include "platform/lv2/malloc_count.h"
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace {
#if defined(__x86_64__)
constexpr uint32_t AUDIT_ARCH_HERE = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t AUDIT_ARCH_HERE = AUDIT_ARCH_AARCH64;
#else
constexpr uint32_t AUDIT_ARCH_HERE = 0; // not watched
#endif

enum CallKind : uint32_t { CALL_FILE, CALL_MEMORY, CALL_THREAD };

struct WatchedCall {
    long number;
    CallKind kind;
};

const WatchedCall WATCHED[] = {
#ifdef SYS_open
    {SYS_open, CALL_FILE},
#endif
#ifdef SYS_creat
    {SYS_creat, CALL_FILE},
#endif
#ifdef SYS_fork
    {SYS_fork, CALL_THREAD},
#endif
#ifdef SYS_vfork
    {SYS_vfork, CALL_THREAD},
#endif
    {SYS_openat, CALL_FILE},   {SYS_openat2, CALL_FILE},    {SYS_mmap, CALL_MEMORY},
    {SYS_mremap, CALL_MEMORY}, {SYS_mprotect, CALL_MEMORY}, {SYS_brk, CALL_MEMORY},
    {SYS_clone, CALL_THREAD},  {SYS_clone3, CALL_THREAD},
};
constexpr uint32_t WATCHED_COUNT = sizeof WATCHED / sizeof WATCHED[0];

struct SharedFindings {
    uint64_t non_finite;
    uint64_t denormals;
    int64_t allocations;
    int64_t calls[3]; // by CallKind
};

// Written by the child, read by the parent once the child has ended.
struct Shared {
    std::atomic<uint32_t> stage;
    std::atomic<uint32_t> plugin;
    std::atomic<uint64_t> block;
    std::atomic<int32_t> counting; // the plugin whose run is being watched, -1 none
    SharedFindings findings[PLUGIN_MAX_CHAIN];
    int64_t extra_threads;
    char refusal[512];
    char not_checked[256];
};

void mark_shared(void* context, PluginStage stage, uint32_t plugin) {
    auto* shared = static_cast<Shared*>(context);
    shared->stage.store(stage);
    shared->plugin.store(plugin);
}

void note(Shared* shared, const char* text) {
    size_t used = std::strlen(shared->not_checked);
    std::snprintf(shared->not_checked + used, sizeof shared->not_checked - used, "%s%s",
                  used == 0 ? "" : "; ", text);
}

// The child's listener of the filter's notifications. Its buffers are made
// before the filter is installed and it never allocates: the thread it
// answers may be holding the allocator's lock.
struct Listener {
    Shared* shared;
    sem_t ready;
    int descriptor;
    std::unique_ptr<uint8_t[]> request;
    std::unique_ptr<uint8_t[]> response;
    seccomp_notif_sizes sizes;
    std::thread thread;
};

void listen(Listener* listener) {
    while (sem_wait(&listener->ready) != 0) {
    }
    if (listener->descriptor < 0) {
        return;
    }
    auto* request = reinterpret_cast<seccomp_notif*>(listener->request.get());
    auto* response = reinterpret_cast<seccomp_notif_resp*>(listener->response.get());
    for (;;) {
        std::memset(request, 0, listener->sizes.seccomp_notif);
        if (ioctl(listener->descriptor, SECCOMP_IOCTL_NOTIF_RECV, request) != 0) {
            if (errno == EINTR || errno == ENOENT) {
                continue;
            }
            return;
        }
        int32_t plugin = listener->shared->counting.load();
        for (const WatchedCall& call : WATCHED) {
            if (plugin >= 0 && call.number == request->data.nr) {
                listener->shared->findings[plugin].calls[call.kind] += 1;
            }
        }
        std::memset(response, 0, listener->sizes.seccomp_notif_resp);
        response->id = request->id;
        response->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        ioctl(listener->descriptor, SECCOMP_IOCTL_NOTIF_SEND, response);
    }
}

// Starts the listener, then filters the calling thread; false, after a note
// of why, when the kernel refuses.
bool watch_start(Listener* listener, Shared* shared) {
    listener->shared = shared;
    listener->descriptor = -1;
    if (AUDIT_ARCH_HERE == 0) {
        note(shared, "files, memory and threads during run: not watched on this processor");
        return false;
    }
    if (syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &listener->sizes) != 0) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "files, memory and threads during run: not watched (no seccomp "
                      "notifications: %s)",
                      std::strerror(errno));
        note(shared, text);
        return false;
    }
    listener->request = std::make_unique<uint8_t[]>(
        std::max<size_t>(listener->sizes.seccomp_notif, sizeof(seccomp_notif)));
    listener->response = std::make_unique<uint8_t[]>(
        std::max<size_t>(listener->sizes.seccomp_notif_resp, sizeof(seccomp_notif_resp)));
    sem_init(&listener->ready, 0, 0);
    listener->thread = std::thread(listen, listener);
    // The architecture, then the call's number against each watched one.
    std::vector<sock_filter> code;
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_HERE, 1, 0));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    for (uint32_t c = 0; c < WATCHED_COUNT; ++c) {
        auto to_notify = static_cast<uint8_t>(WATCHED_COUNT - c);
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(WATCHED[c].number),
                                to_notify, 0));
    }
    code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    long descriptor = -1;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0) {
        descriptor = syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER,
                             &program);
    }
    if (descriptor < 0) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "files, memory and threads during run: not watched (seccomp: %s)",
                      std::strerror(errno));
        note(shared, text);
    }
    listener->descriptor = static_cast<int>(descriptor);
    sem_post(&listener->ready);
    if (descriptor < 0) {
        listener->thread.join();
    }
    return descriptor >= 0;
}

int64_t count_threads() {
    DIR* folder = opendir("/proc/self/task");
    if (folder == nullptr) {
        return -1;
    }
    int64_t count = 0;
    while (dirent* entry = readdir(folder)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(folder);
    return count;
}

// The child's signals take their default action, so that a crash ends the
// child with its signal even where a sanitizer has handlers of its own.
void default_crash_signals() {
    for (int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS}) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigaction(signal_number, &action, nullptr);
    }
}

void show_denormals() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_setcsr(_mm_getcsr() & ~0x8040u); // flush-to-zero (bit 15), denormals-are-zero (bit 6)
#endif
}

void check_outputs(const PluginLoad* load, uint32_t step, SharedFindings* findings,
                   uint32_t frames) {
    for (uint32_t c = 0; c < load_step_outputs(load, step); ++c) {
        const float* output = load_step_output(load, 0, step, c);
        for (uint32_t i = 0; i < frames; ++i) {
            int kind = std::fpclassify(output[i]);
            findings->non_finite += kind == FP_NAN || kind == FP_INFINITE ? 1 : 0;
            findings->denormals += kind == FP_SUBNORMAL ? 1 : 0;
        }
    }
}

[[noreturn]] void validate_in_child(PluginHost* host, const PluginLoadOrder* order, uint32_t blocks,
                                    Shared* shared) {
    default_crash_signals();
    // A thread started and ended first: a runtime that starts a helper
    // thread of its own with the first new thread (ThreadSanitizer does)
    // has done so before the count.
    std::thread([] {}).join();
    int64_t threads_before = count_threads();
    PluginLoadOrder one = *order;
    one.instances = 1;
    PluginLoadFacts facts;
    std::string error;
    LoadProgress progress{mark_shared, shared};
    PluginLoad* load = load_open(host, &one, &facts, &error, &progress);
    if (load == nullptr) {
        std::snprintf(shared->refusal, sizeof shared->refusal, "%s", error.c_str());
        _exit(0);
    }
    auto steps = static_cast<uint32_t>(facts.chain.size());
#ifdef ZEM_NO_MALLOC_COUNT
    bool counting_mallocs = false;
    note(shared, "malloc calls during run: not counted in sanitizer builds");
#else
    bool counting_mallocs = malloc_count_works();
    if (!counting_mallocs) {
        note(shared, "malloc calls during run: not counted (another allocator replaces ours)");
    }
#endif
    for (uint32_t s = 0; s < steps && !counting_mallocs; ++s) {
        shared->findings[s].allocations = PLUGIN_NOT_CHECKED;
    }
    auto* listener = new Listener{};
    bool watching = watch_start(listener, shared);
    show_denormals();
    shared->stage.store(PLUGIN_STAGE_RUN);
    for (uint32_t b = 0; b < blocks; ++b) {
        for (uint32_t s = 0; s < steps; ++s) {
            shared->plugin.store(s);
            shared->counting.store(static_cast<int32_t>(s));
#ifndef ZEM_NO_MALLOC_COUNT
            malloc_count_into(counting_mallocs ? &shared->findings[s].allocations : nullptr);
#endif
            load_run_step(load, 0, s);
#ifndef ZEM_NO_MALLOC_COUNT
            malloc_count_into(nullptr);
#endif
            shared->counting.store(-1);
            check_outputs(load, s, &shared->findings[s], order->frames);
        }
        plugin_load_finish_period(load, 1);
        shared->block.store(b + 1);
    }
    int64_t threads_after = count_threads();
    if (threads_before > 0 && threads_after > 0) {
        shared->extra_threads = threads_after - threads_before - load_threads(load) -
                                (listener->thread.joinable() ? 1 : 0);
    }
    if (!watching) {
        for (uint32_t s = 0; s < steps; ++s) {
            for (int64_t& calls : shared->findings[s].calls) {
                calls = PLUGIN_NOT_CHECKED;
            }
        }
    }
    mark_shared(shared, PLUGIN_STAGE_CLOSE, 0);
    plugin_load_close(load);
    mark_shared(shared, PLUGIN_STAGE_DONE, 0);
    // The listener's thread is left to end with the process.
    _exit(0);
}

int64_t monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits for the child to end, at most `timeout_ms`, then stops it; false
// when it had to be stopped.
bool wait_child(pid_t child, int64_t timeout_ms, int* status) {
    int descriptor = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    if (descriptor >= 0) {
        pollfd watch{descriptor, POLLIN, 0};
        int ready = 0;
        do {
            ready = poll(&watch, 1, static_cast<int>(timeout_ms));
        } while (ready < 0 && errno == EINTR);
        close(descriptor);
        if (ready <= 0) {
            kill(child, SIGKILL);
        }
        while (waitpid(child, status, 0) < 0 && errno == EINTR) {
        }
        return ready > 0;
    }
    // Without pidfd_open (kernels before 5.3, valgrind): a look every
    // millisecond.
    int64_t deadline = monotonic_ms() + timeout_ms;
    for (;;) {
        pid_t ended = waitpid(child, status, WNOHANG);
        if (ended == child) {
            return true;
        }
        if (monotonic_ms() >= deadline) {
            kill(child, SIGKILL);
            while (waitpid(child, status, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
}
} // namespace

void plugin_validate(PluginHost* host, const PluginLoadOrder* order,
                     const PluginValidateOptions* options, PluginValidation* result) {
    *result = PluginValidation{};
    void* memory =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        result->refusal = std::string("validation could not start: ") + std::strerror(errno);
        return;
    }
    auto* shared = new (memory) Shared{};
    shared->counting.store(-1);
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        validate_in_child(host, order, options->blocks, shared);
    }
    if (child < 0) {
        result->refusal = std::string("validation could not start: ") + std::strerror(errno);
        munmap(memory, sizeof(Shared));
        return;
    }
    int status = 0;
    result->timed_out = !wait_child(child, options->timeout_ms, &status);
    if (!result->timed_out && WIFSIGNALED(status)) {
        result->signal = WTERMSIG(status);
        const char* abbreviation = sigabbrev_np(result->signal);
        result->signal_name = abbreviation != nullptr ? std::string("SIG") + abbreviation
                                                      : "signal " + std::to_string(result->signal);
    } else if (!result->timed_out && WIFEXITED(status)) {
        result->exit_status = WEXITSTATUS(status);
    }
    result->refusal = shared->refusal;
    result->stage = static_cast<PluginStage>(shared->stage.load());
    result->plugin = shared->plugin.load();
    result->block = shared->block.load();
    result->extra_threads = shared->extra_threads;
    result->not_checked = shared->not_checked;
    for (size_t s = 0; s < order->uris.size() && s < PLUGIN_MAX_CHAIN; ++s) {
        const SharedFindings& seen = shared->findings[s];
        const LilvPlugin* plugin = plugin_by_uri(host, order->uris[s]);
        result->plugins.push_back(PluginFindings{
            seen.non_finite, seen.denormals, seen.allocations, seen.calls[CALL_MEMORY],
            seen.calls[CALL_FILE], seen.calls[CALL_THREAD],
            plugin != nullptr && lilv_plugin_has_feature(plugin, host->nodes.hard_rt)});
    }
    munmap(memory, sizeof(Shared));
}
