// Segment start, the planning step and the speed decision lines and arcs
// share.
#include "planner.h"

#include <algorithm>
#include <cmath>

#include "look_ahead.h"
#include "planner_path.h"
#include "planner_units.h"

using planner::Finite;

bool McWithinStopThreshold(double carriedSpeed, double threshold) {
    return carriedSpeed <= threshold + mc::kStopThresholdTolerance * std::fabs(threshold);
}

void McFillStepHeader(const McPlanNode &node, McPlannedNode &out) {
    out.words[planned::kSequence] = node.sequence;
    out.words[planned::kAux] = node.axes[kPlanNodeAuxSlot];
    out.words[planned::kAxisCount] = node.axisCount;
    const std::uint32_t n = std::min(node.axisCount, planned::kMaxAxes);
    for (std::uint32_t i = 0; i < n; ++i) out.words[planned::kAxes + i] = node.axes[i];
}

bool McSetupPathLimits(McPathMotion &m, const McChannelProfile &profile, double t) {
    double a = planner::AccelPerCycle(profile.acceleration, t);
    double j = planner::JerkPerCycle(profile.jerk, t);
    if (!Finite(a) || !Finite(j) || !(a > 0.0)) return false;
    j = std::min(j, a);
    if (profile.sCurve == 0 || !(j > 0.0)) j = a;
    double n = planner::Round(a / j);
    n = std::clamp(n, 1.0, mc::kMaxJerkSteps);
    m.jerkStep = j;
    m.accelLimit = n * j;
    m.sCurve = profile.sCurve;
    return true;
}

double McStepSpeedCap(double ratio) {
    return mc::kMaxStepDistance / mc::kLastStepFactor / std::max(1.0, Finite(ratio) ? ratio : 1.0);
}

bool McPathSpeedStep(McPathMotion &m, const McLookAheadTable &table, double remaining, double r) {
    const double J = m.jerkStep;
    const double A = m.accelLimit;
    double ve = std::min(m.endLimit, m.feedBase * r);
    double vt = std::min(m.vmax, m.feed * r);
    if (m.stopNow != 0) {
        ve = J;
        if (m.speed - J < mc::kSpeedEpsilon || m.speed < J) return false;
        vt = std::min(vt, ve);
    }
    const double a = std::clamp(m.accel, -A, A);
    int d = -1;
    if (McLookAheadStep(table, 1, m.lookAheadOk, remaining, a, vt + J, ve, A, J, m.speed)) {
        d = 1;
    } else if (McLookAheadStep(table, 0, m.lookAheadOk, remaining, a, vt + J, ve, A, J, m.speed)) {
        d = 0;
    }
    double aNew = std::clamp(a + d * J, -A, A);
    double vNew = m.speed + aNew;
    const double floor = std::min({J, ve, vt, mc::kFloorSpeedCap});
    if (vNew > vt && d >= 0) {
        vNew = vt;
        aNew = 0.0;
    }
    if (vNew < floor) {
        vNew = floor;
        aNew = 0.0;
    }
    const double change = aNew - a;
    m.accelDirection = std::fabs(change) < mc::kAccelDirectionEpsilon ? 0 : (change > 0.0 ? 1 : -1);
    m.accel = aNew;
    m.speed = vNew;
    return true;
}

std::uint32_t McFillSegmentLookAhead(McChannel &ch, const McPathMotion &m, double remaining) {
    McCollectLookAheadSpeeds(ch.lookAhead, ch.pool, m.jerkStep, m.speed, m.jerkStep);
    if (ch.lookAhead.count == 0) return 1;
    const McLookAheadEntry &first = ch.lookAhead.entries[0];
    return McIsNodeLongEnough(m.endLimit, first.speed, m.jerkStep, m.jerkStep, remaining, first.length, m.speed) ? 1u
                                                                                                                  : 0u;
}

int McStartSegment(McChannel &ch, const McPlanNode &node) {
    if (planner::CyclePeriod() <= 0.0) return 0;
    switch (node.type) {
    case kNodeLine:
        if (McSetupLineSegment(ch, node) == 0) return 0;
        ch.plannerKind = kPlanLine;
        return 1;
    case kNodeArc:
        if (McSetupArcSegment(ch, node) == 0) return 0;
        ch.plannerKind = kPlanArc;
        return 1;
    case kNodeAxisMove:
    case kNodeMultiAxisMove:
        if (McSegmentAxisTargets(ch, node) == 0) return 0;
        ch.plannerKind = kPlanAxes;
        return 1;
    default:
        return 0;
    }
}

namespace {

double Override(const McChannel &ch) {
    const double r = ch.overrideRatio.load(std::memory_order_relaxed);
    return Finite(r) ? std::clamp(r, 0.0, 2.0) : 0.0;
}

McPathMotion *PathMotion(McChannel &ch) {
    switch (ch.plannerKind) {
    case kPlanLine: return &ch.linePlan.motion;
    case kPlanArc: return &ch.arcPlan.motion;
    default: return nullptr;
    }
}

void SetStopFlag(McChannel &ch) {
    if (McPathMotion *m = PathMotion(ch)) {
        m->stopNow = 1;
    } else {
        ch.axisPlan.stop = 1;
    }
}

// A resume right after a stop-now restarts the segment from rest.
void Restart(McChannel &ch) {
    ch.workStatus.store(kWorkRunning, std::memory_order_relaxed);
    if (McPathMotion *m = PathMotion(ch)) {
        m->stopNow = 0;
        m->speed = 0.0;
        m->accel = 0.0;
        m->accelDirection = 0;
    } else {
        ch.axisPlan.stop = 0;
        for (McAxisMotion &axis : ch.axisPlan.axes) axis.speed = 0.0;
    }
    ch.plannerPhase = kPhaseStepping;
    ch.plannerStopLatch = 0;
}

// The state the next segment starts from.
void CarryOver(McChannel &ch) {
    if (const McPathMotion *m = PathMotion(ch)) {
        ch.carriedSpeed.store(planner::PerSecond(m->speed, m->cyclePeriod), std::memory_order_relaxed);
        ch.carriedAcceleration = m->accel;
        ch.carriedDirection = m->accelDirection;
    } else {
        ch.carriedSpeed.store(0.0, std::memory_order_relaxed);
        ch.carriedAcceleration = 0.0;
        ch.carriedDirection = 0;
    }
}

int StepKind(McChannel &ch, McPlannedNode &out, double r) {
    switch (ch.plannerKind) {
    case kPlanLine: return McPlanLineStep(ch, out, r);
    case kPlanArc: return McPlanArcStep(ch, out, r);
    default: return McPlanAxisMoveStep(ch, out, r);
    }
}

std::uint32_t StepKindWord(const McChannel &ch) {
    return ch.plannerKind == kPlanAxes ? planned::kKindAxisStep : planned::kKindPathStep;
}

}  // namespace

int McPlanSegment(McChannel &ch, McPlannedNode &out) {
    const std::uint32_t command = ch.command.load(std::memory_order_relaxed);
    int send = 0;
    if (ch.plannerPhase != kPhaseDone && (command == kCmdStopAtBoundary || command == kCmdPause) &&
        ch.plannerStopLatch == 0) {
        SetStopFlag(ch);
        ch.plannerStopLatch = 1;
    }
    switch (ch.plannerPhase) {
    case kPhaseStepping:
        switch (StepKind(ch, out, Override(ch))) {
        case kStepStopped:
            if (command == kCmdStopAtBoundary) {
                ch.plannerPhase = kPhaseFinishing;
            } else if (command == kCmdPause) {
                ch.plannerPhase = kPhasePaused;
                ch.workStatus.store(kWorkPaused, std::memory_order_relaxed);
            } else if (command == kCmdRun) {
                Restart(ch);
            }
            break;
        case kStepLast:
        case kStepAxesDone:
            ch.plannerPhase = kPhaseFinishing;
            out.words[planned::kKind] = StepKindWord(ch);
            out.words[planned::kDuration] |= planned::kLastStepBit;
            send = 1;
            break;
        case kStepMore:
            out.words[planned::kKind] = StepKindWord(ch);
            send = 1;
            break;
        case kStepAxesIdle:
            break;
        default:
            ch.plannerPhase = kPhaseFinishing;
            break;
        }
        break;
    case kPhasePaused:
        if (command == kCmdRun) {
            Restart(ch);
        } else if (command == kCmdStopAtBoundary) {
            ch.plannerPhase = kPhaseDone;
            ch.carriedSpeed.store(0.0, std::memory_order_relaxed);
        }
        break;
    case kPhaseFinishing:
        CarryOver(ch);
        ch.plannerPhase = kPhaseDone;
        break;
    default:
        break;
    }
    if (ch.plannerPhase == kPhaseDone) {
        const bool stop = command == kCmdStopAtBoundary &&
                          McWithinStopThreshold(ch.carriedSpeed.load(std::memory_order_relaxed), ch.stopThresholdSpeed);
        ch.executorState = stop ? kStateStop : kStateFetch;
    }
    return send;
}
