// Arc builds: the radius checks, the sweep and speed limit, and the
// tangent points the look-ahead reads at the arc's two ends.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "node_fetch.h"
#include "planner_units.h"
#include "poll_thread.h"

namespace {

constexpr double kMinSweepRadius = 0.001;
constexpr double kPlaneOnAxis = 0.001;   // |x| below this counts as on the positive side
constexpr double kMinSweep = 0.000001;   // a smaller sweep is a full circle
constexpr double kArcSpeedFactorFloor = 1.0;
constexpr double kDefaultArcSpeedFactor = 10.0;
constexpr double kSecondsPerMinute = 60.0;

// The angle of (x, y) on a circle of radius r, from the arcsine of |y| / r.
double PointAngle(double x, double y, double r) {
    const double b = std::clamp(std::asin(std::min(1.0, std::fabs(y) / r)), 0.0, mc::kArcHalfPi);
    if (std::fabs(x) < kPlaneOnAxis || x > 0.0) return y >= 0.0 ? b : mc::kArcTwoPi - b;
    return y >= 0.0 ? mc::kArcPi - b : b + mc::kArcPi;
}

// The arc's direction: +1 counter-clockwise, anything else clockwise.
bool CounterClockwise(const McPlanNode &node) { return node.params[plan_param::kArcDirection] == 1; }

}  // namespace

int McArcSweep(McChannel &ch, McPlanNode &node) {
    const std::uint32_t a1 = node.params[plan_param::kArcAxis1];
    const std::uint32_t a2 = node.params[plan_param::kArcAxis2];
    if (a1 >= kChannelAxes || a2 >= kChannelAxes) return 0;
    const double c1 = McNodeF64(node, plan_param::kArcCentre1);
    const double c2 = McNodeF64(node, plan_param::kArcCentre2);
    const double xs = node.start[a1] - c1;
    const double ys = node.start[a2] - c2;
    const double xe = node.end[a1] - c1;
    const double ye = node.end[a2] - c2;
    const double r = (std::hypot(xe, ye) + std::hypot(xs, ys)) / 2.0;
    if (!(r >= kMinSweepRadius) || !std::isfinite(r)) return 0;

    const bool ccw = CounterClockwise(node);
    const double s = PointAngle(xs, ys, r);
    double e = PointAngle(xe, ye, r);
    if (ccw) {
        if (s > e) e += mc::kArcTwoPi;
    } else if (e > s) {
        e -= mc::kArcTwoPi;
    }
    double sweep = std::fabs(e - s);
    if (sweep < kMinSweep) sweep = mc::kArcTwoPi;

    const double t = planner::CyclePeriod();
    const double tol = g_ArcChordTolerance;
    node.length = sweep * r;
    double factor = ch.arcSpeedFactor;
    if (!(factor >= kArcSpeedFactorFloor)) factor = kDefaultArcSpeedFactor;
    double limit = 0.0;
    if (t > 0.0) {
        limit = std::sqrt(2.0 * r * tol + tol * tol) * kSecondsPerMinute * 1000.0 / t;
        limit = std::min(limit, node.length / t * 1000.0);
    }
    node.speedLimit = std::min(limit, factor * kSecondsPerMinute * r);

    // Tangent points one arc length along the tangents: the start's ahead
    // (the start vector turned by a quarter in the arc's direction), the
    // end's back.
    const double k = node.length / r;
    const double dir = ccw ? 1.0 : -1.0;
    const double startTangent[2] = {node.start[a1] - dir * ys * k, node.start[a2] + dir * xs * k};
    const double endTangent[2] = {node.end[a1] + dir * ye * k, node.end[a2] - dir * xe * k};
    McSetNodeF64(node, plan_param::kArcStartPoint, node.start[a1]);
    McSetNodeF64(node, plan_param::kArcStartPoint + 2, node.start[a2]);
    McSetNodeF64(node, plan_param::kArcStartTangent, startTangent[0]);
    McSetNodeF64(node, plan_param::kArcStartTangent + 2, startTangent[1]);
    McSetNodeF64(node, plan_param::kArcEndTangent, endTangent[0]);
    McSetNodeF64(node, plan_param::kArcEndTangent + 2, endTangent[1]);
    McSetNodeF64(node, plan_param::kArcEndPoint, node.end[a1]);
    McSetNodeF64(node, plan_param::kArcEndPoint + 2, node.end[a2]);
    return 1;
}

int McPrepareArcNode(McChannel &ch, const McChannelInputRecord &record) {
    const std::uint32_t a1 = record.words[record_word::kArcAxis1];
    const std::uint32_t a2 = record.words[record_word::kArcAxis2];
    const std::uint32_t a3 = record.words[record_word::kArcAxis3];
    const std::uint32_t third = record.words[record_word::kArcThirdFlag];
    if (a1 >= kChannelAxes || a2 >= kChannelAxes || a1 == a2) return 0;
    if (third != 0 && (a3 >= kChannelAxes || a3 == a1 || a3 == a2)) return 0;
    double start[kChannelAxes];
    double end[kChannelAxes];
    for (std::uint32_t a = 0; a < kChannelAxes; ++a) {
        start[a] = McRecordF64(record, record_word::kArcStart + 2 * a);
        end[a] = McRecordF64(record, record_word::kArcEnd + 2 * a);
        if (!std::isfinite(start[a]) || !std::isfinite(end[a])) return 0;
    }
    const double feed = McRecordF64(record, record_word::kArcFeed);
    const double c1 = McRecordF64(record, record_word::kArcCentre1);
    const double c2 = McRecordF64(record, record_word::kArcCentre2);
    if (!std::isfinite(feed) || !std::isfinite(c1) || !std::isfinite(c2)) return 0;
    if (ch.pool.count >= ch.pool.capacity) return 0;

    McPlanNode &node = McFetchNewNode(ch, record, kNodeArc);
    std::memcpy(node.start, start, sizeof node.start);
    std::memcpy(node.end, end, sizeof node.end);
    node.feedSpeed = feed;
    ch.feedSpeed = feed;
    // The end point counts as reached even when the arc is discarded below.
    std::memcpy(ch.plannedPositions, end, sizeof ch.plannedPositions);
    McSetNodeF64(node, plan_param::kArcCentre1, c1);
    McSetNodeF64(node, plan_param::kArcCentre2, c2);
    node.params[plan_param::kArcAxis1] = a1;
    node.params[plan_param::kArcAxis2] = a2;
    node.params[plan_param::kArcAxis3] = a3;
    node.params[plan_param::kArcDirection] = record.words[record_word::kArcDirection];
    node.params[plan_param::kArcThirdFlag] = third;
    // The step carries the plane axes (and the third axis) in this order,
    // with the group word of the record.
    node.axes[0] = a1;
    node.axes[1] = a2;
    node.axisCount = 2;
    if (third != 0) node.axes[node.axisCount++] = a3;
    node.axes[kPlanNodeAuxSlot] = record.words[record_word::kArcAux];
    McSetNodeMovingAxes(node);

    const double r1 = std::hypot(start[a1] - c1, start[a2] - c2);
    const double r2 = std::hypot(end[a1] - c1, end[a2] - c2);
    const double tolerance = g_ArcRadiusTolerance;
    if (std::fabs(r1 - r2) > tolerance || r1 < tolerance || r2 < tolerance) return 0;
    if (McArcSweep(ch, node) == 0) return 0;
    McFetchAppend(ch);
    return 1;
}
