// What validation's child watches of a plugin's run: a seccomp filter on
// the running thread (after PR_SET_NO_NEW_PRIVS) sends open, openat,
// openat2, creat, mmap, mremap, mprotect, brk, clone, clone3, fork and vfork
// to a listener (SECCOMP_FILTER_FLAG_NEW_LISTENER) served by a thread of the
// child, which counts each call against the plugin being watched and lets it
// go on (SECCOMP_USER_NOTIF_FLAG_CONTINUE).
#include "platform/lv2/lv2_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

// The child's listener of the filter's notifications. Its buffers are made
// before the filter is installed and it never allocates: the thread it
// answers may be holding the allocator's lock.
struct CallWatch {
    CallCounts* counts;
    sem_t ready;
    int descriptor;
    std::unique_ptr<uint8_t[]> request;
    std::unique_ptr<uint8_t[]> response;
    seccomp_notif_sizes sizes;
    std::thread thread;
};

namespace {
#if defined(__x86_64__)
constexpr uint32_t AUDIT_ARCH_HERE = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t AUDIT_ARCH_HERE = AUDIT_ARCH_AARCH64;
#else
constexpr uint32_t AUDIT_ARCH_HERE = 0; // not watched
#endif

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

void listen(CallWatch* listener) {
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
        int32_t plugin = listener->counts->counting.load();
        for (const WatchedCall& call : WATCHED) {
            if (plugin >= 0 && call.number == request->data.nr) {
                listener->counts->calls[plugin][call.kind] += 1;
            }
        }
        std::memset(response, 0, listener->sizes.seccomp_notif_resp);
        response->id = request->id;
        response->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        ioctl(listener->descriptor, SECCOMP_IOCTL_NOTIF_SEND, response);
    }
}
} // namespace

CallWatch* call_watch_start(CallCounts* counts, char* why, size_t size) {
    if (AUDIT_ARCH_HERE == 0) {
        std::snprintf(why, size,
                      "files, memory and threads during run: not watched on this processor");
        return nullptr;
    }
    auto* listener = new CallWatch{};
    listener->counts = counts;
    listener->descriptor = -1;
    if (syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &listener->sizes) != 0) {
        std::snprintf(why, size,
                      "files, memory and threads during run: not watched (no seccomp "
                      "notifications: %s)",
                      std::strerror(errno));
        delete listener;
        return nullptr;
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
        std::snprintf(why, size, "files, memory and threads during run: not watched (seccomp: %s)",
                      std::strerror(errno));
    }
    listener->descriptor = static_cast<int>(descriptor);
    sem_post(&listener->ready);
    if (descriptor < 0) {
        listener->thread.join();
        delete listener;
        return nullptr;
    }
    return listener; // its thread is left to end with the process
}
