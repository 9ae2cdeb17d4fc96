// Opens the controller, makes compare output 1 follow axis 1, links the
// compare device (axis 7 of the machine file) to it and sends it a table of
// seven positions; then starts the compare, moves axis 1 across the
// positions and prints the compare status while it moves; finally stops
// the compare, disables the axes and closes the controller. Exits 0 when
// every position of the table was passed.
#include <chrono>
#include <cstdio>
#include <thread>

#include "motionapi.h"

namespace {

constexpr int kOutput = 1;
constexpr int kSource = 1;          // the axis whose position is compared
constexpr uint16_t kDevice = 7;     // the compare device of the machine file
constexpr double kTarget = 8.0;     // user units
constexpr double kVelocity = 20.0;  // user units per second
constexpr int kMaxPolls = 200;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// The virtual board's status word: positions passed, running, all passed.
constexpr uint32_t kPassedMask = 0xFFFF;
constexpr uint32_t kRunning = 1u << 16;
constexpr uint32_t kAllPassed = 1u << 17;

}  // namespace

int main() {
    const int opened = QAX_Init();
    std::printf("open controller       %d\n", opened);
    if (opened != 0) return 1;

    const int source[] = {kSource};
    const int results[] = {
        QAX_SRVONAxis(kSource, 1),
        QAX_SRVONAxis(kDevice, 1),
        QAX_SetCompareInfo(kOutput, 1, source),
        QAX_LinkCompareOut(kOutput, kDevice, 1),
    };
    std::printf("servo on, source, link   %d %d %d %d\n", results[0], results[1], results[2], results[3]);
    bool ok = true;
    for (int r : results) ok = ok && r == 0;

    // Fires at 0.5, then at 1 to 6 user units.
    McCompareRecord3 table = {1, 0, 1, 0, 0.5, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}, 0, 100, 0};
    const int set = QAX_SetCompare(kDevice, 3, &table, sizeof table);
    const int started = QAX_StartCompare(kDevice);
    std::printf("table, start          %d %d\n", set, started);
    ok = ok && set == 0 && started == 0;

    const int moving = ok ? QAX_StartPMove(kSource, kTarget, kVelocity, 1) : -1;
    std::printf("move axis %d to %.1f   %d\n", kSource, kTarget, moving);
    ok = ok && moving == 0;

    uint32_t status = 0;
    for (int poll = 0; ok && poll < kMaxPolls && (status & kAllPassed) == 0; ++poll) {
        std::this_thread::sleep_for(kPollInterval);
        double position = 0.0;
        const int read = QAX_GetAxisPosition(kSource, &position);
        const int got = QAX_GetCompareStatus(kDevice, 1, &status);
        ok = read == 0 && got == 0;
        std::printf("position %7.3f   passed %u%s\n", position, status & kPassedMask,
                    (status & kRunning) != 0 ? "" : " (not running)");
    }
    const bool all = (status & kAllPassed) != 0;
    std::printf("all positions passed  %s\n", all ? "yes" : "no");

    const int stopped = QAX_StopCompare(kDevice);
    std::printf("stop compare          %d\n", stopped);
    std::printf("servo off             %d %d\n", QAX_SRVONAxis(kSource, 0), QAX_SRVONAxis(kDevice, 0));
    std::printf("close controller      %d\n", QAX_Exit());
    return ok && all && stopped == 0 ? 0 : 1;
}
