// Search of the axes-group table for a group with a given set of axes, and
// the comparator that puts a group's axis numbers into ascending order.
#pragma once

#include <cstdint>

// Number of the first table entry (in table order) that has exactly n axes,
// each of which occurs in axisNumbers[0..n-1]; the list need not be sorted.
// 0 when no entry qualifies, the table is empty, axisNumbers is null or n
// lies outside 1..6 (no group has another size).
int McFindAxesGroup(const std::uint32_t *axisNumbers, int n);

// *a - *b: ascending order of axis numbers for the standard quicksort.
int McCompareAxisNo(const int *a, const int *b);
