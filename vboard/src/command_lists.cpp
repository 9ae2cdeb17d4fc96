#include "vboard/command_lists.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <span>

#include "queue_requests.h"

namespace vboard {
namespace {

// ---------------------------------------------------------------- board layout
constexpr std::uint32_t kFirstLink = 7;  // list n runs on link channel n + 7
constexpr std::uint32_t kLevelBase = 510;
constexpr std::uint32_t kLevelShift = 16;
constexpr std::uint32_t kIdleRegisters[kCommandLists] = {0xB4, 0xBC, 0xC4, 0xCC};
constexpr std::uint32_t kIdleBit = 1;
constexpr std::uint32_t kStatusBase = 205;
constexpr std::uint32_t kStatusStopped = 0;
constexpr std::uint32_t kStatusRunning = 1;
constexpr std::uint32_t kStatusPaused = 2;
constexpr std::uint32_t kLineMask = 5516;
constexpr std::uint32_t kAxisCount = 32;
constexpr std::uint32_t kAxisBlockBase = 8736;
constexpr std::uint32_t kAxisBlockSize = 15;
constexpr std::uint32_t kOffReportedPos = 0;
constexpr std::uint32_t kOffRecordPos = 2;
constexpr std::uint32_t kOffVelocity = 6;
constexpr std::uint32_t kRegCyclePeriodUs = 1000;
constexpr std::uint32_t kDefaultCycleUs = 1000;
constexpr std::uint32_t kGroups = queue_requests::kGroups;
constexpr std::uint32_t kGroupMaxAxes = queue_requests::kGroupMaxAxes;
constexpr std::uint32_t kMaxSlave = 64;
constexpr std::uint32_t kInputImage = 6454;
constexpr std::uint32_t kOutputImage = 7094;
constexpr std::uint32_t kAnalogOutputImage = 7099;
constexpr std::uint32_t kSlaveImageStride = 10;
constexpr std::uint32_t kMaxDigitalBits = 160;    // five registers of 32 bits
constexpr std::uint32_t kMaxAnalogChannels = 10;  // five registers of two halves
constexpr double kArrived = 0.5;                  // counts

// ---------------------------------------------------------------- commands
constexpr std::uint32_t kCmdStart = 0x60000001;
constexpr std::uint32_t kCmdStop = 0x60010001;
constexpr std::uint32_t kCmdStopAlt = 0x60090001;
constexpr std::uint32_t kCmdPause = 0x60020001;
constexpr std::uint32_t kCmdResume = 0x60030001;
constexpr std::uint32_t kCmdReset = 0x60050001;
constexpr std::uint32_t kCmdStatus = 0x60060001;
constexpr std::uint32_t kSyncCommands[] = {kCmdStart, kCmdStop, kCmdStopAlt, kCmdPause,
                                           kCmdResume, kCmdReset, kCmdStatus};
constexpr std::uint32_t kRequestListWord = 4;
constexpr std::int32_t kBadList = 57;  // result of a request naming no list

constexpr std::uint32_t kNodeEnd = 0x60120001;
constexpr std::uint32_t kNodeAxesLineAbsolute = 0x60220001;
constexpr std::uint32_t kNodeAxesLineRelative = 0x60290001;
constexpr std::uint32_t kNodeAxesPosition = 0x60260001;
constexpr std::uint32_t kNodeGroupLineAbsolute = 0x60130001;
constexpr std::uint32_t kNodeGroupLineRelative = 0x602a0001;
constexpr std::uint32_t kNodeTimedOutput = 0x60110001;
constexpr std::uint32_t kNodeDigitalOutput = 0x60150001;
constexpr std::uint32_t kNodeAnalogOutput = 0x601b0001;
constexpr std::uint32_t kNodeInputWait = 0x600c0001;
constexpr std::uint32_t kNodeInputsWait = 0x60250001;
constexpr std::uint32_t kNodeAxisTwoSegment = 0x600a0001;
constexpr std::uint32_t kNodeGroupTwoSegment = 0x600b0001;
constexpr std::uint32_t kNodeAxesCondition = 0x600d0001;
constexpr std::uint32_t kNodeGroupCondition = 0x600e0001;
constexpr std::uint32_t kNodeAxisCondition = 0x600f0001;

// Words of a node: command word, card word, first parameter, the rest.
constexpr std::size_t kFirst = 2;
constexpr std::size_t kRest = 3;

std::uint32_t Reg(std::uint32_t axis, std::uint32_t offset) { return kAxisBlockBase + kAxisBlockSize * axis + offset; }

std::int64_t Get64(VirtualBoard::Registers &r, std::uint32_t index) {
    return static_cast<std::int64_t>(r.get(index) | (static_cast<std::uint64_t>(r.get(index + 1)) << 32));
}

void Set64(VirtualBoard::Registers &r, std::uint32_t index, std::int64_t value) {
    const auto v = static_cast<std::uint64_t>(value);
    r.set(index, static_cast<std::uint32_t>(v));
    r.set(index + 1, static_cast<std::uint32_t>(v >> 32));
}

void SetBits(VirtualBoard::Registers &r, std::uint32_t index, std::uint32_t bits, bool on) {
    const std::uint32_t v = r.get(index);
    r.set(index, on ? v | bits : v & ~bits);
}

// A finite count that fits the position registers.
double SaneCount(double value) {
    constexpr double kLimit = 9.0e18;
    return std::isfinite(value) ? std::clamp(value, -kLimit, kLimit) : 0.0;
}

// One queued node as words (a trailing partial word is dropped).
struct Node {
    std::vector<std::uint32_t> words;
    std::uint32_t word(std::size_t k) const { return k < words.size() ? words[k] : 0u; }
    double f64(std::size_t k) const {
        return std::bit_cast<double>(word(k) | (static_cast<std::uint64_t>(word(k + 1)) << 32));
    }
    std::int64_t i64(std::size_t k) const {
        return static_cast<std::int64_t>(word(k) | (static_cast<std::uint64_t>(word(k + 1)) << 32));
    }
    bool has(std::size_t count) const { return words.size() >= count; }
};

struct Waypoint {
    double target = 0.0;  // counts
    double speed = 0.0;   // counts per cycle
};

// One axis of a line in progress.
struct AxisRun {
    std::uint32_t axis = 0;
    double position = 0.0;
    std::deque<Waypoint> waypoints;
};

struct InputCondition {
    std::uint32_t slave = 0;
    std::uint32_t bit = 0;
    std::uint32_t value = 0;
};

// The node a list is executing: a line, a wait, or nothing.
struct Work {
    enum class Kind { none, line, wait } kind = Kind::none;
    std::vector<AxisRun> axes;
    std::uint32_t lineBits = 0;  // line-mask bits cleared when the line ends
    std::vector<InputCondition> inputs;
    double timeoutUs = 0.0;  // 0: no time limit
    double waitedUs = 0.0;
};

struct TimedOff {
    std::uint32_t slave = 0;
    std::uint32_t bit = 0;
    double leftUs = 0.0;
};

// The line-mask bits the host set for a node (mode-0 lines of one axis or
// of a group) and that its end clears.
std::uint32_t AxisBit(std::uint32_t axis) { return axis < kAxisCount ? 1u << axis : 0u; }

}  // namespace

struct CommandLists::State {
    struct List {
        std::deque<Node> nodes;
        Work work;
        bool running = false;
        bool paused = false;
        bool ended = false;
        bool heldFull = false;
        std::size_t executed = 0;
    };

    mutable std::mutex mutex;
    std::array<List, kCommandLists> lists{};
    std::array<std::vector<std::uint32_t>, kGroups> groups{};
    std::vector<MachineIoSlave> slaves;
    std::vector<TimedOff> timed;
    double defaultSpeed = 1000.0;
    std::size_t bad = 0;

    // ------------------------------------------------------------ registers
    void Show(VirtualBoard::Registers &r, std::uint32_t n) const {
        const List &list = lists[n];
        const auto level = list.heldFull ? kListQueueEntries : static_cast<std::uint32_t>(list.nodes.size());
        r.set(kLevelBase + 2 * n, (r.get(kLevelBase + 2 * n) & 0xFFFFu) | (level << kLevelShift));
        const bool idle = list.nodes.empty() && list.work.kind == Work::Kind::none;
        SetBits(r, kIdleRegisters[n], kIdleBit, idle);
        r.set(kStatusBase + n, !list.running ? kStatusStopped : list.paused ? kStatusPaused : kStatusRunning);
    }

    std::vector<std::uint32_t> GroupAxes(std::uint32_t group) const {
        return group < kGroups ? groups[group] : std::vector<std::uint32_t>{};
    }

    std::uint32_t GroupBits(std::uint32_t group) const {
        std::uint32_t bits = 0;
        for (std::uint32_t a : GroupAxes(group)) bits |= AxisBit(a);
        return bits;
    }

    std::uint32_t LineBits(const Node &c) const {
        switch (c.word(0)) {
        case kNodeAxisTwoSegment: return c.word(11) == 0 ? AxisBit(c.word(kFirst)) : 0u;
        case kNodeGroupTwoSegment: return c.word(31) == 0 ? GroupBits(c.word(kFirst)) : 0u;
        case kNodeGroupCondition: return c.word(17) == 0 ? GroupBits(c.word(kFirst)) : 0u;
        case kNodeAxisCondition: return c.word(13) == 0 ? AxisBit(c.word(kFirst)) : 0u;
        default: return 0;
        }
    }

    const MachineIoSlave *Slave(std::uint32_t number) const {
        for (const MachineIoSlave &s : slaves) {
            if (s.slave == number && number <= kMaxSlave) return &s;
        }
        return nullptr;
    }

    bool Input(VirtualBoard::Registers &r, std::uint32_t slave, std::uint32_t bit) const {
        if (slave > kMaxSlave || bit < 1 || bit > kMaxDigitalBits) return false;
        const std::uint32_t reg = kInputImage + kSlaveImageStride * slave + (bit - 1) / 32;
        return (r.get(reg) >> ((bit - 1) % 32) & 1u) != 0;
    }

    void SetDigital(VirtualBoard::Registers &r, std::uint32_t slave, std::uint32_t bit, bool on) {
        const std::uint32_t reg = kOutputImage + kSlaveImageStride * slave + (bit - 1) / 32;
        SetBits(r, reg, 1u << ((bit - 1) % 32), on);
    }

    // ------------------------------------------------------------ nodes
    void Output(VirtualBoard::Registers &r, const Node &c, bool analog, bool timedOff) {
        const std::uint32_t packed = c.word(kRest);
        const std::uint32_t number = packed >> 24;
        const MachineIoSlave *slave = Slave(number);
        if (slave == nullptr) {
            ++bad;
            return;
        }
        // Objects count the inputs first, then the digital, then the analog outputs.
        const auto object = static_cast<std::int64_t>((packed >> 16) & 0xFFu);
        std::int64_t n = object - slave->digital_inputs - slave->analog_inputs;
        if (analog) n -= slave->digital_outputs;
        const std::uint32_t value = packed & 0xFFFFu;
        if (analog) {
            if (n < 1 || n > static_cast<std::int64_t>(std::min(slave->analog_outputs, kMaxAnalogChannels))) {
                ++bad;
                return;
            }
            const auto channel = static_cast<std::uint32_t>(n);
            const std::uint32_t reg = kAnalogOutputImage + kSlaveImageStride * number + (channel - 1) / 2;
            const std::uint32_t shift = channel % 2 == 1 ? 0 : 16;
            r.set(reg, (r.get(reg) & ~(0xFFFFu << shift)) | (value << shift));
            return;
        }
        if (n < 1 || n > static_cast<std::int64_t>(std::min(slave->digital_outputs, kMaxDigitalBits))) {
            ++bad;
            return;
        }
        const auto bit = static_cast<std::uint32_t>(n);
        SetDigital(r, number, bit, (value & 1u) != 0);
        if (timedOff && (value & 1u) != 0) {
            timed.push_back({number, bit, static_cast<double>(c.word(kRest + 1)) * 1000.0});
        }
    }

    AxisRun StartAxis(VirtualBoard::Registers &r, std::uint32_t axis) {
        AxisRun run;
        run.axis = axis;
        run.position = static_cast<double>(Get64(r, Reg(axis, kOffReportedPos)));
        return run;
    }

    // Adds waypoints to an axis: each target absolute, or a distance from
    // the previous end.
    void AddSegment(AxisRun &run, double count, double speed, bool absolute) {
        const double from = run.waypoints.empty() ? run.position : run.waypoints.back().target;
        const double target = SaneCount(absolute ? count : from + count);
        const double perCycle = std::isfinite(speed) && speed > 0.0 ? speed : defaultSpeed;
        run.waypoints.push_back({target, perCycle});
    }

    // A straight segment of several axes at one path speed: each axis gets
    // the share of the speed that makes them arrive together.
    void AddPathSegment(std::vector<AxisRun> &runs, const std::vector<double> &counts, double speed, bool absolute) {
        std::vector<double> from(runs.size()), to(runs.size());
        double squares = 0.0;
        for (std::size_t k = 0; k < runs.size(); ++k) {
            from[k] = runs[k].waypoints.empty() ? runs[k].position : runs[k].waypoints.back().target;
            to[k] = SaneCount(absolute ? counts[k] : from[k] + counts[k]);
            squares += (to[k] - from[k]) * (to[k] - from[k]);
        }
        const double length = std::sqrt(squares);
        const double pathSpeed = std::isfinite(speed) && speed > 0.0 ? speed : defaultSpeed;
        for (std::size_t k = 0; k < runs.size(); ++k) {
            const double share = length > 0.0 ? std::fabs(to[k] - from[k]) / length : 1.0;
            runs[k].waypoints.push_back({to[k], std::max(pathSpeed * share, 1e-9)});
        }
    }

    // The axes of a node's group, started; false for an unknown group.
    bool GroupRuns(VirtualBoard::Registers &r, std::uint32_t group, std::vector<AxisRun> &runs) {
        const std::vector<std::uint32_t> axes = GroupAxes(group);
        if (axes.empty()) return false;
        for (std::uint32_t a : axes) {
            if (a >= kAxisCount) return false;
            runs.push_back(StartAxis(r, a));
        }
        return true;
    }

    static std::vector<double> Counts(const Node &c, std::size_t first, std::size_t n) {
        std::vector<double> counts(n);
        for (std::size_t k = 0; k < n; ++k) counts[k] = c.f64(first + 2 * k);
        return counts;
    }

    // Builds the line of a node; false for a malformed one.
    bool Line(VirtualBoard::Registers &r, const Node &c, Work &work) {
        const std::uint32_t first = c.word(kFirst);
        std::vector<AxisRun> &runs = work.axes;
        // An axis list of n entries from word 3 on.
        auto axisList = [&](std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                if (c.word(kRest + i) >= kAxisCount) return false;
                runs.push_back(StartAxis(r, c.word(kRest + i)));
            }
            return true;
        };
        switch (c.word(0)) {
        case kNodeAxesLineAbsolute:
        case kNodeAxesLineRelative: {
            const std::size_t n = first;
            if (n < 1 || n > kGroupMaxAxes || !c.has(kRest + 5 * n) || !axisList(n)) return false;
            for (std::size_t i = 0; i < n; ++i) {
                AddSegment(runs[i], c.f64(kRest + n + 2 * i), c.f64(kRest + 3 * n + 2 * i),
                           c.word(0) == kNodeAxesLineAbsolute);
            }
            return true;
        }
        case kNodeAxesPosition:
        case kNodeAxesCondition: {
            const std::size_t n = first;
            const bool integer = c.word(0) == kNodeAxesPosition;
            if (n < 1 || n > kGroupMaxAxes || !c.has(kRest + 3 * n + (integer ? 0 : 3)) || !axisList(n)) return false;
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t k = kRest + n + 2 * i;
                AddSegment(runs[i], integer ? static_cast<double>(c.i64(k)) : c.f64(k), defaultSpeed, true);
            }
            return true;
        }
        case kNodeGroupLineAbsolute:
        case kNodeGroupLineRelative: {
            if (!c.has(19) || !GroupRuns(r, first, runs)) return false;
            AddPathSegment(runs, Counts(c, 5, runs.size()), c.f64(kRest), c.word(0) == kNodeGroupLineAbsolute);
            return true;
        }
        case kNodeGroupCondition: {
            if (!c.has(29) || !GroupRuns(r, first, runs)) return false;
            AddPathSegment(runs, Counts(c, kRest, runs.size()), c.f64(15), c.word(17) == 1);
            return true;
        }
        case kNodeAxisTwoSegment: {
            if (!c.has(12) || first >= kAxisCount) return false;
            runs.push_back(StartAxis(r, first));
            const bool absolute = c.word(11) == 1;
            AddSegment(runs[0], c.f64(3), c.f64(5), absolute);
            AddSegment(runs[0], c.f64(7), c.f64(9), absolute);
            return true;
        }
        case kNodeGroupTwoSegment: {
            if (!c.has(32) || !GroupRuns(r, first, runs)) return false;
            const bool absolute = c.word(31) == 1;
            AddPathSegment(runs, Counts(c, kRest, runs.size()), c.f64(15), absolute);
            AddPathSegment(runs, Counts(c, 17, runs.size()), c.f64(29), absolute);
            return true;
        }
        case kNodeAxisCondition: {
            const std::size_t n = c.word(14);
            if (!c.has(37) || first >= kAxisCount || n > kGroupMaxAxes) return false;
            runs.push_back(StartAxis(r, first));
            const bool absolute = c.word(13) == 1;
            AddSegment(runs[0], c.f64(3), c.f64(7), absolute);
            AddSegment(runs[0], c.f64(5), c.f64(7), absolute);
            AddSegment(runs[0], c.f64(9), c.f64(11), absolute);
            for (std::size_t i = 0; i < n; ++i) {
                if (c.word(15 + i) >= kAxisCount) return false;
                runs.push_back(StartAxis(r, c.word(15 + i)));
                AddSegment(runs.back(), c.f64(21 + 2 * i), defaultSpeed, absolute);
            }
            return true;
        }
        default: return false;
        }
    }

    bool Wait(const Node &c, Work &work) {
        if (c.word(0) == kNodeInputWait) {
            if (!c.has(6)) return false;
            const std::uint32_t item = c.word(kFirst);
            work.inputs.push_back({item >> 16, item & 0xFFFFu, c.word(4) & 1u});
            work.timeoutUs = static_cast<double>(c.word(3)) * 1000.0;
            return true;
        }
        const std::size_t n = c.word(kFirst);
        if (n < 1 || n > 5 || !c.has(kRest + n + 2)) return false;
        const std::uint32_t flags = c.word(kRest + n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t item = c.word(kRest + i);
            work.inputs.push_back({item >> 16, item & 0xFFFFu, (flags >> i) & 1u});
        }
        work.timeoutUs = static_cast<double>(c.word(kRest + n + 1)) * 1000.0;
        return true;
    }

    // Takes the next node: runs it at once, or makes it the list's work.
    void Take(VirtualBoard::Registers &r, List &list) {
        const Node c = std::move(list.nodes.front());
        list.nodes.pop_front();
        ++list.executed;
        Work work;
        switch (c.word(0)) {
        case kNodeEnd:
            list.running = false;
            list.paused = false;
            list.ended = true;
            return;
        case kNodeDigitalOutput: Output(r, c, false, false); return;
        case kNodeTimedOutput: Output(r, c, false, true); return;
        case kNodeAnalogOutput: Output(r, c, true, false); return;
        case kNodeInputWait:
        case kNodeInputsWait:
            work.kind = Work::Kind::wait;
            if (!Wait(c, work)) {
                ++bad;
                return;
            }
            list.work = std::move(work);
            return;
        case kNodeAxesLineAbsolute:
        case kNodeAxesLineRelative:
        case kNodeAxesPosition:
        case kNodeGroupLineAbsolute:
        case kNodeGroupLineRelative:
        case kNodeAxisTwoSegment:
        case kNodeGroupTwoSegment:
        case kNodeAxesCondition:
        case kNodeGroupCondition:
        case kNodeAxisCondition:
            work.kind = Work::Kind::line;
            work.lineBits = LineBits(c);
            if (!Line(r, c, work)) {
                ++bad;
                SetBits(r, kLineMask, work.lineBits, false);
                return;
            }
            list.work = std::move(work);
            return;
        default: return;  // marked values, compare and save nodes: nothing to model
        }
    }

    // One cycle of the list's work; true when it is done.
    bool StepWork(VirtualBoard::Registers &r, Work &work, std::uint32_t periodUs) {
        if (work.kind == Work::Kind::wait) {
            work.waitedUs += periodUs;
            bool met = true;
            for (const InputCondition &in : work.inputs) met = met && (Input(r, in.slave, in.bit) ? 1u : 0u) == in.value;
            return met || (work.timeoutUs > 0.0 && work.waitedUs >= work.timeoutUs);
        }
        bool done = true;
        const double cyclesPerSecond = 1e6 / periodUs;
        for (AxisRun &run : work.axes) {
            double speed = 0.0;
            if (!run.waypoints.empty()) {
                Waypoint &wp = run.waypoints.front();
                const double remaining = wp.target - run.position;
                const double step = std::min(std::fabs(remaining), wp.speed);
                run.position += remaining < 0 ? -step : step;
                speed = remaining < 0 ? -step : step;
                if (std::fabs(wp.target - run.position) < kArrived) {
                    run.position = wp.target;
                    run.waypoints.pop_front();
                }
            }
            const auto count = static_cast<std::int64_t>(std::llround(SaneCount(run.position)));
            Set64(r, Reg(run.axis, kOffReportedPos), count);
            Set64(r, Reg(run.axis, kOffRecordPos), count);
            Set64(r, Reg(run.axis, kOffVelocity),
                  static_cast<std::int64_t>(std::llround(SaneCount(speed * cyclesPerSecond))));
            done = done && run.waypoints.empty();
        }
        return done;
    }

    void StopAxes(VirtualBoard::Registers &r, const Work &work) {
        for (const AxisRun &run : work.axes) Set64(r, Reg(run.axis, kOffVelocity), 0);
    }

    void FinishWork(VirtualBoard::Registers &r, List &list) {
        StopAxes(r, list.work);
        SetBits(r, kLineMask, list.work.lineBits, false);
        list.work = Work{};
    }

    // Stop and reset: the queue emptied, the node in progress dropped; the
    // line-mask bits of every dropped line are cleared.
    void Empty(VirtualBoard::Registers &r, std::uint32_t n) {
        List &list = lists[n];
        for (const Node &c : list.nodes) SetBits(r, kLineMask, LineBits(c), false);
        list.nodes.clear();
        FinishWork(r, list);
        list.running = false;
        list.paused = false;
        list.executed = 0;
        Show(r, n);
    }

    void TakeUntilWork(VirtualBoard::Registers &r, List &list) {
        while (list.running && list.work.kind == Work::Kind::none && !list.nodes.empty()) Take(r, list);
    }

    void Cycle(VirtualBoard::Registers &r) {
        std::uint32_t periodUs = r.get(kRegCyclePeriodUs);
        if (periodUs == 0) periodUs = kDefaultCycleUs;
        for (auto it = timed.begin(); it != timed.end();) {
            it->leftUs -= periodUs;
            if (it->leftUs <= 0.0) {
                SetDigital(r, it->slave, it->bit, false);
                it = timed.erase(it);
            } else {
                ++it;
            }
        }
        for (std::uint32_t n = 0; n < kCommandLists; ++n) {
            List &list = lists[n];
            if (!list.running || list.paused || list.heldFull) continue;
            // Nodes without duration run in the same cycle, up to the next
            // line or wait; one cycle of that runs, and when it ends the
            // nodes up to the next line or wait follow in the same cycle.
            TakeUntilWork(r, list);
            if (list.work.kind != Work::Kind::none && StepWork(r, list.work, periodUs)) {
                FinishWork(r, list);
                TakeUntilWork(r, list);
            }
            Show(r, n);
        }
    }

    std::int32_t Command(VirtualBoard::Registers &r, std::uint32_t word, std::uint32_t n,
                         std::span<std::uint32_t> reply) {
        List &list = lists[n];
        switch (word) {
        case kCmdStart:
            list.running = true;
            list.paused = false;
            list.ended = false;
            break;
        case kCmdStop:
        case kCmdStopAlt:
        case kCmdReset: Empty(r, n); break;
        case kCmdPause:
            if (list.running) {
                list.paused = true;
                StopAxes(r, list.work);
            }
            break;
        case kCmdResume: list.paused = false; break;
        case kCmdStatus:
            if (!reply.empty()) reply[0] = list.running ? 1u : 0u;
            break;
        default: break;
        }
        Show(r, n);
        return 0;
    }
};

CommandLists::CommandLists(VirtualBoard &board) : board_(board), state_(std::make_shared<State>()) {
    std::weak_ptr<State> weak = state_;
    for (std::uint32_t n = 0; n < kCommandLists; ++n) {
        board_.set_channel_handler(static_cast<int>(kFirstLink + n),
                                   [weak, n](VirtualBoard::Registers &r, std::span<const std::uint8_t> bytes) {
                                       auto state = weak.lock();
                                       if (!state) return true;
                                       std::lock_guard lock(state->mutex);
                                       State::List &list = state->lists[n];
                                       if (bytes.size() > kListNodeMaxBytes || list.heldFull ||
                                           list.nodes.size() >= kListQueueEntries) {
                                           return false;
                                       }
                                       list.nodes.push_back(Node{queue_requests::Words(bytes)});
                                       state->Show(r, n);
                                       return true;
                                   });
    }
    for (std::uint32_t word : kSyncCommands) {
        board_.set_command_handler(word, [weak, word](VirtualBoard::Registers &r, std::span<const std::uint32_t> request,
                                                      std::span<std::uint32_t> reply) -> std::int32_t {
            auto state = weak.lock();
            if (!state) return 0;
            const std::uint32_t n = request.size() > kRequestListWord ? request[kRequestListWord] : kCommandLists;
            if (n >= kCommandLists) return kBadList;
            std::lock_guard lock(state->mutex);
            return state->Command(r, word, n, reply);
        });
    }
    queue_requests::WatchGroupsAndCycles(board_, "command lists", weak);
    board_.update_registers([this](VirtualBoard::Registers &r) {
        std::lock_guard lock(state_->mutex);
        for (std::uint32_t n = 0; n < kCommandLists; ++n) state_->Show(r, n);
    });
}

CommandLists::~CommandLists() {
    for (std::uint32_t n = 0; n < kCommandLists; ++n) board_.set_channel_handler(static_cast<int>(kFirstLink + n), nullptr);
    for (std::uint32_t word : kSyncCommands) board_.set_command_handler(word, nullptr);
    queue_requests::ForgetGroupsAndCycles(board_, "command lists");
}

void CommandLists::set_group_axes(std::uint32_t group, std::vector<std::uint32_t> axes) {
    if (group < 1 || group > kGroups) return;
    if (axes.size() > kGroupMaxAxes) axes.resize(kGroupMaxAxes);
    std::lock_guard lock(state_->mutex);
    state_->groups[group - 1] = std::move(axes);
}

void CommandLists::set_io_slaves(std::vector<MachineIoSlave> slaves) {
    std::lock_guard lock(state_->mutex);
    state_->slaves = std::move(slaves);
}

void CommandLists::set_default_speed(double counts_per_cycle) {
    if (!std::isfinite(counts_per_cycle) || counts_per_cycle <= 0.0) return;
    std::lock_guard lock(state_->mutex);
    state_->defaultSpeed = counts_per_cycle;
}

void CommandLists::hold_full(std::uint32_t list, bool held) {
    if (list >= kCommandLists) return;
    board_.update_registers([&](VirtualBoard::Registers &r) {
        std::lock_guard lock(state_->mutex);
        state_->lists[list].heldFull = held;
        state_->Show(r, list);
    });
}

std::size_t CommandLists::queued(std::uint32_t list) const {
    if (list >= kCommandLists) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->lists[list].nodes.size();
}

bool CommandLists::running(std::uint32_t list) const {
    if (list >= kCommandLists) return false;
    std::lock_guard lock(state_->mutex);
    return state_->lists[list].running;
}

bool CommandLists::paused(std::uint32_t list) const {
    if (list >= kCommandLists) return false;
    std::lock_guard lock(state_->mutex);
    return state_->lists[list].paused;
}

std::size_t CommandLists::executed(std::uint32_t list) const {
    if (list >= kCommandLists) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->lists[list].executed;
}

bool CommandLists::ended(std::uint32_t list) const {
    if (list >= kCommandLists) return false;
    std::lock_guard lock(state_->mutex);
    return state_->lists[list].ended;
}

std::size_t CommandLists::bad_nodes() const {
    std::lock_guard lock(state_->mutex);
    return state_->bad;
}

}  // namespace vboard
