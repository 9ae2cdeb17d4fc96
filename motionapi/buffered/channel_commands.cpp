#include "channel_control.h"

#include <cstdint>

#include "../core/checks.h"
#include "../core/comm_calls.h"
#include "../core/connection.h"
#include "../core/log_line.h"
#include "../core/transport.h"
#include "channel.h"

namespace {

using namespace mc::channel_control;

constexpr std::uint32_t kWordStopReset = 0x50030001;

constexpr std::uint32_t kFunStopReset = 0x10050049;
constexpr std::uint32_t kFunPause = 0x10050046;
constexpr std::uint32_t kFunResume = 0x10050047;
constexpr std::uint32_t kFunReset = 0x1005004a;

constexpr char kMsgMckErrorNoCode[] = "CMD=0x%x, FUN=0x%x, MCK return error";
constexpr char kMsgSyncErrorNoCode[] = "CMD=0x%x, FUN=0x%x, WDF SyncImmCmd return error";

// Reply word 5 of the status command while the channel runs.
constexpr std::uint32_t kBoardChannelRunning = 1;
constexpr std::uint32_t kReplyResultWord = 4;
constexpr std::uint32_t kReplyStatusWord = 5;

// The channel test and the model test every worker runs first.
int CheckChannelAndModel(int ch, std::uint32_t command, std::uint32_t fun) {
    auto number = static_cast<std::uint32_t>(ch);  // negative numbers are out of range too
    if (number >= mc::kChannelCount) {
        return McRefuseInput(command, fun);
    }
    if (number != 0 && McIsModel7412()) {
        return McRefuseNoSupport(command, mc::kLimitChannelZeroOnly);
    }
    return mc::kOk;
}

// One synchronous exchange of {command, 0, 0, card word, ch}: the transport
// code (-6 when the command mutex was not obtained), 0 with the reply in
// block. The board's result is the caller's to judge: for the stop, pause
// and resume commands it is a channel sequence number.
int Exchange(McImmCmdBlock &block, std::uint32_t command, int ch) {
    McCommandBuilder(block, command, static_cast<std::uint32_t>(ch));
    int code = mc::kMutexFailedCode;
    McCmdLock lock;
    if (lock.owned()) {
        std::uint32_t returned = 0;
        code = McComm().SyncImmediateCmd(block.request, block.requestLength, block.reply, mc::kCmdBufferSize,
                                         &returned);
    }
    return code;
}

// The exchange with the common transport line: 0 and *result = the
// board's result, or -7.
int Send(std::uint32_t command, std::uint32_t fun, int ch, std::int32_t *result) {
    McImmCmdBlock block;
    int code = Exchange(block, command, ch);
    if (code != 0) {
        McLogError(mc::kCodeTransport, mc::kMsgSyncError, command, fun, code);
        return mc::kErrTransport;
    }
    *result = static_cast<std::int32_t>(McReplyWord(block, kReplyResultWord));
    return mc::kOk;
}

int BoardError(std::uint32_t command, std::uint32_t fun, std::int32_t result) {
    McLogError(result, mc::kMsgMckError, command, fun, result);
    return mc::kErrBoard;
}

// Stop, pause and resume: the board's result r is the sequence number it
// has reached; decide(r) writes the command word for r >= 0.
template <typename Decide>
int SequenceCommand(int ch, std::uint32_t command, std::uint32_t fun, Decide decide) {
    if (int r = CheckChannelAndModel(ch, command, fun); r != mc::kOk) {
        return r;
    }
    std::int32_t reached = 0;
    if (int r = Send(command, fun, ch, &reached); r != mc::kOk) {
        return r;
    }
    if (reached < 0) {
        return BoardError(command, fun, reached);
    }
    decide(g_Channels[ch], reached);
    return mc::kOk;
}

}  // namespace

int McChStopCmd(int ch) {
    return SequenceCommand(ch, kWordStop, kFunStop, [](McChannel &c, std::int32_t reached) {
        // The board has run every marked node already: nothing to wait for.
        bool marksDone = c.lastMarkedSeq.load(std::memory_order_relaxed) >= reached;
        c.command.store(marksDone ? kCmdStopNow : kCmdStopAtBoundary, std::memory_order_relaxed);
    });
}

int McChStopAltCmd(int ch) {
    if (int r = CheckChannelAndModel(ch, kWordStopReset, kFunStopReset); r != mc::kOk) {
        return r;
    }
    g_Channels[ch].command.store(kCmdStopReset, std::memory_order_relaxed);
    std::int32_t result = 0;
    if (int r = Send(kWordStopReset, kFunStopReset, ch, &result); r != mc::kOk) {
        return r;
    }
    return result == 0 ? mc::kOk : BoardError(kWordStopReset, kFunStopReset, result);
}

int McChPauseCmd(int ch) {
    return SequenceCommand(ch, kWordPause, kFunPause, [](McChannel &c, std::int32_t reached) {
        if (c.lastMarkedSeq.load(std::memory_order_relaxed) < reached) {
            c.command.store(kCmdPause, std::memory_order_relaxed);
        }
    });
}

int McChResumeCmd(int ch) {
    return SequenceCommand(ch, kWordResume, kFunResume, [](McChannel &c, std::int32_t reached) {
        if (c.lastMarkedSeq.load(std::memory_order_relaxed) < reached ||
            c.workStatus.load(std::memory_order_relaxed) == kWorkPaused) {
            c.command.store(kCmdRun, std::memory_order_relaxed);
        }
    });
}

int McChResetCmd(int ch) {
    if (int r = CheckChannelAndModel(ch, kWordReset, kFunReset); r != mc::kOk) {
        return r;
    }
    McChannel &c = g_Channels[ch];
    // A reset that cannot empty the ring would let the old records run.
    if (McChannelClearQueue(static_cast<std::uint32_t>(ch)) == kChannelRingBusy) {
        McLogError(mc::kCodeTimeout, kMsgWaitTimeout, kWordReset, kFunReset);
        return mc::kErrTimeout;
    }
    c.resetFlag.store(1, std::memory_order_relaxed);
    std::int32_t ignored = 0;
    return Send(kWordReset, kFunReset, ch, &ignored);
}

int McChGetStatusCmd(int ch) {
    if (int r = CheckChannelAndModel(ch, kWordStatus, kFunStatus); r != mc::kOk) {
        return r;
    }
    if (g_Channels[ch].acceptingNodes.load(std::memory_order_relaxed) == 1) {
        return kChannelRunning;
    }
    McPauseWhileChannelActive();
    McImmCmdBlock block;
    int code = Exchange(block, kWordStatus, ch);
    if (code != 0) {
        McLogError(mc::kCodeTransport, kMsgSyncErrorNoCode, kWordStatus, kFunStatus);
        return mc::kErrTransport;
    }
    auto result = static_cast<std::int32_t>(McReplyWord(block, kReplyResultWord));
    if (result != 0) {
        McLogError(result, kMsgMckErrorNoCode, kWordStatus, kFunStatus);
        return mc::kErrBoard;
    }
    // Only the board's running state counts as running; any other word,
    // whatever its value, reads as not running.
    return McReplyWord(block, kReplyStatusWord) == kBoardChannelRunning ? kChannelRunning : 0;
}
