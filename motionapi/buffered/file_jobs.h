// The one file download or upload job, advanced by the poll thread.
#pragma once

#include <cstdint>
#include <cstddef>

inline constexpr std::size_t kFileJobLocalPath = 200;
inline constexpr std::size_t kFileJobRemoteName = 50;

struct McFileJob {
    std::int32_t state;  // 0 idle, 1 queued, 3..7 the steps of a running job
    char localPath[kFileJobLocalPath];
    char remoteName[kFileJobRemoteName];
    std::int32_t progress;
    std::int32_t direction;  // 1 download, 0 upload
    std::uint32_t command;
    std::int32_t result;
};

extern McFileJob g_FileJob;

void McClearFileJob();
// One step of the job: 0, or -1 when the step ended the job with a failure.
int McFileTransferStep();
