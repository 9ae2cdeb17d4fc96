// QAX_DownloadFile, QAX_UploadFile and QAX_GetFileLoadProcess: queue the
// one file job for the poll thread and read its progress.
#include <cstdint>
#include <cstring>

#include "../core/checks.h"
#include "../core/log_line.h"
#include "../core/mc_constants.h"
#include "file_jobs.h"
#include "motionapi.h"
#include "platform/platform.h"

namespace {

struct JobRequest {
    std::uint32_t command;
    std::uint32_t fun;
    std::int32_t direction;
};

constexpr JobRequest kDownload{mc::kCmdDownloadFile, mc::kFunDownloadFile, kFileJobDownload};
constexpr JobRequest kUpload{mc::kCmdUploadFile, mc::kFunUploadFile, kFileJobUpload};

// Copies the text up to its NUL, at most size - 1 characters; the rest of
// the field stays 0.
void CopyText(char *field, std::size_t size, const char *text) {
    std::memset(field, 0, size);
    std::size_t n = 0;
    while (n + 1 < size && text[n] != '\0') {
        ++n;
    }
    std::memcpy(field, text, n);
}

int QueueFileJob(const JobRequest &request, int fileType, int option, const char *localPath, int localPathLen,
                 const char *remoteName, int remoteNameLen) {
    if (int r = McCheckWritePermission(request.command); r != mc::kOk) {
        return r;
    }
    // The lengths are only compared with their limits; the texts are read
    // up to their NUL.
    if (option < 0 || localPathLen >= static_cast<int>(kFileJobLocalPath) ||
        remoteNameLen >= static_cast<int>(kFileJobRemoteName) || fileType != mc::kFileTypeBoard ||
        localPath == nullptr || remoteName == nullptr) {
        return McRefuseInput(request.command, request.fun);
    }
    if (int r = McCheckFileTransferConflict(request.command); r != mc::kOk) {
        return r;
    }
    // The check and the claim are apart: another thread may have queued a
    // job in between. The claim itself is one step.
    McFileJob &job = g_FileJob;
    std::int32_t idle = kFileJobIdle;
    if (!job.state.compare_exchange_strong(idle, kFileJobClaimed, std::memory_order_acq_rel)) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgRunConflict, request.command, mc::kFunCheckFileTransfer);
        return mc::kErrConflict;
    }
    CopyText(job.localPath, sizeof job.localPath, localPath);
    CopyText(job.remoteName, sizeof job.remoteName, remoteName);
    job.direction = request.direction;
    job.command = request.command;
    job.progress.store(0, std::memory_order_relaxed);
    job.result.store(0, std::memory_order_relaxed);
    job.cancel.store(false, std::memory_order_relaxed);
    job.state.store(kFileJobQueued, std::memory_order_release);

    // Failures of the first steps (open, directory, first block) come back
    // here; later ones only show in the progress and the log.
    for (int round = 0; round < mc::kFileEarlyResultRounds; ++round) {
        if (int r = job.result.load(std::memory_order_acquire); r != 0) {
            return r;
        }
        platform::sleep_ms(mc::kFileEarlyResultSleepMs);
    }
    return mc::kOk;
}

}  // namespace

extern "C" {

MOTIONAPI_API int QAX_CALL QAX_DownloadFile(int fileType, int reserved, int option, const char *localPath,
                                            int localPathLen, const char *remoteName, int remoteNameLen) {
    (void)reserved;
    return QueueFileJob(kDownload, fileType, option, localPath, localPathLen, remoteName, remoteNameLen);
}

MOTIONAPI_API int QAX_CALL QAX_UploadFile(int fileType, int reserved, int option, const char *remoteName,
                                          int remoteNameLen, const char *localPath, int localPathLen) {
    (void)reserved;
    return QueueFileJob(kUpload, fileType, option, localPath, localPathLen, remoteName, remoteNameLen);
}

MOTIONAPI_API int QAX_CALL QAX_GetFileLoadProcess(int *percent) {
    if (percent == nullptr) {
        return mc::kErrParameter;
    }
    *percent = g_FileJob.progress.load(std::memory_order_acquire);
    return mc::kOk;
}

}  // extern "C"
