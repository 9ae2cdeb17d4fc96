// Search of the axes-group table for a group with a given set of axes, and
// the comparator that puts a group's axis numbers into ascending order.
#pragma once

#include <cstdint>

#include "mc_constants.h"

// Number of the first table entry (in table order) that has exactly n axes,
// each of which occurs in axisNumbers[0..n-1]; the list need not be sorted.
// 0 when no entry qualifies, the table is empty, axisNumbers is null or n
// lies outside 1..6 (no group has another size).
int McFindAxesGroup(const std::uint32_t *axisNumbers, int n);

// *a - *b: ascending order of axis numbers for the standard quicksort.
int McCompareAxisNo(const int *a, const int *b);

// Members of a defined group, checked against the axis map.
struct McGroupMembers {
    std::uint32_t count = 0;
    std::uint32_t indices[mc::kMaxGroupAxes] = {};  // internal axis indices, in table order
};

// Checks the table entry of group number g (1..16) before a group command
// uses its members: the table comes from the server, so an entry with more
// than six axes, or an axis number outside 1..32 or not configured, gives
// "AxisNo Parameter error" (-2) with the caller's command and FUN. A group
// without an entry passes (its state check refuses it); 0 and *members
// filled otherwise (count 0 for a group without an entry).
int McCheckGroupMembers(std::uint32_t groupNumber, std::uint32_t command, std::uint32_t fun,
                        McGroupMembers *members);

// Writes group g (1..16) with `count` sorted axis numbers into the host
// table: its own entry, or a new one at the end. false, with nothing
// changed, when the group has no entry and all 16 are in use.
bool McCanStoreGroup(std::uint32_t groupNumber);
void McStoreGroupEntry(std::uint32_t groupNumber, const int *sortedAxes, int count);
// Hands the whole host table to the server (variable 1026): 0, or -7 with
// the "COMM return error" line.
int McWriteBackGroupTable();
