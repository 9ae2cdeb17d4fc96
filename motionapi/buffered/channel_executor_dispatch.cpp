// The dispatch of the current node by its type: path segments, channel
// commands for the board, waits, marks and profile changes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "../core/units.h"
#include "channel_executor.h"
#include "look_ahead.h"
#include "node_fetch.h"
#include "planner.h"

namespace {

enum MarkMode : std::uint32_t { kMarkPublish = 1, kMarkWait = 2 };
enum ProfileValue : std::uint32_t { kValueAcceleration = 1, kValueJerk = 2 };
constexpr double kMinProfileValue = 1.0;
constexpr std::uint32_t kBitImageSources = 3;  // condition sources 0..2 test a bit image
constexpr std::uint32_t kIoWordByte = 0xFF;
constexpr std::uint32_t kHalfWord = 0xFFFF;

// Writers of the planned node's words from the node's parameter slots.
class Planned {
public:
    Planned(const McPlanNode &node, McPlannedNode &out, std::uint32_t kind) : node_(node), out_(out) {
        out_.words[planned::kSequence] = node.sequence;
        out_.words[planned::kKind] = kind;
    }
    // words dst.. = w(src)..
    Planned &Words(std::uint32_t dst, std::uint32_t src, std::uint32_t count) {
        for (std::uint32_t k = 0; k < count; ++k) Put(dst + k, McNodeWord(node_, src + k));
        return *this;
    }
    // words dst.. = the 64-bit counts of d(w(src)), d(w(src + 2)), ...
    Planned &Counts(std::uint32_t dst, std::uint32_t src, std::uint32_t count) {
        for (std::uint32_t k = 0; k < count; ++k) {
            const auto counts = static_cast<std::uint64_t>(McPositionToCounts(McNodeF64(node_, src + 2 * k)));
            Put(dst + 2 * k, static_cast<std::uint32_t>(counts));
            Put(dst + 2 * k + 1, static_cast<std::uint32_t>(counts >> 32));
        }
        return *this;
    }
    // words dst.. = the doubles d(w(src)).. unchanged
    Planned &Doubles(std::uint32_t dst, std::uint32_t src, std::uint32_t count) { return Words(dst, src, 2 * count); }
    Planned &Value(std::uint32_t dst, std::uint32_t value) {
        Put(dst, value);
        return *this;
    }

private:
    void Put(std::uint32_t word, std::uint32_t value) {
        if (word < kPlannedNodeWords) out_.words[word] = value;
    }
    const McPlanNode &node_;
    McPlannedNode &out_;
};

std::uint32_t W(const McPlanNode &node, std::uint32_t k) { return McNodeWord(node, k); }

// ((w0 << 8) | (w1 & 0xFF)) << 16: the I/O word of node types 20 and 21.
std::uint32_t IoSelect(const McPlanNode &node) { return ((W(node, 0) << 8) | (W(node, 1) & kIoWordByte)) << 16; }

bool IsPathType(std::uint32_t type) { return type == kNodeLine || type == kNodeArc; }

// Lines, arcs and per-axis moves start a segment and plan its first step.
int StartSegment(McChannel &ch, McPlannedNode &out) {
    if (IsPathType(ch.currentNode.type) && ch.lookAheadFlag.load(std::memory_order_relaxed) == 1) {
        McRunLookAheadPass(ch);
    }
    if (McStartSegment(ch, ch.currentNode) == 0) {
        ch.executorState = kStateFetch;
        return 0;
    }
    ch.executorState = kStatePlanning;
    ch.plannerPhase = kPhaseStepping;
    ch.plannerStopLatch = 0;
    return McExecutorPlanningStep(ch, out);
}

// Acceleration or jerk into the current profile and the set in force.
void ProfileValueNode(McChannel &ch, const McPlanNode &node) {
    const std::uint32_t which = W(node, 0);
    const double value = McNodeF64(node, 2);
    if ((which != kValueAcceleration && which != kValueJerk) || !std::isfinite(value)) return;
    const double v = std::max(kMinProfileValue, value);
    std::lock_guard<std::mutex> guard(ch.profileLock);
    McChannelProfile &active = ch.lookAheadFlag.load(std::memory_order_relaxed) == 1 ? ch.lookAheadProfile
                                                                                      : ch.plainProfile;
    if (which == kValueAcceleration) {
        ch.currentProfile.acceleration = v;
        active.acceleration = v;
    } else {
        ch.currentProfile.jerk = v;
        active.jerk = v;
    }
}

void SelectProfile(McChannel &ch, bool lookAhead) {
    double p1 = 0.0;
    {
        std::lock_guard<std::mutex> guard(ch.profileLock);
        ch.currentProfile = lookAhead ? ch.lookAheadProfile : ch.plainProfile;
        p1 = ch.currentProfile.p1;
    }
    ch.lookAheadFlag.store(lookAhead ? 1u : 0u, std::memory_order_relaxed);
    if (lookAhead) ch.carriedSpeed.store(p1, std::memory_order_relaxed);
}

// Kind 27: the axis count, the axes and five arrays of 32 doubles by list
// position (counts held as doubles, the second array's values unchanged).
void MultiAxisCommand(const McPlanNode &node, McPlannedNode &out) {
    const std::uint32_t n = std::min(node.axisCount, kMultiCmdMaxAxes);
    Planned p(node, out, 27);
    p.Value(2, n).Words(3, 0, n);
    for (std::uint32_t k = 0; k < 5; ++k) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const double value = McNodeF64(node, plan_param::kMultiCmdArrays[k] + 2 * i);
            const double held = k == 1 ? value : static_cast<double>(McPositionToCounts(value));
            McSetPlannedF64(out, planned::kMultiArrays[k] + 2 * i, held);
        }
    }
}

bool AxesInRange(const McPlanNode &node) {
    if (node.axisCount > kMultiCmdMaxAxes) return false;
    return std::all_of(node.axes, node.axes + node.axisCount, [](std::uint32_t a) { return a < kChannelAxes; });
}

}  // namespace

int McExecutorDispatch(McChannel &ch, McPlannedNode &out) {
    ch.executorState = kStateFetch;
    const McPlanNode &node = ch.currentNode;
    switch (node.type) {
    case kNodeLine:
    case kNodeArc:
    case kNodeAxisMove:
    case kNodeMultiAxisMove:
        return StartSegment(ch, out);
    case kNodeEnd:
        ch.executorState = kStateStop;
        Planned(node, out, kPlannedProgramEnd);
        return 1;
    case kTypeMarkedValue: Planned(node, out, 2).Words(3, 0, 1).Value(4, 0); return 1;
    case kTypeDigitalOutput: Planned(node, out, 1).Words(2, 0, 3); return 1;
    case kTypeConditionWait:
        // A bit beyond its image is refused: the node has no effect.
        if (W(node, 0) < kBitImageSources && W(node, 1) >= kWaitImageBits) return 0;
        McExecutorArmWait(ch, McNodeF64(node, 4));
        ch.executorState = kStateConditionWait;
        return 1;
    case kTypeMark:
        if (W(node, 0) == kMarkPublish) {
            ch.markValue.store(static_cast<std::int32_t>(W(node, 1)), std::memory_order_relaxed);
        } else if (W(node, 0) == kMarkWait) {
            if (W(node, 2) >= mc::kChannelCount) return 0;  // no such channel: no effect
            McExecutorArmWait(ch, McNodeF64(node, 4));
            ch.executorState = kStateMarkWait;
        }
        return 1;
    case kTypeCompareStart: Planned(node, out, 5).Words(2, 0, 1); return 1;
    case kTypeCompareStop: Planned(node, out, 4).Words(2, 0, 1); return 1;
    case kTypeDropped: return 0;
    case kTypeProfileValue: ProfileValueNode(ch, node); return 1;
    case kTypeAxisCommand:
        if (W(node, 0) >= kChannelAxes) return 0;
        Planned(node, out, 6).Words(2, 0, 1).Counts(3, 2, 1);
        ch.executorState = kStateAxisWait;
        ch.axisWaitCounter = 0;
        return 1;
    case kTypeAxisSwitch:
    case kTypeAxisSwitchOn: Planned(node, out, 7).Words(2, 0, 2); return 1;
    case kTypeKind15: Planned(node, out, 8).Words(2, 0, 1); return 1;
    case kTypeCompareTable: Planned(node, out, 9).Words(2, 0, 5).Words(7, 20, 1).Counts(8, 6, 6).Counts(20, 18, 1); return 1;
    case kTypeCompareTable2: Planned(node, out, 10).Words(2, 0, 4).Words(6, 16, 3).Counts(9, 4, 6); return 1;
    case kTypeSelectLookAhead: SelectProfile(ch, true); return 1;
    case kTypeSelectPlain: SelectProfile(ch, false); return 1;
    case kTypeIo20: Planned(node, out, 15).Value(2, 1).Value(3, IoSelect(node)); return 1;
    case kTypeIo21: Planned(node, out, 17).Value(2, 1).Value(3, IoSelect(node)); return 1;
    case kType22: Planned(node, out, 18).Words(2, 0, 3); return 1;
    case kType23: Planned(node, out, 19).Words(2, 0, 2).Doubles(4, 2, 2); return 1;
    case kType24: Planned(node, out, 20).Words(2, 0, 3); return 1;
    case kType25: Planned(node, out, 21).Words(2, 0, 5).Words(7, 20, 1).Counts(20, 18, 1); return 1;
    case kTypeAxisPositionValue: Planned(node, out, 23).Words(2, 0, 1).Counts(3, 2, 1); return 1;
    case kTypePositionSave: Planned(node, out, 25).Words(2, 0, 2); return 1;
    case kType30:
        Planned(node, out, 26).Value(2, (W(node, 0) << 16) | (W(node, 1) & kHalfWord)).Words(3, 2, 3);
        return 1;
    case kTypeMultiCommand:
        if (!AxesInRange(node)) return 0;
        MultiAxisCommand(node, out);
        ch.executorState = kStateAxisWait;
        ch.axisWaitCounter = 0;
        return 1;
    case kType32: Planned(node, out, 29).Words(2, 0, 4); return 1;
    default:
        return 0;
    }
}
