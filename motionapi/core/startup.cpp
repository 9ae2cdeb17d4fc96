#include "startup.h"

#include <cstring>

#include "../buffered/poll_thread.h"
#include "axis_state.h"
#include "board_tables.h"
#include "comm_calls.h"
#include "connection.h"
#include "journal.h"
#include "log_line.h"
#include "motionapi.h"
#include "registers.h"
#include "transport.h"

namespace {

constexpr std::uint32_t kNoChannelField = 15;

void WriteIdentityRecords() {
    LOG_SetLog(mc::kLevelIdentity, mc::kModuleApi, mc::kIdentityName, mc::kIdentityNameText,
               static_cast<int>(sizeof mc::kIdentityNameText - 1));
    LOG_SetLog(mc::kLevelIdentity, mc::kModuleApi, mc::kIdentityVersion, mc::kIdentityVersionText,
               static_cast<int>(sizeof mc::kIdentityVersionText - 1));
    McLog(mc::kLevelIdentity, mc::kModuleApi, mc::kIdentityBuild, mc::kIdentityBuildFormat, __DATE__, __TIME__);
}

bool HasCommLayerBits(int r) { return (static_cast<unsigned>(r) & static_cast<unsigned>(mc::kCommLayerBits)) != 0; }

void CloseMutex(std::atomic<platform::MutexHandle> &handle) {
    platform::MutexHandle old = handle.exchange(platform::kNoMutex);
    if (old != platform::kNoMutex) {
        platform::close_mutex(old);
    }
}

// Group number of the first group entry listing axis number n, 0 if none.
std::uint32_t GroupOfAxis(std::uint32_t axisNumber) {
    std::uint32_t entries = McGroupEntryCount();
    for (std::uint32_t e = 0; e < entries; ++e) {
        std::uint32_t number = g_AxesGroupTable.entries[e].groupNumber;
        if (number < 1 || number > mc::kMaxGroups) {
            continue;
        }
        for (std::uint32_t k = 0; k < McGroupMemberCount(e); ++k) {
            if (g_AxesGroupTable.entries[e].axisNumbers[k] == axisNumber) {
                return number;
            }
        }
    }
    return 0;
}

}  // namespace

int McReadAxisSlaveMap() {
    std::uint32_t axes = McConfiguredAxisCount();
    for (std::uint32_t a = 0; a < axes; ++a) {
        std::uint32_t v = 0;
        int code = mc::kMutexFailedCode;
        {
            McCmdLock lock;
            if (lock.owned()) {
                code = McComm().ReadRegister32(McAxisRegister(a, mc::kAxisRegState), &v);
            }
        }
        if (code != 0) {
            McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegisterNoCode, mc::kFunAxisStatus);
            return -1;
        }
        McAxisRecord &r = g_AxisRecords[a];
        std::uint32_t c = (v >> 8) & 0xFu;
        r.inChannel.store(c < kNoChannelField ? 1 : 0, std::memory_order_relaxed);
        std::int32_t owner = c < kNoChannelField ? static_cast<std::int32_t>(c) : kNoChannel;
        r.ownerChannel.store(owner, std::memory_order_relaxed);

        bool grouped = ((v >> 12) & 0xFu) != 0;
        r.inGroup.store(grouped ? 1 : 0, std::memory_order_relaxed);
        r.groupNumber.store(grouped ? GroupOfAxis(McAxisNumberOfIndex(a)) : 0, std::memory_order_relaxed);

        std::uint32_t kind = (v >> 16) & 0xFu;
        auto target = static_cast<std::int8_t>((v >> 20) & 0xFFu);
        bool targetValid = target >= 0 && static_cast<std::uint32_t>(target) < mc::kMaxAxes;
        if (kind == 0 || ((kind == 1 || kind == 2) && !targetValid)) {
            r.linkA.store(0, std::memory_order_relaxed);
            r.linkB.store(0, std::memory_order_relaxed);
        } else if (kind == 1) {
            r.linkA.store(McAxisNumberOfIndex(static_cast<std::uint32_t>(target)), std::memory_order_relaxed);
            r.linkB.store(0, std::memory_order_relaxed);
        } else if (kind == 2) {
            r.linkA.store(0, std::memory_order_relaxed);
            r.linkB.store(static_cast<std::uint32_t>(target) + 1, std::memory_order_relaxed);
        }
        r.linkState.store(0, std::memory_order_relaxed);
    }
    return 0;
}

int McReadCyclePeriod() {
    std::uint32_t value = 0;
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            code = McComm().ReadRegister32(mc::kRegCyclePeriodUs, &value);
        }
    }
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegisterBlank, mc::kFunCyclePeriod, code);
        return -1;
    }
    g_CyclePeriodMs.store(static_cast<double>(static_cast<std::int32_t>(value)) / 1000.0);
    std::uint32_t axes = McConfiguredAxisCount();
    for (std::uint32_t i = 0; i < axes; ++i) {
        g_AxisRecords[i].ResetAssignment();
        g_IoSlaveStatus[i].busy.store(0, std::memory_order_relaxed);
    }
    return McReadAxisSlaveMap();
}

int McStartupChecks() {
    std::uint32_t state = 0;
    if (McReadEcatState(&state) != 0) {
        return mc::kErrRegister;
    }
    if (state != 1) {
        McLogError(mc::kCodeStartupState, mc::kMsgEcatNotOp);
        return mc::kErrBoard;
    }
    if (McLoadBoardTables() != 0) {
        return mc::kErrTransport;
    }
    if (McReadCyclePeriod() != 0) {
        return mc::kErrRegister;
    }
    int r = McComm().RegisterPermission(mc::kPermissionFull);
    if (r >= 1 && r <= 3) {
        g_bWritePermission.store(r == mc::kPermissionFull ? 1 : 0);
        return mc::kOk;
    }
    McLogError(mc::kCodeStartupState, mc::kMsgPermissionFailed);
    return mc::kErrRegister;
}

extern "C" {

MOTIONAPI_API int QAX_CALL QAX_Init(void) {
    if (g_InitCount.load() != 0) {
        return mc::kRefused;
    }
    int r = McComm().Init();
    if (r == 0 || r == mc::kCommAlreadyInit) {
        g_ControllerStatus.store(1);
    } else if (!HasCommLayerBits(r)) {
        g_ControllerStatus.store(static_cast<std::uint32_t>(r));
        McLog(mc::kLevelStartup, mc::kModuleApi, mc::kCodeStartup, mc::kMsgWdfInit, r);
        return mc::kErrConflict;
    } else if (r != mc::kCommStartedAnyway) {
        McLog(mc::kLevelStartup, mc::kModuleApi, mc::kCodeStartup, mc::kMsgCommInit, r);
        return mc::kErrNotConfigured;
    }

    WriteIdentityRecords();
    McComm().SetParameter(mc::kDriverParameterId, mc::kDriverParameterValue);

    r = McComm().Reset(mc::kResetAllRegisters);
    if (r != 0) {
        bool layer = HasCommLayerBits(r);
        McLog(mc::kLevelStartup, mc::kModuleApi, mc::kCodeStartup, layer ? mc::kMsgCommReset : mc::kMsgCommInit, r);
        return layer ? mc::kErrNotConfigured : mc::kErrConflict;
    }

    // Handles left by an earlier failed start-up are closed, not leaked.
    CloseMutex(g_hCmdMutex);
    CloseMutex(g_hAssignMutex);
    g_hCmdMutex.store(platform::create_mutex());
    if (g_hCmdMutex.load() != platform::kNoMutex) {
        g_hAssignMutex.store(platform::create_mutex());
    }
    if (g_hCmdMutex.load() == platform::kNoMutex || g_hAssignMutex.load() == platform::kNoMutex) {
        McLog(mc::kLevelStartup, mc::kModuleApi, mc::kCodeMutexCreate, mc::kMsgDioInit, -1);
        return mc::kErrTimeout;
    }

    if (McInitChannelTables() != 0) {
        return mc::kErrTimeout;
    }

    g_InitCount.fetch_add(1);
    return McStartupChecks();
}

MOTIONAPI_API int QAX_CALL QAX_GetInitStatus(void) {
    if (g_InitCount.load() == 0) {
        return mc::kErrParameter;
    }
    return McStartupChecks();
}

MOTIONAPI_API int QAX_CALL QAX_Exit(void) {
    if (g_bWritePermission.load() == 0) {
        McLogCheck(mc::kCodeRefused, mc::kMsgNoWritePermission, mc::kCmdExit, mc::kLimitWritePermission);
    } else {
        McImmCmdBlock block;
        McCommandBuilder::Untargeted(block, mc::kCmdExit);
        int r = McSendSyncImmCmd(block, mc::kFunExit);
        if (r != mc::kOk) {
            return r;
        }
    }
    g_bExit.store(1);
    platform::sleep_ms(mc::kExitPauseMs);
    // The thread uses the mutexes and tables: it has ended before they close.
    McStopPollThread();
    CloseMutex(g_hCmdMutex);
    CloseMutex(g_hAssignMutex);
    McComm().RegisterPermission(mc::kPermissionNone);
    McComm().Exit();
    g_InitCount.store(0);
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_RegisterWritePermission(int mode) {
    if (mode != 0 && mode != 1) {
        McLogError(mc::kCodeInputParameter, mc::kMsgInputParameter, mc::kCmdPermission, mc::kFunPermission);
        return mc::kErrParameter;
    }
    int level = mode == 0 ? mc::kPermissionNone : mc::kPermissionFull;
    int other = mode == 0 ? mc::kPermissionFull : mc::kPermissionNone;
    int r = McComm().RegisterPermission(level);
    if (r == level) {
        g_bWritePermission.store(static_cast<std::uint32_t>(mode));
        return mc::kOk;
    }
    if (r == other) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgRunConflict, mc::kCmdPermission, mc::kFunPermission);
        return mc::kErrConflict;
    }
    McLogError(mc::kCodePermission, mc::kMsgCommunicationError, mc::kCmdPermission, mc::kFunPermission, r);
    return mc::kErrTransport;
}

}  // extern "C"
