// Opening the transfer and the single-packet file commands.
#include <cstdio>

#include "boardport.h"
#include "driver.h"
#include "ftp_state.h"

namespace boardport {
namespace {

int name_only(std::uint32_t command, const char *name) {
    if (name == nullptr) {
        return kMbTooLong;
    }
    auto packet = framed<FtpNameOnlyPacket>(command);
    packet.name = make_path(name);
    return post_and_wait(packet);
}

}  // namespace
}  // namespace boardport

using namespace boardport;

int QAX_CALL CAM_FtpOpen(void) {
    std::uint32_t status = 0;
    if (unlocked_read(kTransferStatusRegister, &status) != 0) {
        return kMbDoorbellFailed;
    }
    if (status == kTransferBusy) {
        std::printf(kTextTransferStatus, static_cast<int>(status));
        return kMbTransferBusy;
    }
    reset_timing();
    reset_send();
    // A receive left half-way keeps its temporary file on disk, but not open.
    end_receive();
    return kMbOk;
}

int QAX_CALL CAM_FtpCd(const char *name) {
    return name_only(kFtpChangeDirectory, name);
}

int QAX_CALL CAM_FtpDelete(const char *name) {
    return name_only(kFtpDelete, name);
}

int QAX_CALL CAM_FtpMkdir(const char *name) {
    if (name == nullptr) {
        return kMbTooLong;
    }
    std::printf(kTextMkdirId, static_cast<int>(kFtpMakeDirectory));
    auto packet = framed<FtpNamedPacket>(kFtpMakeDirectory);
    packet.nameLength = path_length(name);
    packet.name = make_path(name);
    return post_and_wait(packet);
}

int QAX_CALL CAM_FtpClose(void) {
    return kMbOk;
}

void QAX_CALL TEST_TransferFileTime(void) {
    for (std::size_t i = 0; i < kTimingRecordsPrinted; ++i) {
        const TransferTimeStat &record = g_TransferTimeStat[i];
        char label[16];
        std::snprintf(label, sizeof label, kTextTimingLabel, static_cast<int>(i));
        std::printf(kTextTimingTitle, label);
        std::printf(kTextTimingMax, static_cast<long long>(record.maximum));
        std::printf(kTextTimingMin, static_cast<long long>(record.minimum));
        const std::uint64_t mean = record.samples == 0 ? 0 : record.total / record.samples;
        std::printf(kTextTimingAve, static_cast<long long>(mean));
    }
}
