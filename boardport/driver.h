// Process-wide driver state and the requests shared by the parts of boardport.
#pragma once

#include <array>
#include <cstdint>

#include "constants.h"

namespace boardport {

// True while the device handle is valid (after a successful WDF_Init).
bool device_open();

// Single register access without the lock (mailbox and idle-wait work):
// requests 0x222094 / 0x222098. 0 ok, -1 not open, -4 failed or short.
// A failed read stores 0.
int unlocked_read(std::uint32_t index, std::uint32_t *value);
int unlocked_write(std::uint32_t index, std::uint32_t value);

// One request on the device handle: true when the driver reported success;
// *returned gets the bytes reported (0 when nothing came back). The caller has
// checked device_open().
bool device_request(std::uint32_t code, const void *in, std::uint32_t in_len, void *out, std::uint32_t out_len,
                    std::uint32_t *returned);

// Runs `body` holding "SyncMutex" (waiting at most 1000 ms); -3 when the lock
// was not obtained. A lock abandoned by a holder that died is taken over
// (and the takeover logged once).
template <typename Body>
int with_sync_lock(Body &&body);

// Lock handling behind with_sync_lock.
bool acquire_sync_lock();
void release_sync_lock();

// Register indices of the immediate-command mailbox (0x8D0..0x9CF), filled by WDF_Init.
extern std::array<std::uint32_t, kImmediateMailboxSize> g_ImmediateMailboxTable;

template <typename Body>
int with_sync_lock(Body &&body) {
    if (!acquire_sync_lock()) {
        return kLockOrRequest;
    }
    const int result = body();
    release_sync_lock();
    return result;
}

}  // namespace boardport
