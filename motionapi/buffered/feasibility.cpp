// The look-ahead feasibility test and the constant-deceleration cycle count.
//
// The test simulates, cycle by cycle, the quickest jerk-limited slow-down
// after a candidate change of the acceleration, and fails as soon as a speed
// limit ahead would be broken. Its phases are runs of cycles in which the
// acceleration changes by a constant step (or stays), so speed and distance
// after i cycles have closed forms; a run is taken whole up to its next
// event (a boundary crossed, a clamp, the speed cap), and only the event
// cycle itself is stepped. The result is that of the cycle-by-cycle
// simulation, at a cost that does not grow with A / J or with the length of
// a constant deceleration.
#include <algorithm>
#include <cmath>

#include "look_ahead.h"
#include "planner_units.h"

namespace {

enum class Flow { go, fail, pass };

// floor(q), where a q that is an integer to rounding counts as that integer.
double WholeSteps(double q) {
    const double r = std::round(q);
    return std::fabs(q - r) <= 1e-9 * std::max(1.0, std::fabs(q)) ? r : std::floor(q);
}

// Values within a rounding of zero of a whole multiple of J count as zero.
double SnapZero(double y, double j) { return std::fabs(y) <= 1e-9 * j ? 0.0 : y; }

struct Sim {
    const McLookAheadEntry *entries = nullptr;
    std::uint32_t count = 0;
    double J = 0.0;
    double A = 0.0;
    double vcap = 0.0;
    double x = 0.0;  // speed
    double y = 0.0;  // acceleration
    double s = 0.0;  // distance left to the next boundary
    double L = 0.0;  // speed allowed at the next boundary
    std::uint32_t f = 0;
    std::uint32_t k = 0;  // table entries entered

    // Speed and distance after i cycles of y += dy, x += y, s -= x.
    double XAfter(double i, double dy) const { return x + i * y + dy * i * (i + 1.0) / 2.0; }
    double DAfter(double i, double dy) const {
        return i * x + y * i * (i + 1.0) / 2.0 + dy * i * (i + 1.0) * (i + 2.0) / 6.0;
    }
    void Advance(double i, double dy) {
        if (i <= 0.0) return;
        const double nx = XAfter(i, dy);
        s -= DAfter(i, dy);
        x = nx;
        y += i * dy;
    }

    // What the speed still gains while a positive acceleration falls to 0
    // by J per cycle.
    double RiseLeft() const {
        if (!(y > 0.0)) return 0.0;
        const double p = WholeSteps(y / J);
        return p * y - J * p * (p + 1.0) / 2.0;
    }

    // The boundary rule, after a cycle: while s is below 0 (at or below 0 in
    // the constant deceleration), the speed must be within the limit, and
    // the next table entry becomes the limit ahead. While the acceleration
    // is still positive, the speed it will reach must be within the limit:
    // a path that arrives accelerating must not rise above the next node's
    // speed after the boundary. The planner takes a segment's last step one
    // cycle early when the rest is within 1.5 cycles, so the speed of the
    // cycle before the crossing (xPrev) must be within the limit too.
    Flow Boundary(bool rampPhase, bool atZero, double xPrev) {
        for (;;) {
            if (atZero ? s > 0.0 : s >= 0.0) return Flow::go;
            if (std::max(x + RiseLeft(), xPrev) > L) return Flow::fail;
            ++k;
            if (k > count) return std::fabs(y) <= J ? Flow::pass : Flow::fail;
            const McLookAheadEntry &e = entries[k - 1];
            s += e.length;
            L = std::max(J, e.speed);
            if (rampPhase) f = e.reachable;
        }
    }
};

// The first i in 1..maxI for which pred(i) holds (pred is monotone), 0 when
// it does not hold at maxI.
template <class Pred>
double FirstTrue(double maxI, Pred pred) {
    if (maxI < 1.0 || !pred(maxI)) return 0.0;
    double lo = 0.0;
    double hi = 1.0;
    while (hi < maxI && !pred(hi)) {
        lo = hi;
        hi = std::min(maxI, hi * 2.0);
    }
    while (hi - lo > 1.0) {
        const double mid = std::floor((lo + hi) / 2.0);
        if (pred(mid)) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return hi;
}

// Phase 2: the acceleration falls to 0 by J per cycle; the speed must stay
// within the cap.
Flow RampDown(Sim &m) {
    while (m.y > 0.0) {
        const double pure = WholeSteps(m.y / m.J);
        if (pure >= 1.0) {
            const double s0 = m.s;
            const double e = FirstTrue(pure, [&](double i) {
                return m.XAfter(i, -m.J) > m.vcap || s0 - m.DAfter(i, -m.J) < 0.0;
            });
            m.Advance(e > 0.0 ? e - 1.0 : pure, -m.J);
            m.y = SnapZero(m.y, m.J);
            if (e == 0.0) continue;
        }
        const double xPrev = m.x;
        m.y = SnapZero(std::max(m.y - m.J, 0.0), m.J);
        m.x += m.y;
        m.s -= m.x;
        if (m.x > m.vcap) return Flow::fail;
        const Flow flow = m.Boundary(true, false, xPrev);
        if (flow != Flow::go) return flow;
    }
    return Flow::go;
}

// Steps 4 and 6: slow down toward `target`, the jerk first, then at the
// constant deceleration A once the acceleration would pass -A.
Flow SlowDown(Sim &m, double target) {
    if (!(m.x > target)) return Flow::go;
    for (;;) {
        const double pure = WholeSteps((m.y + m.A) / m.J);
        if (pure < 1.0) break;
        const double s0 = m.s;
        const double e = FirstTrue(pure, [&](double i) {
            return m.XAfter(i, -m.J) <= target || s0 - m.DAfter(i, -m.J) < 0.0;
        });
        if (e == 0.0) {
            m.Advance(pure, -m.J);
            break;
        }
        m.Advance(e - 1.0, -m.J);
        const double xPrev = m.x;
        m.y = SnapZero(m.y - m.J, m.J);
        m.x = std::max(target, m.x + m.y);
        m.s -= m.x;
        const Flow flow = m.Boundary(false, false, xPrev);
        if (flow != Flow::go) return flow;
        if (m.x <= target) return Flow::go;
    }
    m.y = -m.A;
    for (;;) {
        if (m.x <= target) return Flow::go;
        // Cycles that stay above the target.
        const double q = (m.x - target) / m.A;
        const double r = std::round(q);
        const double pure = std::fabs(q - r) <= 1e-9 * std::max(1.0, q) ? r - 1.0 : std::floor(q);
        if (pure >= 1.0) {
            const std::int64_t e = McSolveRampCycles(static_cast<std::int64_t>(pure), m.A, m.s, m.x);
            m.Advance(e > 0 ? static_cast<double>(e - 1) : pure, 0.0);
        }
        const double xPrev = m.x;
        m.x = std::max(target, m.x - m.A);
        m.s -= m.x;
        const Flow flow = m.Boundary(false, true, xPrev);
        if (flow != Flow::go) return flow;
    }
}

// Steps 5 and 7: the acceleration returns to 0 by J per cycle; the speed
// does not fall below J.
Flow RampUp(Sim &m) {
    while (m.y < 0.0) {
        const double pure = WholeSteps(-m.y / m.J);
        if (pure >= 1.0) {
            const double s0 = m.s;
            if (m.x <= m.J) {
                // Pinned at J: the distance grows by J a cycle.
                const double e = FirstTrue(pure, [&](double i) { return s0 - i * m.J < 0.0; });
                const double n = e > 0.0 ? e - 1.0 : pure;
                m.y += n * m.J;
                m.s -= n * m.J;
            } else {
                const double e = FirstTrue(pure, [&](double i) {
                    return m.XAfter(i, m.J) <= m.J || s0 - m.DAfter(i, m.J) < 0.0;
                });
                m.Advance(e > 0.0 ? e - 1.0 : pure, m.J);
                m.y = SnapZero(m.y, m.J);
                if (e == 0.0) continue;
            }
            m.y = SnapZero(m.y, m.J);
            if (!(m.y < 0.0)) return Flow::go;
        }
        const double xPrev = m.x;
        m.y = SnapZero(std::min(m.y + m.J, 0.0), m.J);
        m.x = std::max(m.J, m.x + m.y);
        m.s -= m.x;
        const Flow flow = m.Boundary(false, false, xPrev);
        if (flow != Flow::go) return flow;
    }
    return Flow::go;
}

std::int64_t Triangle(std::int64_t n) { return n * (n + 1) / 2; }

bool Passed(Flow flow) { return flow == Flow::pass; }

}  // namespace

bool McLookAheadStep(const McLookAheadTable &table, int d, std::uint32_t f, double s, double a, double vcap,
                     double vend, double A, double J, double v) {
    using planner::Finite;
    if (!(J > 0.0) || !(A >= J) || !Finite(A) || !Finite(J) || !Finite(s) || !Finite(a) || !Finite(vcap) ||
        !Finite(vend) || !Finite(v)) {
        return false;
    }
    Sim m;
    m.entries = table.entries;
    m.count = table.entries != nullptr ? std::min(table.count, table.capacity) : 0;
    m.J = J;
    m.A = A;
    m.vcap = vcap;
    m.s = s;
    m.L = vend;
    m.f = f;

    // 1. The candidate cycle.
    m.y = std::min(a + d * J, A);
    m.x = v + m.y;
    if (m.x > vcap) return false;
    m.s -= m.x;
    Flow flow = m.Boundary(true, false, m.x);
    if (flow != Flow::go) return Passed(flow);

    // 2. The acceleration back to 0.
    flow = RampDown(m);
    if (flow != Flow::go) return Passed(flow);

    // 3.-4. Toward the first target: the limit ahead (or J) plus what a full
    // ramp of the acceleration adds.
    const auto p = static_cast<std::int64_t>(planner::Round(std::fabs(m.y / J)));
    const auto q = static_cast<std::int64_t>(planner::Round(std::fabs(A / J)));
    const double base = m.f != 0 ? m.L : J;
    const double target1 = std::max(
        J, std::min(base + static_cast<double>(Triangle(q)) * J, (base + static_cast<double>(Triangle(p)) * J + m.x) / 2.0));
    flow = SlowDown(m, target1);
    if (flow != Flow::go) return Passed(flow);
    flow = RampUp(m);
    if (flow != Flow::go) return Passed(flow);

    // 6.-7. Down to near the floor.
    const double target2 = std::max(J, std::min(static_cast<double>(Triangle(q)) * J + J, (m.x + J) / 2.0));
    flow = SlowDown(m, target2);
    if (flow != Flow::go) return Passed(flow);
    flow = RampUp(m);
    if (flow != Flow::go) return Passed(flow);
    return true;
}

std::int64_t McSolveRampCycles(std::int64_t nmax, double A, double s, double v) {
    if (nmax < 1 || !std::isfinite(A) || !std::isfinite(s) || !std::isfinite(v)) return 0;
    auto covered = [A, v](double n) { return n * v - A * n * (n + 1.0) / 2.0; };
    if (covered(1.0) >= s) return 1;
    const double limit = static_cast<double>(nmax);
    if (!(A > 0.0)) {
        // No deceleration: the distance grows by at least v - A a cycle.
        const double perCycle = v - A;
        if (!(perCycle > 0.0)) return 0;
        double n = std::max(1.0, std::ceil((s + A) / perCycle));
        while (n > 1.0 && covered(n - 1.0) >= s) n -= 1.0;
        while (n <= limit && covered(n) < s) n += 1.0;
        return n <= limit ? static_cast<std::int64_t>(n) : 0;
    }
    // The distance grows while the speed stays positive: up to n = v / A.
    const double top = std::min(limit, std::max(1.0, std::floor(v / A)));
    if (covered(top) < s) return 0;
    // The smaller root of (A/2) n^2 + (A/2 - v) n + s = 0, in its stable form.
    const double b = v - A / 2.0;
    const double disc = b * b - 2.0 * A * s;
    double n = disc >= 0.0 && b + std::sqrt(disc) > 0.0 ? std::ceil(2.0 * s / (b + std::sqrt(disc))) : top;
    n = std::clamp(n, 1.0, top);
    if (!(covered(n) >= s && (n <= 1.0 || covered(n - 1.0) < s))) {
        // Rounding put the estimate off: search the increasing part.
        double lo = 1.0;  // covered(lo) < s
        double hi = top;  // covered(hi) >= s
        while (hi - lo > 1.0) {
            const double mid = std::floor((lo + hi) / 2.0);
            if (covered(mid) >= s) {
                hi = mid;
            } else {
                lo = mid;
            }
        }
        n = hi;
    }
    return static_cast<std::int64_t>(n);
}
