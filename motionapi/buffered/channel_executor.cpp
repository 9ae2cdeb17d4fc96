#include "channel_executor.h"

int McChannelExecutorStep(McChannel &ch, McPlannedNode &out) {
    (void)out;
    if (ch.executorState == kStateIdle) {
        return 0;  // an idle channel does nothing
    }
    // The states of a running channel come with the channel family; until
    // then a started channel produces nothing.
    return 0;
}
