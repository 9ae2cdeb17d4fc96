// Controller status, information and logs, the EtherCAT functions and the
// channel work status.
#include <cstddef>
#include <cstring>

#include "../buffered/channel.h"
#include "checks.h"
#include "comm_calls.h"
#include "connection.h"
#include "journal.h"
#include "log_line.h"
#include "motionapi.h"

static_assert(sizeof(McControllerInfo) == 396);
static_assert(offsetof(McControllerInfo, entries) == 28);

namespace {

constexpr int kMinInfoBuffer = 100;
constexpr std::size_t kInfoBytes = 100;
constexpr std::size_t kRecordTextOffset = 19;
constexpr std::size_t kRecordLengthOffset = 18;

constexpr std::size_t kCardInfoSize = 348;
constexpr std::size_t kCardNameOffset = 32;
constexpr std::size_t kControllerNameSize = sizeof(McControllerInfo::name);
constexpr std::size_t kCardLogInfoSize = 124;
constexpr std::size_t kModuleInfoSize = 44;
constexpr std::size_t kServerInfoSize = 72;
constexpr std::size_t kServerVersionOffset = 32;
constexpr std::size_t kDriverNameSize = 64;
constexpr std::size_t kDriverVersionSize = 8;
constexpr std::size_t kDriverTextSize = 64;
constexpr int kModuleBlockSize = 704;
constexpr std::size_t kModuleEntrySize = 44;

constexpr std::uint32_t kBoardModuleEntries = 17;
constexpr std::uint32_t kInfoEntries = 23;
constexpr std::uint32_t kInfoIdOffset = 83;  // entries 17-22 are ids 100-105
constexpr std::uint32_t kIdDriver = 100;
constexpr std::uint32_t kIdServer = 101;
constexpr std::uint32_t kIdLogModules = 102;
constexpr std::uint32_t kIdLast = 105;

constexpr int kSourceHost = 0;
constexpr int kSourceBoard = 1;

std::uint32_t Word(const std::uint8_t *bytes) {
    std::uint32_t w = 0;
    std::memcpy(&w, bytes, sizeof w);
    return w;
}

void WidenVersions(const std::uint8_t *versions, std::uint32_t *entry) {
    for (std::size_t i = 0; i < 4; ++i) {
        std::uint16_t v = 0;
        std::memcpy(&v, versions + 2 * i, sizeof v);
        entry[i] = v;
    }
}

int InfoEntryFailure(int code) {
    McLogError(mc::kCodeCommError, mc::kMsgCommError, mc::kCmdControllerInfoEntry, mc::kFunControllerInfoEntry, code);
    return mc::kErrTransport;
}

int McGetControllerInfoCmd(std::uint32_t id, std::uint32_t *entry) {
    if (id < kBoardModuleEntries) {
        std::uint8_t record[kModuleInfoSize] = {};
        int r = McComm().ReadCardModuleInfo(static_cast<int>(id), record);
        if (r != 0) {
            return InfoEntryFailure(r);
        }
        WidenVersions(record, entry);
    } else if (id == kIdDriver) {
        char name[kDriverNameSize] = {};
        std::uint8_t version[kDriverVersionSize] = {};
        char text[kDriverTextSize] = {};
        int r = McComm().GetDriverVersion(name, sizeof name, version, sizeof version, text, sizeof text);
        if (r != 0) {
            return InfoEntryFailure(r);
        }
        WidenVersions(version, entry);
    } else if (id == kIdServer) {
        std::uint8_t record[kServerInfoSize] = {};
        if (McComm().GetServerInfo(record) != 0) {
            return mc::kErrTransport;
        }
        std::memcpy(entry, record + kServerVersionOffset, 16);
    } else if (id >= kIdLogModules && id <= kIdLast) {
        std::uint8_t block[kModuleBlockSize] = {};
        int length = 0;
        if (McComm().LogBufData(0, block, kModuleBlockSize, &length) != 0) {
            return mc::kErrTransport;
        }
        const std::uint8_t *module = block + (id - kIdLogModules) * kModuleEntrySize;
        bool empty = true;
        for (std::size_t i = 0; i < kModuleEntrySize; ++i) {
            empty = empty && module[i] == 0;
        }
        if (empty) {
            return mc::kErrParameter;
        }
        WidenVersions(module, entry);
    }
    return mc::kOk;
}

int EcatFailure(int r, std::uint32_t fun, bool withCode) {
    if (r == mc::kCommNotConnected) {
        McLogError(mc::kCodeCommError, mc::kMsgCommNotInit, fun);
    } else if (r == mc::kCommHasExit) {
        McLogError(mc::kCodeCommError, mc::kMsgCommHasExit, fun);
    } else if (withCode) {
        McLogError(mc::kCodeCommError, mc::kMsgOtherPkError, fun, r);
    } else {
        McLogError(mc::kCodeCommError, mc::kMsgOtherPkErrorNoCode, fun);
    }
    return mc::kErrBoard;
}

}  // namespace

extern "C" {

MOTIONAPI_API int QAX_CALL QAX_GetLog(int source, int index, uint8_t *level, uint32_t *code, uint32_t *info,
                                     int bufSize, int *len) {
    if (bufSize < kMinInfoBuffer || level == nullptr || code == nullptr || info == nullptr || len == nullptr) {
        McLogError(mc::kCodeInputParameter, mc::kMsgInputParameter, mc::kCmdReadLog, mc::kFunGetLog);
        return mc::kErrParameter;
    }
    if (source == kSourceBoard) {
        int check = McCheckLogReadConflict();
        if (check != 0) {
            return check;
        }
        std::uint8_t record[kCardLogInfoSize] = {};
        int r = McComm().ReadCardLogInfo(index, record);
        if (r != 0) {
            McLogError(mc::kCodeCommError, mc::kMsgCommError, mc::kCmdReadLog, mc::kFunGetLog, r);
            return mc::kErrTransport;
        }
        std::uint8_t length = record[kRecordLengthOffset];
        *len = length;
        if (length != 0) {
            std::uint32_t word0 = Word(record);
            *level = static_cast<std::uint8_t>((word0 >> 14) & 3u);
            *code = word0 & 0x3FFFu;
            std::memcpy(info, record + kRecordTextOffset, kInfoBytes);
        }
    } else if (source == kSourceHost) {
        const JournalLogRecord *p = LOG_GetLog(index);
        if (p != nullptr) {
            const auto *bytes = reinterpret_cast<const std::uint8_t *>(p);
            std::uint32_t word0 = Word(bytes);
            *level = static_cast<std::uint8_t>((word0 >> 14) & 3u);
            *code = (static_cast<std::uint32_t>(p->codeHigh) << 8) | (word0 & 0xFFu);
            std::memcpy(info, bytes + kRecordTextOffset, kInfoBytes);
            *len = bytes[kRecordLengthOffset];
        } else {
            *len = 0;
        }
    } else {
        McLogError(mc::kCodeInputParameter, mc::kMsgInputParameter, mc::kCmdReadLog, mc::kFunGetLog);
        return mc::kErrParameter;
    }
    if (bufSize >= *len) {
        return mc::kOk;
    }
    McLogError(mc::kCodeInputParameter, mc::kMsgInfoBufferShort, mc::kCmdReadLog, mc::kFunGetLog);
    return mc::kErrParameter;
}

MOTIONAPI_API int QAX_CALL QAX_GetControllerStatus(int which, int *status) {
    if (which != 1 || status == nullptr) {
        McLogError(mc::kCodeStatusParameter, mc::kMsgStatusParameter, mc::kFunControllerStatus);
        return mc::kErrParameter;
    }
    switch (g_ControllerStatus.load()) {
    case 1:
        *status = 1;
        break;
    case 16:
        *status = -1;
        break;
    case 17:
        *status = -2;
        break;
    case 18:
        *status = -3;
        break;
    default:
        *status = -4;
        break;
    }
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_GetControllerInfo(McControllerInfo *info) {
    if (info == nullptr) {
        McLogError(mc::kCodeInputParameter, mc::kMsgInputParameter, mc::kCmdControllerInfo, mc::kFunControllerInfo);
        return mc::kErrParameter;
    }
    std::uint8_t card[kCardInfoSize] = {};
    int r = McComm().ReadCardInfo(card);
    if (r != 0) {
        McLogError(mc::kCodeCommError, mc::kMsgCommError, mc::kCmdControllerInfo, mc::kFunControllerInfo, r);
        return mc::kErrTransport;
    }
    const char *name = reinterpret_cast<const char *>(card + kCardNameOffset);
    const void *end = std::memchr(name, 0, kControllerNameSize);
    std::size_t nameLength =
        end != nullptr ? static_cast<std::size_t>(static_cast<const char *>(end) - name) : kControllerNameSize;
    std::memcpy(info->name, name, nameLength);
    for (std::uint32_t k = 0; k < kInfoEntries; ++k) {
        std::uint32_t id = k < kBoardModuleEntries ? k : k + kInfoIdOffset;
        int result = McGetControllerInfoCmd(id, info->entries[k]);
        if (result < 0) {
            return result;
        }
    }
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_StartEcatComm(void) {
    int r = McComm().StartCardECLR();
    return r == 0 ? mc::kOk : EcatFailure(r, mc::kFunEcatStart, true);
}

MOTIONAPI_API int QAX_CALL QAX_StopEcatComm(void) {
    int r = McComm().StopCardECLR();
    return r == 0 ? mc::kOk : EcatFailure(r, mc::kFunEcatStopStatus, false);
}

MOTIONAPI_API int QAX_CALL QAX_GetEcatCommStatus(void) {
    int state = 0;
    int r = McComm().ReadCardECLRStatus(&state);
    if (r != 0) {
        return EcatFailure(r, mc::kFunEcatStopStatus, false);
    }
    return state == mc::kEcatRunningState ? 1 : 0;
}

MOTIONAPI_API int QAX_CALL QAXT_STD_GetChannelWorkStatus(int ch) {
    auto number = static_cast<std::uint32_t>(ch);  // negative numbers are refused too
    if (number >= mc::kChannelCount) {
        return 0;
    }
    return static_cast<int>(g_Channels[number].workStatus.load(std::memory_order_relaxed));
}

}  // extern "C"
