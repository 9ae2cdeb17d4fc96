// Checks of the nodes that the application appends to a buffered path
// channel or to a command list. A check decides whether the channel accepts
// nodes now and whether the node's axes, group, compare output or I/O slave
// may be used; unlike the command checks it also takes the node's axes into
// the channel (owner channel, in-channel field and, for path channels, the
// planned position). Each returns 0 when the node may be queued, else the
// result the builder or encoder returns unchanged (1, -2, -3 or -5), after
// one refusal line "CMD=0x%x, FUN=0x%x, <message>" under the checks' module.
#pragma once

#include <atomic>
#include <cstdint>

#include "mc_constants.h"

// Channel numbers as the node checks receive them: 0..3 the path channels,
// 10 + n command list n. Any other number is a channel that has not been
// started.
inline constexpr std::uint32_t kCtChannelBase = 10;
inline constexpr std::uint32_t kCtListCount = 4;

// Started flag of each command list: 1 after a successful start, 0 after a
// stop or an accepted end node. The command lists write it; the node checks
// read it as the lists' accepting flag.
extern std::atomic<std::uint32_t> g_CtStarted[kCtListCount];

// True for 0..3 and 10..13.
bool McIsNodeChannel(int channel);

// Node-acceptance flag of a path channel or started flag of a command list;
// 0 for any other number.
std::uint32_t McChannelAccepting(int channel);

// The accepting test alone: -3 "Channel not start" when channel c does not
// accept nodes now.
int McCheckChannelStarted(int channel, std::uint32_t command);

// A line node on one axis (internal index). No accepting test before the
// axis has to be taken.
int McCheckChannelLineNode(int channel, std::uint32_t index, std::uint32_t command);

// A line node on axes group number group + 1: every member is checked and
// taken in table order; members taken before a refusal stay taken.
int McCheckChannelPathNode(int channel, std::uint32_t group, std::uint32_t command);

// Compare start node (type 9).
int McCheckChannelCompareNode(int channel, std::uint32_t index, std::uint32_t command);
// Axis position value node (type 11).
int McCheckChannelCompareNode2(int channel, std::uint32_t index, std::uint32_t command);
// Compare stop node (type 10).
int McCheckChannelCompareNode3(int channel, std::uint32_t index, std::uint32_t command);

// Digital output node: output number n of I/O slave `slave`.
int McCheckChannelIoNode(int channel, std::uint32_t slave, int n, std::uint32_t command);
// Analog output node: analog channel n of I/O slave `slave`.
int McCheckChannelAoNode(int channel, std::uint32_t slave, int n, std::uint32_t command);

// Position save or restore node on one axis.
int McCheckChannelNodeLines(int channel, std::uint32_t index, std::uint32_t command);

// Command-list input wait: k slaves and one input number of each.
int McCheckCtIoNode(int channel, int count, const std::uint32_t *slaves, const int *inputs,
                    std::uint32_t command);

// Frees every axis owned by channel c (owner all ones, in-channel field 0);
// the stop of a channel or list calls it.
void McReleaseChannelAxes(int channel);
