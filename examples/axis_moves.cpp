// Opens the controller, sets the maximum velocity (axis parameter 9) of
// axes 1 and 2, enables them, moves them to two positions at different
// speeds and prints their positions while they move; half-way it asks for a
// faster move, which the maximum velocity caps. Then it disables the axes
// and closes the controller. Exits 0 when both axes reached their targets.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "motionapi.h"

namespace {

struct AxisMove {
    uint16_t axis;
    double target;        // user units
    double velocity;      // user units per second
    double max_velocity;  // axis parameter 9
};

constexpr AxisMove kMoves[] = {{1, 25.0, 50.0, 60.0}, {2, -10.0, 40.0, 45.0}};
constexpr int kParamMaxVelocity = 9;
constexpr double kFasterVelocity = 1000.0;  // asked for half-way, capped
constexpr int kFasterAtPoll = 5;
constexpr int kMaxPolls = 200;
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr double kTolerance = 0.00001;

bool reached(const AxisMove &move, double position) { return std::fabs(position - move.target) < kTolerance; }

}  // namespace

int main() {
    const int opened = QAX_Init();
    std::printf("open controller     %d\n", opened);
    if (opened != 0) return 1;

    bool ok = true;
    for (const AxisMove &move : kMoves) {
        const int set = QAX_SetAxisParameter(move.axis, kParamMaxVelocity, move.max_velocity);
        double count = 0.0;
        const int got = QAX_GetAxisParameter(move.axis, kParamMaxVelocity, &count);
        std::printf("max velocity axis %u %.1f/s   %d (board count %.0f, %d)\n", move.axis, move.max_velocity, set,
                    count, got);
        ok = ok && set == 0;
    }
    for (const AxisMove &move : kMoves) {
        const int on = QAX_SRVONAxis(move.axis, 1);
        std::printf("servo on axis %u    %d\n", move.axis, on);
        ok = ok && on == 0;
    }
    for (const AxisMove &move : kMoves) {
        const int started = QAX_StartPMove(move.axis, move.target, move.velocity, 1);
        std::printf("move axis %u to %.3f at %.1f/s   %d\n", move.axis, move.target, move.velocity, started);
        ok = ok && started == 0;
    }

    bool done = false;
    for (int poll = 0; ok && !done && poll < kMaxPolls; ++poll) {
        std::this_thread::sleep_for(kPollInterval);
        if (poll == kFasterAtPoll) {
            for (const AxisMove &move : kMoves) {
                // A move that has already ended refuses the update (-3).
                const int faster = QAX_UpdateMoveVelocity(move.axis, kFasterVelocity);
                std::printf("axis %u faster: %.0f/s asked, at most %.1f/s   %d\n", move.axis, kFasterVelocity,
                            move.max_velocity, faster);
            }
        }
        done = true;
        std::printf("positions");
        for (const AxisMove &move : kMoves) {
            double position = 0.0;
            if (QAX_GetAxisPosition(move.axis, &position) != 0) ok = false;
            std::printf("   axis %u %10.5f", move.axis, position);
            done = done && reached(move, position);
        }
        std::printf("\n");
    }
    std::printf("targets reached     %s\n", done ? "yes" : "no");

    for (const AxisMove &move : kMoves) {
        std::printf("servo off axis %u   %d\n", move.axis, QAX_SRVONAxis(move.axis, 0));
    }
    std::printf("close controller    %d\n", QAX_Exit());
    return ok && done ? 0 : 1;
}
