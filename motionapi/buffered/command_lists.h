// The four command lists: queues of nodes that the board runs by itself.
// The application fills a list node by node (QAX_CT_SetBufferNode), each
// node checked, converted and sent at once on the list's link channel, and
// starts, pauses, resumes, stops, resets and queries it with the other
// QAX_CT_ exports. The host keeps one started flag per list (g_CtStarted,
// node_checks.h) and the ownership of the list's axes.
#pragma once

#include <cstdint>

#include "../core/transport.h"
#include "ct_encoding.h"

// Sends an encoded node on list ct's link channel under the command mutex
// and applies its effects (end node, compare stop); after a failed send it
// clears the node's line bits again. 0, or -7 after the log line.
int McSendCtNode(int ct, const McImmCmdBlock &block, const McCtNodeEffects &effects);
