#include "ring.h"

#include <cstring>
#include <new>

#include "../core/connection.h"
#include "../core/mc_constants.h"

namespace {

void ResetCounters(McRing *ring) {
    ring->readIndex = 0;
    ring->writeIndex = 0;
    ring->popped = 0;
    ring->pushed = 0;
    ring->count = 0;
}

}  // namespace

int McRingCreate(McRing *ring, std::uint32_t capacity, std::uint32_t recordSize, std::uint32_t reserve) {
    std::size_t bytes = static_cast<std::size_t>(capacity) * recordSize;
    // Storage of the same size is kept (its records are dropped all the same),
    // so every start-up does not churn through the input rings' megabytes.
    bool keep = ring->records != nullptr && static_cast<std::size_t>(ring->capacity) * ring->recordSize == bytes;
    if (!keep) {
        delete[] ring->records;
        ring->records = nullptr;
    }
    ResetCounters(ring);
    ring->capacity = 0;
    ring->recordSize = 0;
    ring->reserve = 0;
    if (ring->mutex != platform::kNoMutex) {
        platform::close_mutex(ring->mutex);  // a remade ring opens the mutex again
        ring->mutex = platform::kNoMutex;
    }
    if (!keep) {
        ring->records = new (std::nothrow) std::uint8_t[bytes == 0 ? 1 : bytes];
    }
    if (ring->records == nullptr) {
        return 0;
    }
    ring->capacity = capacity;
    ring->recordSize = recordSize;
    ring->reserve = reserve;
    ring->mutex = platform::create_named_mutex(kRingMutexName);
    return ring->mutex != platform::kNoMutex ? 1 : 0;
}

void McRingDestroy(McRing *ring) {
    delete[] ring->records;
    if (ring->mutex != platform::kNoMutex) {
        platform::close_mutex(ring->mutex);
    }
    std::memset(ring, 0, sizeof *ring);
}

int McRingPush(McRing *ring, const void *record) {
    if (ring->records == nullptr || !McWaitOwned(ring->mutex, mc::kRingMutexWaitMs)) {
        return 0;
    }
    if (ring->count >= ring->capacity) {
        platform::release_mutex(ring->mutex);
        return 0;
    }
    std::uint8_t *slot = ring->records + static_cast<std::size_t>(ring->writeIndex) * ring->recordSize;
    std::memcpy(slot, record, ring->recordSize);
    ring->writeIndex = ring->writeIndex + 1 >= ring->capacity ? 0 : ring->writeIndex + 1;
    ring->pushed += 1;
    ring->count = ring->pushed - ring->popped;
    platform::release_mutex(ring->mutex);
    return 1;
}

int McRingPop(McRing *ring, void *record) {
    if (ring->records == nullptr || !McWaitOwned(ring->mutex, mc::kRingMutexWaitMs)) {
        return 0;
    }
    if (ring->count == 0) {
        ResetCounters(ring);
        platform::release_mutex(ring->mutex);
        return 0;
    }
    const std::uint8_t *slot = ring->records + static_cast<std::size_t>(ring->readIndex) * ring->recordSize;
    std::memcpy(record, slot, ring->recordSize);
    ring->popped += 1;
    ring->count = ring->pushed - ring->popped;
    ring->readIndex = ring->readIndex + 1 >= ring->capacity ? 0 : ring->readIndex + 1;
    platform::release_mutex(ring->mutex);
    return 1;
}

bool McRingClear(McRing *ring) {
    if (!McWaitOwned(ring->mutex, mc::kRingMutexWaitMs)) {
        return false;
    }
    ResetCounters(ring);
    platform::release_mutex(ring->mutex);
    return true;
}

std::uint32_t McRingCount(McRing *ring) {
    if (!McWaitOwned(ring->mutex, mc::kRingMutexWaitMs)) {
        return 0;
    }
    std::uint32_t count = ring->count;
    platform::release_mutex(ring->mutex);
    return count;
}
