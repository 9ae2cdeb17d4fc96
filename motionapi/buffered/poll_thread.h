// The library's one background thread and the channel tables it works on.
#pragma once

#include <cstdint>

extern double g_LineJoinTolerance;
extern double g_ArcRadiusTolerance;
extern double g_ArcChordTolerance;

// Makes the channel tables and starts the poll thread: 0, or -1.
int McInitChannelTables();
// The thread procedure; returns 1 when it ends.
int McPollThread(void *parameter);
// One pass of the poll thread.
void McPollPass();
// Sets the exit flag and joins the poll thread when it runs.
void McStopPollThread();
// Whether a poll thread was started and not yet joined.
bool McPollThreadRunning();
