// What the Linux readiness files share: the reader of small files under
// the root folder (readiness_reader_posix.cpp) and the scan of real-time
// threads under /proc (readiness_threads_posix.cpp).
#pragma once

#include "platform/common/readiness_common.h"
#include "platform/platform_readiness.h"

#include <cstdint>
#include <string>

std::string trim(const std::string& text);
// The whole of a small file, or errno.
int read_all(const std::string& path, std::string* text);

struct Reader {
    std::string root; // "" for this system, else the folder without its last '/'
    int64_t uid;

    std::string path(const std::string& relative) const {
        return root + "/" + relative;
    }

    // A file's text, trimmed; missing, or unknown with why.
    Fact text(const std::string& relative) const;
    Fact number(const std::string& relative) const;
};

// Every thread of another process at SCHED_FIFO or SCHED_RR from
// RT_PRIORITY up, or at SCHED_DEADLINE, into facts->rt_threads.
void scan_rt_threads(const Reader& reader, ReadinessFacts* facts);
