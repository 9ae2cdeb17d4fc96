// The file job's step on the poll thread: open the transfer, enter the
// board directory, move one block per pass, close. Failures end the job
// (state 0) with a log line; the progress stays where it was.
#include "file_jobs.h"

#include <cstdint>

#include "../core/comm_calls.h"
#include "../core/log_line.h"
#include "../core/mc_constants.h"

McFileJob g_FileJob{};

namespace {

// Results of the communication layer's transfer calls.
constexpr int kTransferDone = 0;
constexpr int kTransferAgain = 1;
constexpr int kTransferRegisterError = 2;
constexpr int kTransferOtherPacket = 3;
constexpr int kTransferStatusError = 4;
constexpr int kTransferTimeout = 5;
constexpr int kTransferFileError = 6;
constexpr int kTransferNoLocalFile = 20;

constexpr std::int32_t kProgressDone = 100;

// The message of a failed transfer step, and the job's result when it was
// the first step. In the further steps the messages of 20 and 3 trade
// places and no step prints its code.
struct StepFailure {
    int code;
    const char *firstMessage;  // with " = %d" when firstWithCode
    bool firstWithCode;
    int firstResult;
    const char *furtherMessage;
};

constexpr StepFailure kStepFailures[] = {
    {kTransferRegisterError, mc::kMsgFileRegisterError, false, mc::kErrTransport, mc::kMsgFileRegisterError},
    {kTransferNoLocalFile, mc::kMsgSaveFileMissing, false, mc::kErrFileSaveMissing, mc::kMsgOtherPk},
    {kTransferOtherPacket, mc::kMsgOtherPkCode, true, mc::kErrFileOther, mc::kMsgSaveFileMissing},
    {kTransferStatusError, mc::kMsgStatusRegisterError, false, mc::kErrFileStatus, mc::kMsgStatusRegisterError},
    {kTransferTimeout, mc::kMsgCommunicationTimeout, false, mc::kErrFileTimeout, mc::kMsgCommunicationTimeout},
    {kTransferFileError, mc::kMsgFileError, false, mc::kErrFileAccess, mc::kMsgFileError},
};
constexpr StepFailure kOtherFailure{0, mc::kMsgOtherPkCode, true, mc::kErrFileOther, mc::kMsgOtherPk};

const StepFailure &FailureOf(int code) {
    for (const StepFailure &f : kStepFailures) {
        if (f.code == code) {
            return f;
        }
    }
    return kOtherFailure;
}

void LogStep(const McFileJob &job, const char *message) {
    McLogCheck(mc::kCodeCommError, message, job.command, mc::kFunFileStep);
}

void LogStepCode(const McFileJob &job, const char *message, int code) {
    McLogCheck(mc::kCodeCommError, message, job.command, mc::kFunFileStep, code);
}

void Close(const McFileJob &job) {
    if (McComm().FtpClose() != 0) {
        LogStep(job, mc::kMsgCloseFileError);
    }
}

void Advance(McFileJob &job, McFileJobState next) { job.state.store(next, std::memory_order_release); }

// Ends the job with a failure; `result` 0 keeps the job's result.
int Fail(McFileJob &job, int result) {
    if (result != 0) {
        job.result.store(result, std::memory_order_release);
    }
    Advance(job, kFileJobIdle);
    return -1;
}

int TransferStep(McFileJob &job, std::uint32_t *done, std::uint32_t *total) {
    return job.direction == kFileJobDownload ? McComm().FtpSend(job.localPath, job.remoteName, done, total)
                                             : McComm().FtpRecv(job.remoteName, job.localPath, done, total);
}

int Open(McFileJob &job) {
    if (McComm().FtpOpen() != 0) {
        LogStep(job, mc::kMsgOpenFileTimeout);
        return Fail(job, mc::kErrTimeout);
    }
    Advance(job, kFileJobDirectory);
    return 0;
}

int EnterDirectory(McFileJob &job) {
    if (McComm().FtpCd(mc::kFileJobDirectory) != 0) {
        LogStep(job, mc::kMsgEnterDirectoryTimeout);
        Close(job);
        return Fail(job, mc::kErrBoard);
    }
    Advance(job, kFileJobFirstStep);
    return 0;
}

int FirstStep(McFileJob &job) {
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    const int r = TransferStep(job, &done, &total);
    if (r == kTransferDone || r == kTransferAgain) {
        job.progress.store(r == kTransferDone ? kProgressDone : 0, std::memory_order_release);
        Advance(job, r == kTransferDone ? kFileJobClosing : kFileJobFurtherSteps);
        return 0;
    }
    const StepFailure &f = FailureOf(r);
    if (f.firstWithCode) {
        LogStepCode(job, f.firstMessage, r);
    } else {
        LogStep(job, f.firstMessage);
    }
    Close(job);
    return Fail(job, f.firstResult);
}

// The later steps leave the job's result as it is when they fail.
int FurtherStep(McFileJob &job) {
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    const int r = TransferStep(job, &done, &total);
    if (r == kTransferDone) {
        job.progress.store(kProgressDone, std::memory_order_release);
        Advance(job, kFileJobClosing);
        return 0;
    }
    if (r != kTransferAgain) {
        LogStep(job, FailureOf(r).furtherMessage);
        Close(job);
        return Fail(job, 0);
    }
    if (total == 0) {
        LogStep(job, mc::kMsgFileLengthZero);
        Close(job);
        return Fail(job, 0);
    }
    // In 64 bits and multiplied first: no wrap for large files, and a
    // progress that moves before the last block.
    const auto percent = static_cast<std::int32_t>(std::uint64_t{done} * 100u / total);
    job.progress.store(percent, std::memory_order_release);
    if (percent == kProgressDone) {
        Advance(job, kFileJobClosing);
    }
    return 0;
}

int Finish(McFileJob &job) {
    const bool closed = McComm().FtpClose() == 0;
    if (!closed) {
        LogStep(job, mc::kMsgCloseFileError);
    }
    Advance(job, kFileJobIdle);
    return closed ? 0 : -1;
}

}  // namespace

void McClearFileJob() {
    McFileJob &job = g_FileJob;
    std::int32_t s = job.state.load(std::memory_order_acquire);
    while (s == kFileJobIdle || s == kFileJobQueued) {
        if (job.state.compare_exchange_weak(s, kFileJobIdle, std::memory_order_acq_rel)) {
            job.progress.store(0, std::memory_order_relaxed);
            job.result.store(0, std::memory_order_relaxed);
            return;
        }
    }
    // A step may be running on the poll thread right now: only that thread
    // ends the job, so the record is never reused under a running step.
    if (s != kFileJobClaimed) {
        job.cancel.store(true, std::memory_order_release);
    }
}

int McFileTransferStep() {
    McFileJob &job = g_FileJob;
    std::int32_t s = job.state.load(std::memory_order_acquire);
    if (s == kFileJobQueued) {
        // A start-up's clear may take the queued job back first.
        if (!job.state.compare_exchange_strong(s, kFileJobOpening, std::memory_order_acq_rel)) {
            return 0;
        }
        s = kFileJobOpening;
    }
    if (s < kFileJobOpening || s > kFileJobClosing) {
        return 0;  // idle, or being filled
    }
    if (job.cancel.exchange(false, std::memory_order_acq_rel)) {
        McComm().FtpClose();
        job.progress.store(0, std::memory_order_relaxed);
        job.result.store(0, std::memory_order_relaxed);
        Advance(job, kFileJobIdle);
        return 0;
    }
    switch (s) {
    case kFileJobOpening: return Open(job);
    case kFileJobDirectory: return EnterDirectory(job);
    case kFileJobFirstStep: return FirstStep(job);
    case kFileJobFurtherSteps: return FurtherStep(job);
    default: return Finish(job);
    }
}
