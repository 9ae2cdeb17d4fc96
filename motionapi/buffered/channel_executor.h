// The per-channel state machine the poll thread steps once per pass.
#pragma once

#include "channel.h"

// 1 when `out` was filled (sent only when its kind, word 1, is non-zero),
// 0 when there is nothing to send.
int McChannelExecutorStep(McChannel &ch, McPlannedNode &out);
