/* A machine builder's first program: opens the controller, shows the card,
 * enables axis 1, moves it to 10 units and back to 0 while printing its
 * position, disables it and closes the controller. Exits 0 when every step
 * succeeded and the axis reached both targets. Plain C against the installed
 * headers and libraries. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <time.h>

#include "motionapi.h"

enum { kAxis = 1, kMaxPolls = 100 };
static const double kVelocity = 50.0; /* units per second */
static const double kTolerance = 0.00001;

static void sleep_ms(long ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

/* Moves the axis to `target` and waits until it is there; 0 on success. */
static int move_to(double target) {
    int started = QAX_StartPMove(kAxis, target, kVelocity, 1);
    printf("move axis %d to %.1f     %d\n", kAxis, target, started);
    if (started != 0) return 1;
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        double position = 0.0;
        if (QAX_GetAxisPosition(kAxis, &position) != 0) return 1;
        printf("  position %9.5f\n", position);
        double off = position - target;
        if (off < kTolerance && off > -kTolerance) return 0;
        sleep_ms(20);
    }
    return 1;
}

int main(void) {
    int opened = QAX_Init();
    printf("open controller      %d\n", opened);
    if (opened != 0) return 1;

    McControllerInfo info = {0};
    int failed = QAX_GetControllerInfo(&info) != 0;
    printf("card                 %.*s\n", (int)sizeof info.name, info.name);

    int on = QAX_SRVONAxis(kAxis, 1);
    printf("servo on axis %d      %d\n", kAxis, on);
    failed = failed || on != 0 || move_to(10.0) != 0 || move_to(0.0) != 0;
    printf("servo off axis %d     %d\n", kAxis, QAX_SRVONAxis(kAxis, 0));

    int closed = QAX_Exit();
    printf("close controller     %d\n", closed);
    printf("%s\n", failed || closed != 0 ? "consumer failed" : "consumer passed");
    return failed || closed != 0 ? 1 : 0;
}
