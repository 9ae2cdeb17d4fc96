// Fixed-size record queue between the application's threads and the poll
// thread. Every ring locks the one named mutex "mutex", so the rings of all
// channels and of every process of the user are serialised by one lock.
#pragma once

#include <cstdint>

#include "platform/platform.h"

inline constexpr char kRingMutexName[] = "mutex";

struct McRing {
    std::uint32_t capacity;
    std::uint32_t recordSize;
    std::uint32_t readIndex;
    std::uint32_t writeIndex;
    std::uint32_t popped;
    std::uint32_t pushed;
    std::uint32_t reserve;  // kept free by the channel; the ring ignores it
    std::uint8_t *records;
    platform::MutexHandle mutex;
    std::uint32_t count;
};

// 1 on success; 0 when the storage or the mutex cannot be had.
int McRingCreate(McRing *ring, std::uint32_t capacity, std::uint32_t recordSize, std::uint32_t reserve);
void McRingDestroy(McRing *ring);
// 1 when copied in; 0 when the mutex was not obtained in 300 ms or the ring is full.
int McRingPush(McRing *ring, const void *record);
// 1 when the oldest record was copied out; 0 when not obtained or empty.
int McRingPop(McRing *ring, void *record);
// Empties the ring under its mutex; false (records kept) when not obtained.
bool McRingClear(McRing *ring);
// Records held, read under the mutex (0 when it is not obtained).
std::uint32_t McRingCount(McRing *ring);
