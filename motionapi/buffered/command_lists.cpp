// QAX_CT_ exports: control of the four command lists and their nodes.
#include "command_lists.h"

#include "../core/axis_state.h"
#include "../core/checks.h"
#include "../core/comm_calls.h"
#include "../core/connection.h"
#include "../core/log_line.h"
#include "../core/mc_constants.h"
#include "../core/node_checks.h"
#include "motionapi.h"

namespace {

using namespace ct;

constexpr std::uint32_t kCmdStart = 0x60000001;
constexpr std::uint32_t kCmdStop = 0x60010001;
constexpr std::uint32_t kCmdStopAlt = 0x60090001;
constexpr std::uint32_t kCmdPause = 0x60020001;
constexpr std::uint32_t kCmdResume = 0x60030001;
constexpr std::uint32_t kCmdReset = 0x60050001;
constexpr std::uint32_t kCmdStatus = 0x60060001;
constexpr std::uint32_t kCmdCheckBuffer = 0x602b0001;
constexpr std::uint32_t kCmdSetBufferNode = 0x60140001;

constexpr std::uint32_t kFunStart = 0x1005008d;
constexpr std::uint32_t kFunPause = 0x1005008e;
constexpr std::uint32_t kFunResume = 0x1005008f;
constexpr std::uint32_t kFunStop = 0x10050090;
constexpr std::uint32_t kFunReset = 0x10050091;
constexpr std::uint32_t kFunGetStatus = 0x10050092;
constexpr std::uint32_t kFunBuffer = 0x100500a4;  // CheckBuffer and SetBufferNode
constexpr std::uint32_t kFunStatusRegister = 0x10020012;
constexpr std::uint32_t kFunNodeSend = 0x10020016;

constexpr std::uint32_t kRegListStatusBase = 205;  // register 205 + ct
constexpr std::uint32_t kStatusWord = 5;           // reply word of the status command
constexpr int kItemState = 1;
constexpr int kItemRegister = 2;
constexpr int kStopDecelerate = 0;
constexpr int kStopAlternate = 1;

constexpr char kMsgListNumber[] = "CMD=0x%x, FUN=0x%x, CTNo Parameter error";
constexpr char kMsgStarted[] = "CMD=0x%x, FUN=0x%x, CT is Started";
constexpr char kMsgNotRunning[] = "CMD=0x%x, FUN=0x%x, CT is not Runed";
constexpr char kMsgBufferFull[] = "CMD=0x%x, FUN=0x%x, CT Buffer Full";
constexpr char kMsgSendError[] = "FUN=0x%x, WDF CTCmd return error";

bool IsList(int list) { return list >= 0 && list < kListCount; }

std::atomic<std::uint32_t> &Started(int list) { return g_CtStarted[static_cast<std::size_t>(list)]; }

int ListNumberError(std::uint32_t command, std::uint32_t fun) {
    McLogError(mc::kCodeInputParameter, kMsgListNumber, command, fun);
    return mc::kErrParameter;
}

// The list's synchronous command: {command, 0, 0, card word, ct}.
int SendListCommand(std::uint32_t command, std::uint32_t fun, int list, McImmCmdBlock &block) {
    McCommandBuilder(block, command, static_cast<std::uint32_t>(list));
    return McSendSyncImmCmd(block, fun);
}

int SendListCommand(std::uint32_t command, std::uint32_t fun, int list) {
    McImmCmdBlock block;
    return SendListCommand(command, fun, list, block);
}

void ReleaseList(int list) {
    McReleaseChannelAxes(static_cast<int>(kOwnerBase) + list);
    Started(list).store(0, std::memory_order_relaxed);
}

// Pause and resume: only while the host holds the list as started.
int RunningListCommand(int list, std::uint32_t command, std::uint32_t fun) {
    if (int r = McCheckWritePermission(command); r != mc::kOk) return r;
    if (!IsList(list)) return ListNumberError(command, fun);
    if (Started(list).load(std::memory_order_relaxed) != 1) {
        McLogCheck(mc::kCodeChannelState, kMsgNotRunning, command, fun);
        return mc::kErrConflict;
    }
    return SendListCommand(command, fun, list);
}

}  // namespace

int McSendCtNode(int ct, const McImmCmdBlock &block, const McCtNodeEffects &effects) {
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            std::uint8_t reply[mc::kCmdBufferSize] = {};
            std::uint32_t returned = 0;
            code = McComm().ChannelCmd(ct + static_cast<int>(kLinkOffset), block.request, block.requestLength, reply,
                                       mc::kCmdBufferSize, &returned);
        }
    }
    if (code != 0) {
        McLogError(mc::kCodeTransport, kMsgSendError, kFunNodeSend);
        // The node never reached the board: its lines will not clear them.
        McClearCtLineBits(effects.lineBits);
        return mc::kErrTransport;
    }
    // The board has the node: an end node ends the list on the host side,
    // a compare stop clears the axis's compare type.
    if (effects.endsList) ReleaseList(ct);
    if (effects.compareResetIndex < mc::kMaxAxes) {
        g_AxisRecords[effects.compareResetIndex].linkState.store(0, std::memory_order_relaxed);
    }
    return mc::kOk;
}

extern "C" {

MOTIONAPI_API int QAX_CALL QAX_CT_Start(int ct) {
    if (int r = McCheckWritePermission(kCmdStart); r != mc::kOk) return r;
    if (!IsList(ct)) return ListNumberError(kCmdStart, kFunStart);
    if (Started(ct).load(std::memory_order_relaxed) == 1) {
        McLogCheck(mc::kCodeChannelState, kMsgStarted, kCmdStart, kFunStart);
        return mc::kErrConflict;
    }
    if (int r = SendListCommand(kCmdStart, kFunStart, ct); r != mc::kOk) return r;
    Started(ct).store(1, std::memory_order_relaxed);
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_CT_Stop(int ct, int mode) {
    const std::uint32_t command = mode == kStopAlternate ? kCmdStopAlt : kCmdStop;
    if (int r = McCheckWritePermission(command); r != mc::kOk) return r;
    if (!IsList(ct) || (mode != kStopDecelerate && mode != kStopAlternate)) return McRefuseInput(command, kFunStop);
    if (int r = SendListCommand(command, kFunStop, ct); r != mc::kOk) return r;
    ReleaseList(ct);
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_CT_Pause(int ct) { return RunningListCommand(ct, kCmdPause, kFunPause); }

MOTIONAPI_API int QAX_CALL QAX_CT_Resume(int ct) { return RunningListCommand(ct, kCmdResume, kFunResume); }

MOTIONAPI_API int QAX_CALL QAX_CT_Reset(int ct) {
    if (int r = McCheckWritePermission(kCmdReset); r != mc::kOk) return r;
    if (!IsList(ct)) return ListNumberError(kCmdReset, kFunReset);
    // The link channel's reset waits for the channel to go idle; whether it
    // did, the board's own reset follows.
    McComm().Reset(static_cast<std::uint8_t>(ct + static_cast<int>(kLinkOffset)));
    if (int r = SendListCommand(kCmdReset, kFunReset, ct); r != mc::kOk) return r;
    McImmCmdBlock block;
    if (int r = SendListCommand(kCmdStatus, kFunReset, ct, block); r != mc::kOk) return r;
    Started(ct).store(McReplyWord(block, kStatusWord), std::memory_order_relaxed);
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_CT_GetStatus(int ct, int item, uint32_t *value) {
    if (int r = McCheckWritePermission(kCmdStatus); r != mc::kOk) return r;
    if (!IsList(ct) || (item != kItemState && item != kItemRegister) || value == nullptr) {
        return McRefuseInput(kCmdStatus, kFunGetStatus);
    }
    if (item == kItemState) {
        if (Started(ct).load(std::memory_order_relaxed) == 1) {
            *value = 1;
            return mc::kOk;
        }
        McPauseWhileChannelActive();
        McImmCmdBlock block;
        if (int r = SendListCommand(kCmdStatus, kFunGetStatus, ct, block); r != mc::kOk) return r;
        *value = McReplyWord(block, kStatusWord);
        return mc::kOk;
    }
    std::uint32_t word = 0;
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) code = McComm().ReadRegister32(kRegListStatusBase + static_cast<std::uint32_t>(ct), &word);
    }
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegister, kFunStatusRegister, code);
        return mc::kErrBoard;
    }
    *value = word;
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_CT_CheckBuffer(int ct) {
    if (!IsList(ct)) return ListNumberError(kCmdCheckBuffer, kFunBuffer);
    return McIsFifoFull(static_cast<std::uint32_t>(ct) + kFifoOffset);
}

MOTIONAPI_API int QAX_CALL QAX_CT_SetBufferNode(int ct, int nodeType, const void *node, int nodeSize) {
    if (int r = McCheckWritePermission(kCmdSetBufferNode); r != mc::kOk) return r;
    if (!IsList(ct)) return ListNumberError(kCmdSetBufferNode, kFunBuffer);
    // A level that cannot be read does not stop the node.
    if (McIsFifoFull(static_cast<std::uint32_t>(ct) + kFifoOffset) == 1) {
        McLogError(mc::kCodeCtBufferFull, kMsgBufferFull, kCmdSetBufferNode, kFunBuffer);
        return mc::kErrConflict;
    }
    McImmCmdBlock block;
    McCtNodeEffects effects;
    if (int r = McEncodeCtNode(ct, nodeType, node, nodeSize, block, &effects); r != mc::kOk) return r;
    return McSendCtNode(ct, block, effects);
}

MOTIONAPI_API int QAX_CALL QAX_CT_Lock(int ct) {
    (void)ct;
    return mc::kOk;
}

}  // extern "C"
