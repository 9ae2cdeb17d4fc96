// Globals of the controller connection, shared by start-up, the transport
// and the poll thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

extern std::atomic<std::uint32_t> g_InitCount;
extern std::atomic<std::uint32_t> g_ControllerStatus;
extern std::atomic<std::uint32_t> g_bWritePermission;
extern std::atomic<std::uint32_t> g_bExit;
extern std::atomic<platform::MutexHandle> g_hCmdMutex;
extern std::atomic<platform::MutexHandle> g_hAssignMutex;
extern std::atomic<double> g_CyclePeriodMs;
extern std::atomic<std::uint32_t> g_ControllerModel;
extern std::atomic<std::int32_t> g_CardInfoValid;
inline constexpr std::uint32_t g_CardWord = 0;

// Waits for a mutex; true when this thread owns it afterwards.
bool McWaitOwned(platform::MutexHandle mutex, std::uint32_t timeoutMs);

// Marks the calling thread as the poll thread, which gives way to the
// application's threads at the command mutex.
void McMarkPollThread();

// Holds the command mutex for one board access (100 ms wait).
class McCmdLock {
public:
    McCmdLock();
    ~McCmdLock();
    McCmdLock(const McCmdLock &) = delete;
    McCmdLock &operator=(const McCmdLock &) = delete;
    bool owned() const { return owned_; }

private:
    platform::MutexHandle mutex_;
    bool owned_;
};
