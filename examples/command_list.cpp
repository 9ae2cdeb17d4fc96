// Opens the controller, enables axes 1 and 2 and fills command list 0: a
// line of both axes, a two-segment line of axis 1 given as distances, a
// digital output of I/O slave 1 and the end node. The board runs the list
// by itself; the program prints the list's status and the positions until
// the list is done, then disables the axes and closes the controller.
// Exits 0 when both axes reached their targets and the list ended.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "motionapi.h"

namespace {

constexpr int kList = 0;
constexpr uint16_t kAxes[] = {1, 2};
constexpr double kTargets[] = {7.5, -3.0};  // after the line: 5, -3; then +1.5 and +1 on axis 1
constexpr int kStatusState = 1;
constexpr int kMaxPolls = 100;
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr double kTolerance = 0.00001;

// Node records are fixed-size byte records, fields little-endian.
struct Record {
    unsigned char bytes[128] = {};
    void u32(std::size_t offset, uint32_t v) { std::memcpy(bytes + offset, &v, sizeof v); }
    void f64(std::size_t offset, double v) { std::memcpy(bytes + offset, &v, sizeof v); }
};

int queue_line() {
    // Type 2: axes at +0, their count at +24, positions at +28, speeds at
    // +76, mode (1 absolute) at +124.
    Record r;
    r.u32(0, 1);
    r.u32(4, 2);
    r.u32(24, 2);
    r.f64(28, 5.0);
    r.f64(36, -3.0);
    r.f64(76, 50.0);
    r.f64(84, 30.0);
    r.u32(124, 1);
    return QAX_CT_SetBufferNode(kList, 2, r.bytes, 128);
}

int queue_two_segment() {
    // Type 15: axis, position and speed of each segment, mode 0 (distances).
    Record r;
    r.u32(0, 1);
    r.f64(4, 1.5);
    r.f64(12, 20.0);
    r.f64(20, 1.0);
    r.f64(28, 10.0);
    r.u32(36, 0);
    return QAX_CT_SetBufferNode(kList, 15, r.bytes, 40);
}

int queue_output() {
    // Type 12: slave 1, output 3 on, no hold time.
    Record r;
    r.u32(0, 1);
    r.u32(4, 3);
    r.u32(8, 1);
    r.u32(12, 0);
    return QAX_CT_SetBufferNode(kList, 12, r.bytes, 16);
}

}  // namespace

int main() {
    const int opened = QAX_Init();
    std::printf("open controller     %d\n", opened);
    if (opened != 0) return 1;

    bool ok = true;
    for (uint16_t axis : kAxes) {
        const int on = QAX_SRVONAxis(axis, 1);
        std::printf("servo on axis %u    %d\n", axis, on);
        ok = ok && on == 0;
    }
    const int started = QAX_CT_Start(kList);
    std::printf("start list %d        %d\n", kList, started);
    const int line = queue_line();
    std::printf("line of axes 1, 2   %d\n", line);
    const int twoSegment = queue_two_segment();
    std::printf("two segments axis 1 %d\n", twoSegment);
    const int output = queue_output();
    std::printf("output 3 of slave 1 %d\n", output);
    const int end = QAX_CT_SetBufferNode(kList, 1, nullptr, 0);
    std::printf("end node            %d\n", end);
    ok = ok && started == 0 && line == 0 && twoSegment == 0 && output == 0 && end == 0;

    bool done = false;
    for (int poll = 0; ok && !done && poll < kMaxPolls; ++poll) {
        std::this_thread::sleep_for(kPollInterval);
        uint32_t running = 1;
        if (QAX_CT_GetStatus(kList, kStatusState, &running) != 0) ok = false;
        std::printf("list %s", running == 1 ? "running" : "done   ");
        bool reached = true;
        for (std::size_t k = 0; k < 2; ++k) {
            double position = 0.0;
            if (QAX_GetAxisPosition(kAxes[k], &position) != 0) ok = false;
            std::printf("   axis %u %10.5f", kAxes[k], position);
            reached = reached && std::fabs(position - kTargets[k]) < kTolerance;
        }
        std::printf("\n");
        done = reached && running != 1;
    }
    std::printf("list done, targets reached   %s\n", done ? "yes" : "no");

    for (uint16_t axis : kAxes) std::printf("servo off axis %u   %d\n", axis, QAX_SRVONAxis(axis, 0));
    std::printf("close controller    %d\n", QAX_Exit());
    return ok && done ? 0 : 1;
}
