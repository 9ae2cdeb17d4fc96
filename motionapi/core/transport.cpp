#include "transport.h"

#include "comm_calls.h"
#include "connection.h"
#include "log_line.h"

McCommandBuilder::McCommandBuilder(McImmCmdBlock &block, std::uint32_t command) : block_(block) {
    std::memset(&block_, 0, sizeof block_);
    block_.command = command;
    block_.cardWord = g_CardWord;
    block_.replyCapacity = mc::kCmdBufferSize;
    U32(command).U32(0).U32(0).U32(g_CardWord);
}

McCommandBuilder::McCommandBuilder(McImmCmdBlock &block, std::uint32_t command, std::uint32_t target)
    : McCommandBuilder(block, command) {
    U32(target);
}

McCommandBuilder McCommandBuilder::Untargeted(McImmCmdBlock &block, std::uint32_t command) {
    return McCommandBuilder(block, command);
}

void McCommandBuilder::Put(const void *data, std::uint32_t size) {
    if (block_.requestLength > mc::kCmdBufferSize || size > mc::kCmdBufferSize - block_.requestLength) {
        return;
    }
    std::memcpy(block_.request + block_.requestLength, data, size);
    block_.requestLength += size;
}

McCommandBuilder &McCommandBuilder::U32(std::uint32_t value) {
    Put(&value, sizeof value);
    return *this;
}

McCommandBuilder &McCommandBuilder::I64(std::int64_t value) {
    Put(&value, sizeof value);
    return *this;
}

McCommandBuilder &McCommandBuilder::F64(double value) {
    Put(&value, sizeof value);
    return *this;
}

namespace {

template <typename T>
T ReplyValue(const McImmCmdBlock &block, std::uint32_t k) {
    T value{};
    if (k < mc::kCmdBufferSize / 4 && (mc::kCmdBufferSize - k * 4) >= sizeof(T)) {
        std::memcpy(&value, block.reply + k * 4, sizeof(T));
    }
    return value;
}

// printed: the command word of the log lines; 0 prints the request's word 0.
int SyncExchange(McImmCmdBlock &block, std::uint32_t fun, const char *transportMessage, std::uint32_t printed = 0) {
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            std::uint32_t returned = 0;
            code = McComm().SyncImmediateCmd(block.request, block.requestLength, block.reply,
                                             mc::kCmdBufferSize, &returned);
        }
    }
    std::uint32_t word0 = 0;
    std::memcpy(&word0, block.request, sizeof word0);
    if (printed != 0) {
        word0 = printed;
    }
    if (code != 0) {
        McLogError(mc::kCodeTransport, transportMessage, word0, fun, code);
        return mc::kErrTransport;
    }
    auto boardResult = static_cast<std::int32_t>(McReplyWord(block, 4));
    if (boardResult != 0) {
        McLogError(boardResult, mc::kMsgMckError, word0, fun, boardResult);
        return mc::kErrBoard;
    }
    return mc::kOk;
}

}  // namespace

std::uint32_t McReplyWord(const McImmCmdBlock &block, std::uint32_t k) { return ReplyValue<std::uint32_t>(block, k); }

double McReplyF64(const McImmCmdBlock &block, std::uint32_t k) { return ReplyValue<double>(block, k); }

std::int64_t McReplyI64(const McImmCmdBlock &block, std::uint32_t k) { return ReplyValue<std::int64_t>(block, k); }

int McSendSyncImmCmd(McImmCmdBlock &block, std::uint32_t fun) { return SyncExchange(block, fun, mc::kMsgSyncError); }

int McSendSyncImmCmd(McImmCmdBlock &block, std::uint32_t fun, const char *transportMessage) {
    return SyncExchange(block, fun, transportMessage);
}

int McSendSyncImmCmdAs(McImmCmdBlock &block, std::uint32_t fun, std::uint32_t printedCommand) {
    return SyncExchange(block, fun, mc::kMsgSyncError, printedCommand);
}

int McIsFifoFull(std::uint32_t queue) {
    std::uint32_t reg = queue == mc::kAsynQueue ? mc::kRegAsynQueueLevel : mc::kRegQueueLevelBase + 2 * queue;
    std::uint32_t value = 0;
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            code = McComm().ReadRegister32(reg, &value);
        }
    }
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadQueueLevel, mc::kFunQueueLevel, code);
        return -1;
    }
    auto free = static_cast<std::int32_t>(mc::kQueueEntries) - static_cast<std::int32_t>(value >> 16);
    return free < mc::kQueueMinFree ? 1 : 0;
}

int McSendAsynImmCmd(McImmCmdBlock &block) {
    if (McIsFifoFull(mc::kAsynQueue) == 1) {
        McLogError(mc::kCodeTransport, mc::kMsgAsynFull, mc::kFunAsynTransport);
        return mc::kErrConflict;
    }
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            std::uint32_t returned = 0;
            code = McComm().ChannelCmd(static_cast<int>(mc::kAsynLinkChannel), block.request, block.requestLength,
                                       block.reply, mc::kCmdBufferSize, &returned);
        }
    }
    if (code == 0) {
        return mc::kOk;
    }
    McLogError(mc::kCodeTransport, mc::kMsgAsynError, mc::kFunAsynTransport, code);
    return mc::kErrTransport;
}

int McLogWorkerAsynFailure(std::uint32_t command, std::uint32_t fun, int code) {
    McLogError(mc::kCodeTransport, mc::kMsgWorkerAsynError, command, fun, code);
    return code;
}

int McQueryAxisCmdSeq(std::uint32_t index, std::uint32_t *seq) {
    McImmCmdBlock block;
    McCommandBuilder(block, mc::kCmdAxisCmdSeq, index);
    int r = McSendSyncImmCmd(block, mc::kFunCmdSeqQuery, mc::kMsgSyncError1);
    if (r == mc::kOk && seq != nullptr) {
        *seq = McReplyWord(block, 5);
    }
    return r;
}

void McSendSysCmd802D() {
    McImmCmdBlock block;
    McCommandBuilder::Untargeted(block, mc::kCmdBoardRefresh);
    block.requestLength = 8;  // words 0 and 1 only
    McCmdLock lock;
    if (lock.owned()) {
        std::uint32_t returned = 0;
        McComm().SyncImmediateCmd(block.request, block.requestLength, block.reply, 0, &returned);
    }
}

std::uint32_t McReadBoardTick() {
    McImmCmdBlock block;
    McCommandBuilder::Untargeted(block, mc::kCmdBoardTick);
    block.requestLength = 8;  // words 0 and 1 only
    McCmdLock lock;
    if (!lock.owned()) {
        return 0;
    }
    std::uint32_t returned = 0;
    McComm().SyncImmediateCmd(block.request, block.requestLength, block.reply, mc::kCmdBufferSize, &returned);
    return McReplyWord(block, 5);
}
