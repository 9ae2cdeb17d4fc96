// Process-wide state of the one file transfer a process runs at a time, and
// the send timing records.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "ftp_packets.h"
#include "mailbox_constants.h"
#include "mailbox_packet.h"

namespace boardport {

struct FtpSendState {
    bool started;
    std::uint32_t fileSize;
    std::uint32_t bytesSent;
    std::uint32_t blockNumber;
    FtpBlockPacket block;  // the block packet being built
};

struct FtpReceiveState {
    bool started;
    std::uint32_t expectedSize;
    std::uint64_t bytesReceived;  // wide: a board may send more than it announced
    std::FILE *tempFile;          // the open temporary file, null when none is open
    char tempPath[kFtpLocalPathBytes];
    char finalPath[kFtpLocalPathBytes];
};

extern FtpSendState g_FtpSend;
extern FtpReceiveState g_FtpReceive;

void reset_send();
// Closes the temporary file when it is open; safe to call again.
void close_temp_file();
// Ends a receive: the temporary file is closed (and kept on disk).
void end_receive();

// One timing record: samples in microseconds. `samples` is this side's own
// addition so that the printout can show a mean.
struct TransferTimeStat {
    std::uint64_t reserved;
    std::uint64_t maximum;
    std::uint64_t minimum;
    std::uint64_t total;
    std::uint64_t frequency;
    std::uint64_t samples;
};

extern std::array<TransferTimeStat, kTimingRecords> g_TransferTimeStat;

void reset_timing();
// Adds (counter now - stamp) to `record`; skipped while its counter
// frequency is 0 (before CAM_FtpOpen).
void add_sample(std::size_t record, std::uint64_t stamp);

// The wait on the transfer doorbell; firmware results 1 and 8 become 9 so
// that no board result looks like a step's "call again".
int wait_transfer();

// Posts a transfer packet and waits: 2 when the post failed, else the wait's result.
template <typename Packet>
int post_and_wait(const Packet &packet) {
    if (post_record(transfer_mailbox(), packet) != 0) {
        return kMbMailboxFailed;
    }
    return wait_transfer();
}

}  // namespace boardport
