// Sending a host file to the board, one step per call: the begin packet,
// then one data block per call, the last one followed by the finish packet.
#include <algorithm>
#include <cstring>

#include "boardport.h"
#include "ftp_file.h"
#include "ftp_state.h"
#include "platform/platform.h"

namespace boardport {
namespace {

void report(std::uint32_t *out, std::uint32_t value) {
    if (out != nullptr) {
        *out = value;
    }
}

// The finish (17) or abort (8) packet: the host file's current length, the
// name and the file's check value. 0, or the code of the length or check.
int build_finish(std::uint32_t command, const char *localPath, const char *name, FtpFinishPacket &packet) {
    packet = framed<FtpFinishPacket>(command);
    packet.nameLength = path_length(name);
    packet.name = make_path(name);
    const int measured = host_file_length(localPath, &packet.fileSize);
    if (measured != kMbOk) {
        return measured;
    }
    std::uint32_t check = 0;
    const int checked = host_file_check(localPath, &check);
    packet.checkValue = check;
    return checked;
}

// Tells the board the send is off; posted only when the file could be
// measured and checked. Its result is not used.
void abort_send(const char *localPath, const char *name) {
    FtpFinishPacket packet{};
    if (build_finish(kFtpAbortSend, localPath, name, packet) == kMbOk) {
        (void)post_and_wait(packet);
    }
}

int begin_send(const char *localPath, const char *name, std::uint64_t stamp, std::uint32_t *sent,
               std::uint32_t *total) {
    g_FtpSend.started = true;
    std::uint32_t size = 0;
    const int measured = host_file_length(localPath, &size);
    if (measured != kMbOk) {
        reset_send();
        return measured;
    }
    g_FtpSend.fileSize = size;
    g_FtpSend.block = framed<FtpBlockPacket>(kFtpBlockData);
    g_FtpSend.block.blockCount = static_cast<std::uint32_t>((std::uint64_t{size} + kFtpBlockBytes - 1) / kFtpBlockBytes);
    g_FtpSend.blockNumber = 0;

    auto packet = framed<FtpNamedPacket>(kFtpBeginSend);
    packet.nameLength = path_length(name);
    packet.name = make_path(name);
    const int result = post_and_wait(packet);
    if (result != kMbOk) {
        reset_send();
        return result;
    }
    add_sample(kTimingBeginAcknowledged, stamp);
    report(sent, 0);
    report(total, size);
    return kMbStepAgain;
}

int finish_send(const char *localPath, const char *name, std::uint64_t stamp) {
    FtpFinishPacket packet{};
    int result = build_finish(kFtpFinishSend, localPath, name, packet);
    if (result == kMbOk) {
        result = post_and_wait(packet);
        add_sample(kTimingSendFinished, stamp);
    }
    reset_send();
    return result;
}

// Sends the next block; the last block is followed by the finish packet.
int send_block(const char *localPath, const char *name, std::uint64_t stamp, std::uint32_t *sent,
               std::uint32_t *total) {
    FtpSendState &state = g_FtpSend;
    FtpBlockPacket &block = state.block;
    // Never more than the size announced in the begin packet, even if the file grew.
    const std::size_t want = std::min<std::size_t>(kFtpBlockBytes, state.fileSize - state.bytesSent);
    std::memset(block.data, 0, sizeof block.data);
    std::size_t got = 0;
    int result = host_file_read(localPath, state.bytesSent, std::span(block.data, want), &got);
    if (result != kMbOk) {
        abort_send(localPath, name);
        reset_send();
        return result;
    }
    state.bytesSent += static_cast<std::uint32_t>(got);
    ++state.blockNumber;
    block.blockNumber = state.blockNumber;
    block.byteCount = static_cast<std::uint32_t>(got);
    block.zero = 0;

    if (post_record(transfer_mailbox(), block) != 0) {
        result = kMbMailboxFailed;
    } else {
        add_sample(kTimingBlockPosted, stamp);
        result = wait_transfer();
        if (result == kMbOk) {
            add_sample(kTimingBlockAcknowledged, stamp);
        }
    }
    if (result != kMbOk) {
        abort_send(localPath, name);
        reset_send();
        return result;
    }
    report(sent, state.bytesSent);
    report(total, state.fileSize);
    if (state.bytesSent < state.fileSize) {
        return kMbStepAgain;
    }
    return finish_send(localPath, name, stamp);
}

}  // namespace
}  // namespace boardport

using namespace boardport;

int QAX_CALL CAM_FtpSend(const char *localPath, const char *name, uint32_t *sent, uint32_t *total) {
    const std::uint64_t stamp = platform::performance_counter();
    const int result = g_FtpSend.started ? send_block(localPath, name, stamp, sent, total)
                                         : begin_send(localPath, name, stamp, sent, total);
    return result == kMbStepAgain ? kMbAgain : result;
}
