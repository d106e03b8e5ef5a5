// Children on Linux: code that must not harm the caller (plugins) runs in a
// forked process that is watched, stopped with the run and killed when it
// hangs. The child is a process group of its own, so that whatever it starts
// dies with it; its standard output and error go to a memory file that the
// parent reads once it has ended. The stage it is in and that stage's
// deadline sit in memory both share, on CLOCK_MONOTONIC, which both read
// alike.
#include "platform/platform_engine.h"

#include "platform/posix/posix_clock.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {
// How often the parent looks at its child: a stop or a hang is acted on
// within this.
constexpr int64_t LOOK_MS = 20;
constexpr int64_t NS_PER_MS = NS_PER_SECOND / 1000;

struct ChildWatch {
    std::atomic<int64_t> deadline_ns; // 0: no stage named
    std::atomic<int64_t> allowed_ms;
    char stage[CHILD_STAGE_BYTES];
};

ChildWatch* own_watch = nullptr; // in a child: the record its parent reads

// Where the child's output goes: a memory file, or nowhere when none can be
// made; never our own standard output.
int output_file() {
    int descriptor = memfd_create("zem-child-output", MFD_CLOEXEC);
    return descriptor >= 0 ? descriptor : open("/dev/null", O_WRONLY | O_CLOEXEC);
}

[[noreturn]] void be_child(WorkerEntry entry, void* parameter, ChildWatch* watch, int output,
                           pid_t parent) {
    setpgid(0, 0);
    // A group of its own takes no signal meant for ours: it must not outlive
    // a parent that was killed outright.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(1);
    }
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    own_watch = watch;
    const uint32_t status = entry(parameter);
    // What the child printed through stdio may still be in its buffers; the
    // rest of the parent's state is the parent's, left alone.
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(static_cast<int>(status));
}

void kill_child(pid_t child) {
    kill(-child, SIGKILL);
    kill(child, SIGKILL); // before the child has made its group
}

void wait_killed(pid_t child, int* status) {
    kill_child(child);
    while (waitpid(child, status, 0) < 0 && errno == EINTR) {
    }
}

void pause_a_moment() {
    timespec pause{0, LOOK_MS * NS_PER_MS};
    nanosleep(&pause, nullptr);
}

// Looks at the child until it ends: passes a stop on, and kills it once its
// stage's deadline or the stop's grace has passed.
int watch_child(pid_t child, const ChildWatch* watch, const ChildTask* task, ChildEnd* end,
                int* stop_signal) {
    int64_t grace_end = 0;
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child || (ended < 0 && errno != EINTR)) {
            return status;
        }
        const int64_t deadline = watch->deadline_ns.load();
        const int64_t now = monotonic_ns();
        if ((grace_end == 0 && deadline != 0 && now > deadline) ||
            (grace_end != 0 && now > grace_end)) {
            end->timed_out = grace_end == 0;
            wait_killed(child, &status);
            return status;
        }
        if (task->look != nullptr) {
            task->look(task->parameter);
        }
        const int signal_number =
            grace_end == 0 && task->stop_wait != nullptr ? task->stop_wait(LOOK_MS) : 0;
        if (signal_number != 0) {
            *stop_signal = signal_number;
            end->stopped = true;
            grace_end = monotonic_ns() + CHILD_STOP_GRACE_MS * NS_PER_MS;
            kill(child, signal_number);
        } else if (grace_end != 0 || task->stop_wait == nullptr) {
            pause_a_moment();
        }
    }
}

void read_output(int descriptor, std::string* output) {
    char text[CHILD_OUTPUT_BYTES];
    const ssize_t got = pread(descriptor, text, sizeof text, 0);
    output->assign(text, got > 0 ? static_cast<size_t>(got) : 0);
}

void describe_end(int status, const ChildWatch* watch, ChildEnd* end) {
    if (WIFSIGNALED(status)) {
        end->signal = WTERMSIG(status);
        const char* abbreviation = sigabbrev_np(end->signal);
        std::snprintf(end->signal_name, sizeof end->signal_name, "%s%s",
                      abbreviation != nullptr ? "SIG" : "signal ",
                      abbreviation != nullptr ? abbreviation : std::to_string(end->signal).c_str());
    } else if (WIFEXITED(status)) {
        end->exit_status = WEXITSTATUS(status);
    }
    std::snprintf(end->stage, sizeof end->stage, "%s", watch->stage);
    end->allowed_ms = watch->allowed_ms.load();
}
} // namespace

void platform_run_in_child(const ChildTask* task, ChildEnd* end, int* stop_signal) {
    *end = ChildEnd{};
    void* memory = platform_shared_alloc(sizeof(ChildWatch));
    if (memory == nullptr) {
        return;
    }
    auto* watch = new (memory) ChildWatch{};
    const int output = output_file();
    std::fflush(stdout); // else the child would hand on what we had not written yet
    const pid_t parent = getpid();
    const pid_t child = output >= 0 ? fork() : -1;
    if (child == 0) {
        be_child(task->entry, task->parameter, watch, output, parent);
    }
    if (child > 0) {
        end->started = true;
        setpgid(child, child);
        const int status = watch_child(child, watch, task, end, stop_signal);
        describe_end(status, watch, end);
        read_output(output, &end->output);
    }
    if (output >= 0) {
        close(output);
    }
    platform_shared_free(memory, sizeof(ChildWatch));
}

void platform_child_stage(const char* stage, int64_t allowed_ms) {
    ChildWatch* watch = own_watch;
    if (watch == nullptr) {
        return;
    }
    watch->deadline_ns.store(0); // no deadline while the name changes
    std::snprintf(watch->stage, sizeof watch->stage, "%s", stage);
    watch->allowed_ms.store(allowed_ms);
    watch->deadline_ns.store(monotonic_ns() + allowed_ms * NS_PER_MS);
}

namespace {
// A figure in kB after `key` in a /proc file ("MemAvailable:", "VmRSS:").
uint64_t proc_kilobytes(const char* path, const char* key) {
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) {
        return 0;
    }
    char line[256];
    unsigned long long kilobytes = 0;
    const size_t length = std::strlen(key);
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, key, length) == 0) {
            kilobytes = std::strtoull(line + length, nullptr, 10);
            break;
        }
    }
    std::fclose(file);
    return kilobytes * 1024;
}
} // namespace

uint64_t platform_memory_available() {
    return proc_kilobytes("/proc/meminfo", "MemAvailable:");
}

// VmData: what the data limit below counts, thread stacks included, so that
// the instances' batches are judged in its own terms (under mlockall all of it
// is resident).
uint64_t platform_memory_used() {
    return proc_kilobytes("/proc/self/status", "VmData:");
}

// RLIMIT_DATA, not RLIMIT_AS: the address space counts every read-only
// mapping of a sample file and each thread's reserved arena and stack, so it
// refuses long before memory is used; the data limit counts the private
// writable memory (heap, anonymous maps) that instances allocate, and under
// mlockall all of it is resident. A cgroup would need a delegated hierarchy
// that a plain run does not have.
bool platform_limit_memory(uint64_t bytes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' own mappings count as data: under a cap they cannot start.
    (void)bytes;
    return false;
#else
    const rlimit limit{bytes, bytes};
    return setrlimit(RLIMIT_DATA, &limit) == 0;
#endif
}
