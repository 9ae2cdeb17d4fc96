// Compare outputs: the source of each output (kept in the shared
// compare-link table for all processes), the link of a compare device axis
// to an output, its compare table, start, stop and status. Every export
// tests write permission first, then its inputs and the axis, runs its state
// check and sends one synchronous command.
#include "compare_outputs.h"

#include <atomic>
#include <cstdint>

#include "axes_groups.h"
#include "axis_state.h"
#include "axis_types.h"
#include "board_tables.h"
#include "checks.h"
#include "comm_calls.h"
#include "log_line.h"
#include "mc_constants.h"
#include "motionapi.h"

namespace {

// Clears a sending flag on every way out of a send.
class SendingFlag {
public:
    SendingFlag(std::uint32_t index, McSendFlag flag) : record_(g_AxisRecords[index]), flag_(flag) {
        record_.SetSending(flag_, true);
    }
    ~SendingFlag() { record_.SetSending(flag_, false); }
    SendingFlag(const SendingFlag &) = delete;
    SendingFlag &operator=(const SendingFlag &) = delete;

private:
    McAxisRecord &record_;
    McSendFlag flag_;
};

bool InCompareRange(int cmp) { return cmp >= 1 && cmp <= static_cast<int>(mc::kCompareOutputs); }

// Write permission, then the axis number (range -1, map -2).
int PermitThenLookup(int axis, std::uint32_t command, std::uint32_t fun, std::uint32_t *index) {
    int r = McCheckWritePermission(command);
    if (r == 0) {
        r = McFrameAxis(axis, command, fun, mc::kMsgInputParameter, index);
    }
    return r;
}

// The source entry of compare output cmp (1..32), as a signed value: a
// group source is 32 + (group number - 1), anything negative is none.
std::int32_t SourceOf(std::uint32_t cmp) {
    return static_cast<std::int32_t>(
        std::atomic_ref<std::uint32_t>(g_CompareLinkTable.source[cmp - 1]).load(std::memory_order_relaxed));
}

void StoreSource(std::uint32_t cmp, std::uint32_t source) {
    std::atomic_ref<std::uint32_t>(g_CompareLinkTable.source[cmp - 1]).store(source, std::memory_order_relaxed);
}

// Stores the whole host table in the server; its result is not examined:
// other processes see the change at their next start-up either way.
void StoreCompareLinkTable() {
    McCompareLinkTable copy{};
    for (std::uint32_t c = 1; c <= mc::kCompareOutputs; ++c) {
        copy.source[c - 1] = static_cast<std::uint32_t>(SourceOf(c));
    }
    McComm().SetVariable(kVarCompareLinks, mc::kCompareLinkShare, mc::kCompareLinkTimeout, &copy, sizeof copy);
}

// Records a link to (or the unlink from) a group source in the host copy of
// the axes-group table, at position group number - 1. Sources from the
// shared table beyond the 16 groups name no entry and are left alone.
void RecordGroupLink(std::int32_t source, std::uint32_t index, bool linked) {
    constexpr auto kFirst = static_cast<std::int32_t>(mc::kCompareSourceGroup);
    if (source < kFirst || source >= kFirst + static_cast<std::int32_t>(mc::kMaxGroups)) {
        return;
    }
    McAxesGroupEntry &entry = g_AxesGroupTable.entries[source - kFirst];
    std::atomic_ref<std::uint16_t>(entry.compareAxisIndex)
        .store(static_cast<std::uint16_t>(index), std::memory_order_relaxed);
    std::atomic_ref<std::uint16_t>(entry.compareLinked).store(linked ? 1 : 0, std::memory_order_relaxed);
}

}  // namespace

// ---------------------------------------------------------------- workers

int McLinkCompareOutCmd(std::uint32_t compareNumber, std::uint32_t index, std::uint8_t enable) {
    if (compareNumber < 1 || compareNumber > mc::kCompareOutputs || index >= mc::kMaxAxes) {
        return McRefuseInput(mc::kCmdLinkCompare, mc::kFunLinkCompareOut);
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, mc::kCmdLinkCompare, compareNumber - 1).U32(index).U32(enable);
    int r = McSendSyncImmCmd(block, mc::kFunLinkCompareOut);
    if (r != 0) {
        return r;
    }
    const bool linked = enable == 1;
    g_AxisRecords[index].linkA.store(linked ? compareNumber : 0u, std::memory_order_relaxed);
    // Only the host copy of the group table changes; variable 1026 is not written.
    RecordGroupLink(SourceOf(compareNumber), index, linked);
    return mc::kOk;
}

int McGetCompareStatusCmd(std::uint32_t index, std::uint32_t *status) {
    if (index >= mc::kMaxAxes || status == nullptr) {
        return McRefuseInput(mc::kCmdCompareStatus, mc::kFunGetCompareStatus);
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, mc::kCmdCompareStatus, index);
    int r = McSendSyncImmCmd(block, mc::kFunGetCompareStatus);
    if (r != 0) {
        return r;
    }
    *status = McReplyWord(block, 5);
    return mc::kOk;
}

int McStartCompareCmd(std::uint32_t index) {
    if (index >= mc::kMaxAxes) {
        return McRefuseInput(mc::kCmdStartCompare, mc::kFunStartCompare);
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, mc::kCmdStartCompare, index);
    // Other threads' checks see the compare as running while it is sent.
    SendingFlag sending(index, kFlagStartCompare);
    return McSendSyncImmCmd(block, mc::kFunStartCompare);
}

int McStopCompareCmd(std::uint32_t index) {
    if (index >= mc::kMaxAxes) {
        return McRefuseInput(mc::kCmdStopCompare, mc::kFunStopCompare);
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, mc::kCmdStopCompare, index);
    int r = 0;
    {
        SendingFlag sending(index, kFlagStopCompare);
        r = McSendSyncImmCmd(block, mc::kFunStopCompare);
    }
    // Cleared whatever the outcome, so a table of another type can follow.
    g_AxisRecords[index].linkState.store(mc::kCompareTypeNone, std::memory_order_relaxed);
    return r;
}

// ---------------------------------------------------------------- exports

extern "C" {

int QAX_CALL QAX_SetCompareInfo(int cmp, int count, const int *axes) {
    constexpr std::uint32_t command = mc::kCmdSetCompareInfo;
    constexpr std::uint32_t fun = mc::kFunSetCompareInfo;
    int r = McCheckWritePermission(command);
    if (r != 0) {
        return r;
    }
    if (!InCompareRange(cmp) || count < 1 || count > static_cast<int>(mc::kCompareInfoMaxAxes) || axes == nullptr) {
        return McRefuseInput(command, fun);
    }
    std::uint32_t numbers[mc::kCompareInfoMaxAxes]{};
    std::uint32_t indices[mc::kCompareInfoMaxAxes]{};
    for (int k = 0; k < count; ++k) {
        r = McFrameAxis(axes[k], command, fun, mc::kMsgInputParameter, &indices[k]);
        if (r != 0) {
            return r;
        }
        numbers[k] = static_cast<std::uint32_t>(axes[k]);
    }
    for (int k = 0; k < count; ++k) {
        if (McIsCommandSupported(indices[k], command) == 0) {
            McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, command, mc::kFunCompareInfoType);
            return mc::kRefused;
        }
    }
    std::uint32_t source = indices[0];
    if (count > 1) {
        int group = McFindAxesGroup(numbers, count);
        if (group < 1 || group > static_cast<int>(mc::kMaxGroups)) {
            McLogCheck(mc::kCodeGroupNotConfig, mc::kMsgGroupNotConfig, command, mc::kFunCompareInfoType);
            return mc::kErrConflict;
        }
        source = static_cast<std::uint32_t>(group - 1);
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, command, static_cast<std::uint32_t>(cmp - 1))
        .U32(static_cast<std::uint32_t>(count))
        .U32(source);
    r = McSendSyncImmCmd(block, fun);
    if (r != 0) {
        return r;
    }
    StoreSource(static_cast<std::uint32_t>(cmp), count > 1 ? source + mc::kCompareSourceGroup : source);
    StoreCompareLinkTable();
    return mc::kOk;
}

int QAX_CALL QAX_LinkCompareOut(int cmp, uint16_t axis, uint8_t enable) {
    constexpr std::uint32_t command = mc::kCmdLinkCompare;
    constexpr std::uint32_t fun = mc::kFunLinkCompareOut;
    std::uint32_t index = 0;
    int r = PermitThenLookup(axis, command, fun, &index);
    if (r == 0 && !InCompareRange(cmp)) {
        r = McRefuseInput(command, fun);
    }
    if (r == 0) {
        r = McCheckLinkCompareOut(static_cast<std::uint32_t>(cmp), index);
    }
    if (r != 0) {
        return r;
    }
    return McLinkCompareOutCmd(static_cast<std::uint32_t>(cmp), index, enable);
}

int QAX_CALL QAX_SetCompare(int axis, int cmpType, const void *record, int size) {
    // Every line of this export names the first table's command word.
    constexpr std::uint32_t command = mc::kCmdCompareTable1;
    constexpr std::uint32_t fun = mc::kFunSetCompare;
    std::uint32_t index = 0;
    int r = PermitThenLookup(axis, command, fun, &index);
    if (r != 0) {
        return r;
    }
    McImmCmdBlock block{};
    // The table's type is kept from here on, also when a later step refuses.
    r = McEncodeCompareNodes(index, cmpType, record, size, &block);
    if (r != 0) {
        return r;
    }
    if (McIsCommandSupported(index, command) == 0) {
        McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, command, mc::kFunCompareTableType);
        return mc::kRefused;
    }
    // Only link A counts here; link B is not consulted.
    if (g_AxisRecords[index].linkA.load(std::memory_order_relaxed) == 0) {
        McLogError(mc::kCodeNotLinkedMaster, mc::kMsgNotLinkedMaster, command, mc::kFunCompareTableLink);
        return mc::kErrConflict;
    }
    return McSendSyncImmCmdAs(block, fun, command);
}

int QAX_CALL QAX_GetCompareStatus(uint16_t axis, int item, uint32_t *status) {
    constexpr std::uint32_t command = mc::kCmdCompareStatus;
    constexpr std::uint32_t fun = mc::kFunGetCompareStatus;
    int r = McCheckWritePermission(command);
    if (r != 0) {
        return r;
    }
    if (item != static_cast<int>(mc::kCompareStatusItem) || status == nullptr) {
        return McRefuseInput(command, fun);
    }
    std::uint32_t index = 0;
    r = McFrameAxis(axis, command, fun, mc::kMsgInputParameter, &index);
    if (r == 0) {
        r = McCheckCompareStatus(index);
    }
    if (r != 0) {
        return r;
    }
    McPauseWhileChannelActive();
    return McGetCompareStatusCmd(index, status);
}

int QAX_CALL QAX_StartCompare(uint16_t axis) {
    constexpr std::uint32_t command = mc::kCmdStartCompare;
    std::uint32_t index = 0;
    int r = PermitThenLookup(axis, command, mc::kFunStartCompare, &index);
    if (r != 0) {
        return r;
    }
    std::uint32_t type = g_AxisRecords[index].linkState.load(std::memory_order_relaxed);
    if (type == mc::kCompareType3NoPositions || type == mc::kCompareType4NoPositions) {
        return McRefuseNoSupport(command, mc::kLimitCompareType);
    }
    r = McCheckCompareStart(index);
    if (r != 0) {
        return r;
    }
    return McStartCompareCmd(index);
}

int QAX_CALL QAX_StopCompare(uint16_t axis) {
    std::uint32_t index = 0;
    int r = PermitThenLookup(axis, mc::kCmdStopCompare, mc::kFunStopCompare, &index);
    if (r == 0) {
        r = McCheckCompareStop(index);
    }
    if (r != 0) {
        return r;
    }
    return McStopCompareCmd(index);
}

}  // extern "C"
