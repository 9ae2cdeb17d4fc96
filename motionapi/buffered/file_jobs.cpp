#include "file_jobs.h"

#include <cstring>
#include <mutex>

McFileJob g_FileJob{};

namespace {
// The job record is written by start-up and read by the poll thread.
std::mutex g_FileJobLock;
}  // namespace

void McClearFileJob() {
    std::lock_guard<std::mutex> guard(g_FileJobLock);
    std::memset(&g_FileJob, 0, sizeof g_FileJob);
}

int McFileTransferStep() {
    std::lock_guard<std::mutex> guard(g_FileJobLock);
    if (g_FileJob.state == 0) {
        return 0;  // no job
    }
    return 0;
}
