// The one file download or upload job: queued by QAX_DownloadFile or
// QAX_UploadFile on an application thread, advanced one step per pass by
// the poll thread.
//
// The record is shared without a lock. An application thread claims an
// idle record in one atomic step (state 0 -> 2), fills the paths, direction
// and command word, and publishes it with state 1 (release); the poll thread
// reads the state first (acquire) and only then the rest, and is the only
// writer of the states 3 to 7 and of the end (0) of a running job.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kFileJobLocalPath = 200;
inline constexpr std::size_t kFileJobRemoteName = 50;

enum McFileJobState : std::int32_t {
    kFileJobIdle = 0,
    kFileJobQueued = 1,
    kFileJobClaimed = 2,  // an application thread is filling the record
    kFileJobOpening = 3,
    kFileJobDirectory = 4,
    kFileJobFirstStep = 5,
    kFileJobFurtherSteps = 6,
    kFileJobClosing = 7,
};

inline constexpr std::int32_t kFileJobDownload = 1;
inline constexpr std::int32_t kFileJobUpload = 0;

struct McFileJob {
    std::atomic<std::int32_t> state{kFileJobIdle};
    char localPath[kFileJobLocalPath]{};
    char remoteName[kFileJobRemoteName]{};
    std::atomic<std::int32_t> progress{0};  // percent
    std::int32_t direction = 0;
    std::uint32_t command = 0;
    std::atomic<std::int32_t> result{0};
    // Set by McClearFileJob for a running job: the poll thread ends it.
    std::atomic<bool> cancel{false};
};

extern McFileJob g_FileJob;

// Start-up's clear: an idle or queued job is dropped at once, a running
// one is ended by the poll thread at its next step; progress and result go
// back to 0.
void McClearFileJob();
// One step of the job: 0, or -1 when the step ended the job with a failure.
int McFileTransferStep();
