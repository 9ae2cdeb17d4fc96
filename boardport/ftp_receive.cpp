// Receiving a board file into a host file, one step per call: the begin
// packet, then one block per call into "<path>_tmp", then the end packet,
// whose check value decides whether the temporary file replaces "<path>".
#include <cstdio>
#include <cstring>
#include <limits>

#include "boardport.h"
#include "ftp_file.h"
#include "ftp_state.h"

namespace boardport {
namespace {

void report(std::uint32_t *out, std::uint64_t value) {
    if (out != nullptr) {
        *out = static_cast<std::uint32_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
    }
}

// Formats both paths; false when either does not fit its field.
bool format_paths(const char *localPath, char (&tempPath)[kFtpLocalPathBytes],
                  char (&finalPath)[kFtpLocalPathBytes]) {
    if (localPath == nullptr) {
        return false;
    }
    const int temp = std::snprintf(tempPath, sizeof tempPath, kFtpTempPathFormat, localPath);
    const int final = std::snprintf(finalPath, sizeof finalPath, kFtpFinalPathFormat, localPath);
    return temp >= 0 && static_cast<std::size_t>(temp) < sizeof tempPath && final >= 0 &&
           static_cast<std::size_t>(final) < sizeof finalPath;
}

// Posts a short packet (13 or 15) or the begin packet and reads `words`
// words of the reply into `reply`.
template <typename Packet>
int exchange(const Packet &packet, MailboxWords &reply, int words) {
    const int result = post_and_wait(packet);
    if (result != kMbOk) {
        return result;
    }
    return read_mailbox(transfer_mailbox(), reply, words) == 0 ? kMbOk : kMbMailboxFailed;
}

int begin_receive(const char *name, std::uint32_t *received, std::uint32_t *total) {
    FtpReceiveState &state = g_FtpReceive;
    state.started = true;
    report(received, 0);
    report(total, 0);
    auto packet = framed<FtpNamedPacket>(kFtpBeginReceive);
    packet.nameLength = path_length(name);
    packet.name = make_path(name);
    MailboxWords reply{};
    const int result = exchange(packet, reply, kFtpShortReplyWords);
    if (result != kMbOk) {
        return result;
    }
    state.expectedSize = reply[kFtpShortReplyValueWord];
    report(total, state.expectedSize);
    return kMbStepAgain;
}

int end_and_check() {
    FtpReceiveState &state = g_FtpReceive;
    close_temp_file();
    MailboxWords reply{};
    const int result = exchange(framed<FtpShortPacket>(kFtpEndReceive), reply, kFtpShortReplyWords);
    if (result != kMbOk) {
        return result;
    }
    std::uint32_t check = 0;
    const int checked = host_file_check(state.tempPath, &check);
    if (checked != kMbOk) {
        return checked;
    }
    if (check != reply[kFtpShortReplyValueWord]) {
        return kMbCheckDiffers;
    }
    std::remove(state.finalPath);
    (void)std::rename(state.tempPath, state.finalPath);
    return kMbOk;
}

int receive_block(std::uint32_t *received, std::uint32_t *total) {
    FtpReceiveState &state = g_FtpReceive;
    report(total, state.expectedSize);
    MailboxWords reply{};
    const int result = exchange(framed<FtpShortPacket>(kFtpNextBlock), reply, kFtpBlockReplyWords);
    if (result != kMbOk) {
        return result;
    }
    FtpBlockPacket block{};
    std::memcpy(&block, reply.data(), sizeof block);
    if (block.byteCount > kFtpBlockBytes) {
        return kMbBlockTooLarge;
    }
    if (state.tempFile == nullptr) {
        return kMbLocalFileFailed;
    }
    if (std::fwrite(block.data, 1, block.byteCount, state.tempFile) != block.byteCount ||
        std::fflush(state.tempFile) != 0) {
        return kMbLocalFileEmpty;
    }
    state.bytesReceived += block.byteCount;
    report(received, state.bytesReceived);
    if (state.bytesReceived < state.expectedSize) {
        return kMbStepAgain;
    }
    return end_and_check();
}

// One step; every result but "call again" ends the receive.
int receive_step(const char *name, std::uint32_t *received, std::uint32_t *total) {
    const int result = g_FtpReceive.started ? receive_block(received, total) : begin_receive(name, received, total);
    if (result != kMbStepAgain) {
        end_receive();
    }
    return result;
}

}  // namespace
}  // namespace boardport

using namespace boardport;

int QAX_CALL CAM_FtpRecv(const char *name, const char *localPath, uint32_t *received, uint32_t *total) {
    FtpReceiveState &state = g_FtpReceive;
    char tempPath[kFtpLocalPathBytes];
    char finalPath[kFtpLocalPathBytes];
    if (!format_paths(localPath, tempPath, finalPath)) {
        return kMbLocalFileFailed;
    }
    std::memcpy(state.tempPath, tempPath, sizeof tempPath);
    std::memcpy(state.finalPath, finalPath, sizeof finalPath);
    if (state.tempFile == nullptr) {
        std::remove(state.tempPath);
        state.tempFile = std::fopen(state.tempPath, "a+b");
        if (state.tempFile == nullptr) {
            return kMbLocalFileFailed;
        }
    }
    const int result = receive_step(name, received, total);
    if (result == kMbStepAgain) {
        return kMbAgain;
    }
    close_temp_file();
    return result;
}
