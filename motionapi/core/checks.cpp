#include "checks.h"

#include "axis_state.h"
#include "axis_types.h"
#include "board_tables.h"
#include "log_line.h"
#include "registers.h"

namespace {

constexpr std::uint32_t kTypeNoMotion = 0x5e70201;
constexpr std::uint32_t kMoveBits = (1u << 1) | (1u << 13) | (1u << 14) | (1u << 15) | (1u << 16);
constexpr std::uint32_t kGroupBits = (1u << 17) | (1u << 18);

bool MoveTerm(std::uint32_t index) {
    const McAxisRecord &r = g_AxisRecords[index];
    return (r.status.load(std::memory_order_relaxed) & kMoveBits) != 0 || r.Sending(kFlagHome) ||
           r.Sending(kFlagPosMoveA) || r.Sending(kFlagPosMoveB) || r.Sending(kFlagJog) || r.Sending(kFlagTMove);
}

bool GroupTerm(std::uint32_t index) {
    const McAxisRecord &r = g_AxisRecords[index];
    return (r.status.load(std::memory_order_relaxed) & kGroupBits) != 0 || r.Sending(kFlagPosMoveA) ||
           r.Sending(kFlagPosMoveB);
}

int Conflict(std::uint32_t command, std::uint32_t fun) {
    McLogCheck(mc::kCodeRunConflict, mc::kMsgRunConflict, command, fun);
    return mc::kErrConflict;
}

}  // namespace

int McCheckLogReadConflict() {
    std::uint32_t axes = McConfiguredAxisCount();
    for (std::uint32_t a = 0; a < axes; ++a) {
        if (McAxisTypeFromSlaveId(a) == kTypeNoMotion) {
            continue;
        }
        if (McReadAxisStatus(a) != 0) {
            return mc::kErrRegister;
        }
        if (MoveTerm(a)) {
            return Conflict(mc::kCmdReadLog, mc::kFunLogReadCheck);
        }
    }
    std::uint32_t entries = McGroupEntryCount();
    for (std::uint32_t e = 0; e < entries; ++e) {
        for (std::uint32_t k = 0; k < McGroupMemberCount(e); ++k) {
            std::uint32_t a = McGroupMemberIndex(e, k);
            if (a == mc::kNoAxis) {
                continue;
            }
            std::uint32_t pending = 0;
            if (McReadAxisStatus(a) != 0 || McReadMotionPending(a, &pending) != 0) {
                return mc::kErrRegister;
            }
            if (GroupTerm(a) || pending != 0) {
                return Conflict(mc::kCmdReadLog, mc::kFunLogReadCheck);
            }
        }
    }
    return mc::kOk;
}
