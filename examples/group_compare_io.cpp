// Opens the controller and defines axes group 3 of axes 1 and 2; makes
// compare output 1 follow axis 1, links the compare device (axis 7 of the
// machine file) to it and loads a compare table of type 3; then moves the
// group on one straight line to its targets, printing both positions, the
// group's moving status and the positions the compare passed as it goes.
// Last it stops the compare, sets four digital outputs of I/O slave 1 and
// reads them back, disables the axes and closes the controller. Exits 0 when
// both axes arrived, every compare position was passed and the outputs read
// back as set.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "motionapi.h"

namespace {

constexpr int kGroup = 3;  // groups 1 and 2 are the machine file's; group 1 follows a compare output
constexpr int kGroupAxes[] = {1, 2};
constexpr double kTargets[] = {8.0, 4.0};  // user units, axes 1 and 2
constexpr double kPathVelocity = 20.0;     // user units per second along the line
constexpr int kAbsolute = 1;

constexpr int kOutput = 1;
constexpr int kSource = 1;       // the axis whose position is compared
constexpr uint16_t kDevice = 7;  // the compare device of the machine file
constexpr int kCompareType = 3;

constexpr int kSlave = 1;
constexpr uint32_t kBits[] = {1, 2, 3, 4};
constexpr uint32_t kValues[] = {1, 0, 1, 1};
constexpr int kBitCount = 4;

constexpr int kMaxPolls = 200;
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr double kTolerance = 0.00001;

// The virtual board's compare status word: positions passed, running, all passed.
constexpr uint32_t kPassedMask = 0xFFFF;
constexpr uint32_t kRunning = 1u << 16;
constexpr uint32_t kAllPassed = 1u << 17;

bool all_zero(const int *results, int count) {
    for (int i = 0; i < count; ++i) {
        if (results[i] != 0) return false;
    }
    return true;
}

}  // namespace

int main() {
    const int opened = QAX_Init();
    std::printf("open controller        %d\n", opened);
    if (opened != 0) return 1;

    int group_axes[] = {kGroupAxes[0], kGroupAxes[1]};
    const int setup[] = {
        QAX_SetLinearMotionInfo(kGroup, 2, group_axes),
        QAX_SRVONAxis(1, 1),
        QAX_SRVONAxis(2, 1),
        QAX_SRVONAxis(kDevice, 1),
    };
    std::printf("group {1, 2}, servo on  %d %d %d %d\n", setup[0], setup[1], setup[2], setup[3]);
    bool ok = all_zero(setup, 4);

    // Fires at 0.5, then at 1 to 6 user units of axis 1.
    const int source[] = {kSource};
    McCompareRecord3 table = {1, 0, 1, 0, 0.5, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}, 0, 100, 0};
    const int compare[] = {
        ok ? QAX_SetCompareInfo(kOutput, 1, source) : -1,
        ok ? QAX_LinkCompareOut(kOutput, kDevice, 1) : -1,
        ok ? QAX_SetCompare(kDevice, kCompareType, &table, sizeof table) : -1,
        ok ? QAX_StartCompare(kDevice) : -1,
    };
    std::printf("compare source, link, table, start  %d %d %d %d\n", compare[0], compare[1], compare[2], compare[3]);
    ok = ok && all_zero(compare, 4);

    const int started = ok ? QAX_StartLinearMotion(kGroup, kTargets, sizeof kTargets, kPathVelocity, kAbsolute) : -1;
    std::printf("linear move to (%.1f, %.1f)  %d\n", kTargets[0], kTargets[1], started);
    ok = ok && started == 0;

    uint32_t moving = 1;
    uint32_t compare_status = 0;
    double p1 = 0.0;
    double p2 = 0.0;
    for (int poll = 0; ok && poll < kMaxPolls && moving != 0; ++poll) {
        std::this_thread::sleep_for(kPollInterval);
        const int reads[] = {
            QAX_GetAxisPosition(1, &p1),
            QAX_GetAxisPosition(2, &p2),
            QAX_GetLinearMotionStatus(kGroup, 1, &moving),
            QAX_GetCompareStatus(kDevice, 1, &compare_status),
        };
        ok = all_zero(reads, 4);
        std::printf("positions %7.3f %7.3f   moving %u   compare passed %u%s\n", p1, p2, moving,
                    compare_status & kPassedMask, (compare_status & kRunning) != 0 ? "" : " (not running)");
    }
    const bool arrived = std::fabs(p1 - kTargets[0]) < kTolerance && std::fabs(p2 - kTargets[1]) < kTolerance;
    const bool all_passed = (compare_status & kAllPassed) != 0;
    std::printf("arrived together        %s\n", arrived ? "yes" : "no");
    std::printf("all positions passed    %s\n", all_passed ? "yes" : "no");
    const int stopped = QAX_StopCompare(kDevice);
    std::printf("stop compare            %d\n", stopped);

    // The outputs show a board cycle after the command: read until they do.
    const int set = QAX_SetDO(kSlave, kBits, kValues, kBitCount);
    std::printf("set outputs 1-4 to %u%u%u%u  %d\n", kValues[0], kValues[1], kValues[2], kValues[3], set);
    uint32_t back[kBitCount] = {};
    bool read_back = false;
    for (int poll = 0; set == 0 && poll < kMaxPolls && !read_back; ++poll) {
        std::this_thread::sleep_for(kPollInterval);
        if (QAX_GetDO(kSlave, kBits, back, kBitCount) != 0) break;
        read_back = true;
        for (int i = 0; i < kBitCount; ++i) read_back = read_back && back[i] == kValues[i];
    }
    std::printf("outputs read back       %u%u%u%u  %s\n", back[0], back[1], back[2], back[3],
                read_back ? "as set" : "not as set");

    std::printf("servo off               %d %d %d\n", QAX_SRVONAxis(1, 0), QAX_SRVONAxis(2, 0),
                QAX_SRVONAxis(kDevice, 0));
    std::printf("close controller        %d\n", QAX_Exit());
    return ok && arrived && all_passed && stopped == 0 && read_back ? 0 : 1;
}
