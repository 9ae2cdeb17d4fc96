// The per-channel state machine the poll thread steps once per pass: stop
// and reset, fetch, dispatch by node type, pause, the planning of path
// segments, the condition, mark and axis waits, and the look-ahead pass
// before lines and arcs.
#pragma once

#include <cstdint>

#include "channel.h"

// 1 when `out` was filled (sent only when its kind, word 1, is non-zero),
// 0 when there is nothing to send.
int McChannelExecutorStep(McChannel &ch, McPlannedNode &out);

// Called by the poll thread after it has sent what the step produced (or
// held it for a resend): a stop that ended the run publishes work status 0
// only now, once nothing of the run is left to send, so that a start in
// between can neither receive the old end command nor be ended by it.
void McChannelExecutorAfterSend(McChannel &ch);

// Images the condition waits test: three images of 1600 bits (sources 0..2,
// bit n in byte n / 8, least significant bit first) and one of 1000 words
// (any other source). Nothing in the library fills them; they hold zeros
// unless a caller sets them.
inline constexpr std::uint32_t kWaitBitImages = 3;
inline constexpr std::uint32_t kWaitImageBits = 1600;
inline constexpr std::uint32_t kWaitImageWords = 1000;
extern std::uint8_t g_WaitBitImage[kWaitBitImages][kWaitImageBits / 8];
extern std::int32_t g_WaitWordImage[kWaitImageWords];

// ---------------------------------------------------------------- shared by the executor files

// Planned-node kind of the end-of-program command.
inline constexpr std::uint32_t kPlannedProgramEnd = 16;

// Dispatch of the current node (state 4); the result of the step.
int McExecutorDispatch(McChannel &ch, McPlannedNode &out);
// The planning state (6): one planning step.
int McExecutorPlanningStep(McChannel &ch, McPlannedNode &out);
// Arming of the condition and mark waits with a time-out in seconds.
void McExecutorArmWait(McChannel &ch, double timeoutSeconds);
// The condition wait (state 8), the mark wait (9) and the axis wait (10).
int McExecutorConditionWait(McChannel &ch);
int McExecutorMarkWait(McChannel &ch);
int McExecutorAxisWait(McChannel &ch);
