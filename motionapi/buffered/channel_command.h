// Encoding of a planned node into one channel command, numbered with the
// channel's command sequence number and sent on the channel's link channel
// (channel + 2). Poll thread only.
//
// A send that fails (command mutex or COMM_ChannelCmd) is logged and held in
// the channel (ch.heldCommand), with the sequence number not advanced; the
// poll thread calls McSendHeldCommand before it steps that executor again,
// so the board receives the same bytes with the same number, and no later
// command overtakes it.
#pragma once

#include <cstdint>

#include "channel.h"

struct McEncodedCommand {
    McChannelCmdRequest request{};
    std::uint32_t length = 0;  // bytes sent, 0 for kinds without a command form
    bool marked = false;       // a marked kind: sets the last marked sequence number once sent
};

// Fills `out` for the planned node with `sequence`; false when the node
// cannot be encoded within 512 bytes (a kind-27 node of more than 12 axes,
// a step with more than 7 axes or an axis index above 31): such a node is
// logged and not sent.
bool McEncodeChannelNode(std::uint32_t channelNumber, std::uint32_t sequence, const McPlannedNode &node,
                         McEncodedCommand &out);

// 0 when the command was sent, -1 when it was not (held for a resend, or
// refused and dropped).
int McSendChannelNode(std::uint32_t ch, const McPlannedNode &node);

// With a held command: sends it again and returns 1 (the executor is not
// stepped in this pass). 0 when nothing is held; a held command of an
// earlier run, or one overtaken by a stop with link-channel reset, is
// dropped and 0 returned.
int McSendHeldCommand(std::uint32_t ch);
