#include "ftp_state.h"

#include <algorithm>
#include <limits>

#include "platform/platform.h"

namespace boardport {

FtpSendState g_FtpSend{};
FtpReceiveState g_FtpReceive{};
std::array<TransferTimeStat, kTimingRecords> g_TransferTimeStat{};

void reset_send() {
    g_FtpSend = FtpSendState{};
}

void close_temp_file() {
    if (g_FtpReceive.tempFile != nullptr) {
        std::fclose(g_FtpReceive.tempFile);
        g_FtpReceive.tempFile = nullptr;
    }
}

void end_receive() {
    close_temp_file();
    g_FtpReceive = FtpReceiveState{};
}

void reset_timing() {
    const std::uint64_t frequency = platform::performance_frequency();
    for (auto &record : g_TransferTimeStat) {
        record = TransferTimeStat{};
        record.minimum = std::numeric_limits<std::uint64_t>::max();
        record.frequency = frequency;
    }
}

void add_sample(std::size_t index, std::uint64_t stamp) {
    TransferTimeStat &record = g_TransferTimeStat[index];
    const std::uint64_t frequency = record.frequency;
    if (frequency == 0) {
        return;
    }
    // Split so that the scaling by a million cannot overflow.
    const std::uint64_t ticks = platform::performance_counter() - stamp;
    const std::uint64_t micros =
        ticks / frequency * kMicrosecondsPerSecond + ticks % frequency * kMicrosecondsPerSecond / frequency;
    record.maximum = std::max(record.maximum, micros);
    record.minimum = std::min(record.minimum, micros);
    record.total += micros;
    ++record.samples;
}

int wait_transfer() {
    const int result = wait_answer(transfer_mailbox());
    return result == kBoardTransferAgainA || result == kBoardTransferAgainB ? kMbBoardAgainMasked : result;
}

}  // namespace boardport
