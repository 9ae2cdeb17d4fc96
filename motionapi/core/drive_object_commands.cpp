// The drive-object commands 0x102b0001-0x102f0001 and the switch command
// 0x10300001 of the axis parameters: each writes one small value into the
// drive, waits until the drive reports the write finished, and for two
// drive types then has the drive store its parameters.
#include <cstdint>
#include <iterator>
#include <span>

#include "axis_parameters.h"
#include "axis_state.h"
#include "axis_types.h"
#include "checks.h"
#include "log_line.h"
#include "mc_constants.h"
#include "registers.h"
#include "transport.h"
#include "platform/platform.h"

namespace {

// The drive types the drive-object commands know.
constexpr std::uint32_t kTypeSequenced = 0x5e70003;  // numbers its writes by the axis's command sequence
constexpr std::uint32_t kTypeWideValues = 0x66f0100;
constexpr std::uint32_t kTypeByteValues = 0x5e70101;

constexpr std::uint32_t kStatus2DriveWrite = 0x1Fu;  // bits 0-4
constexpr std::uint32_t kStatus2Switch = 1u << 5;

// Every drive-object command's sending flag: the completion wait waits for all.
constexpr McSendFlag kDriveFlags[] = {kFlagParam2b, kFlagParam2c, kFlagParam2d, kFlagParam2e2f};

struct DriveCommand {
    std::uint32_t command;
    std::uint32_t fun;
    McSendFlag flag;
};

constexpr DriveCommand k102B{mc::kCmdParam2b, mc::kFunParam2b, kFlagParam2b};
constexpr DriveCommand k102C{mc::kCmdParam2c, mc::kFunParam2c, kFlagParam2c};
constexpr DriveCommand k102D{mc::kCmdParam2d, mc::kFunParam2d, kFlagParam2d};
constexpr DriveCommand k102E{mc::kCmdParam2e, mc::kFunParam2e, kFlagParam2e2f};
constexpr DriveCommand k102F{mc::kCmdParam2f, mc::kFunParam2f, kFlagParam2e2f};

// One drive object of one drive type and the value written for 1 and for 0.
struct DriveObject {
    std::uint32_t type;
    std::uint32_t object;
    std::uint32_t valueFor1;
    std::uint32_t valueFor0;
};

using ObjectRow = DriveObject[3];

// Ids 26-28: the sequenced type only.
constexpr DriveObject k102BObjects[] = {{kTypeSequenced, 0x3606, 1, 0}};
constexpr DriveObject k102CObjects[] = {{kTypeSequenced, 0x3607, 1, 0}};
constexpr DriveObject k102DObjects[] = {{kTypeSequenced, 0x3608, 1, 0}};

// Ids 29-31 by selector; the sequenced type writes 1 - on.
constexpr ObjectRow k102FObjects[] = {
    {{kTypeSequenced, 0x3602, 0, 1}, {kTypeWideValues, 0x3403, 0x222222, 0}, {kTypeByteValues, 0x3707, 0x22, 0}},
    {{kTypeSequenced, 0x3600, 0, 1}, {kTypeWideValues, 0x3405, 0x818181, 0}, {kTypeByteValues, 0x3705, 0x81, 0}},
    {{kTypeSequenced, 0x3601, 0, 1}, {kTypeWideValues, 0x3406, 0x828282, 0}, {kTypeByteValues, 0x3706, 0x82, 0}},
};

// Ids 32-34 by selector.
constexpr ObjectRow k102EObjects[] = {
    {{kTypeSequenced, 0x3605, 1, 0}, {kTypeWideValues, 0x3403, 0xa2a2a2, 0x222222}, {kTypeByteValues, 0x3707, 0xa2, 0x22}},
    {{kTypeSequenced, 0x3603, 1, 0}, {kTypeWideValues, 0x3405, 0x818181, 0x010101}, {kTypeByteValues, 0x3705, 0x81, 0x01}},
    {{kTypeSequenced, 0x3604, 1, 0}, {kTypeWideValues, 0x3406, 0x828282, 0x020202}, {kTypeByteValues, 0x3706, 0x82, 0x02}},
};

const DriveObject *FindObject(std::span<const DriveObject> objects, std::uint32_t type) {
    for (const DriveObject &o : objects) {
        if (o.type == type) {
            return &o;
        }
    }
    return nullptr;
}

// Sets a sending flag for the life of the object.
class SendingScope {
public:
    SendingScope(std::uint32_t index, McSendFlag flag) : record_(g_AxisRecords[index]), flag_(flag) {
        record_.SetSending(flag_, true);
    }
    ~SendingScope() { record_.SetSending(flag_, false); }
    SendingScope(const SendingScope &) = delete;
    SendingScope &operator=(const SendingScope &) = delete;

private:
    McAxisRecord &record_;
    McSendFlag flag_;
};

// A synchronous exchange whose board result 6729 means the drive refused
// the object (-9); transport -7, other board results -6.
int SendDriveRequest(McImmCmdBlock &block, std::uint32_t fun) {
    int r = McSendSyncImmCmd(block, fun);
    if (r == mc::kErrBoard && static_cast<std::int32_t>(McReplyWord(block, 4)) == mc::kBoardSdoAbort) {
        return mc::kErrDriveAbort;
    }
    return r;
}

bool AnyDriveFlag(const McAxisRecord &record) {
    for (McSendFlag flag : kDriveFlags) {
        if (record.Sending(flag)) {
            return true;
        }
    }
    return false;
}

// Polls the second status word until `bits` and the flags the caller names
// are clear: each round sleeps first. 0, -5 on a failed read, -4 after the
// last round.
template <typename FlagsSet>
int WaitForDrive(std::uint32_t index, std::uint32_t bits, FlagsSet flagsSet, std::uint32_t command,
                 std::uint32_t fun) {
    for (int round = 0; round < mc::kParamWaitRounds; ++round) {
        platform::sleep_ms(mc::kParamWaitSleepMs);
        std::uint32_t status2 = 0;
        if (McReadAxisStatus2(index, &status2) != 0) {
            return mc::kErrRegister;
        }
        if ((status2 & bits) == 0 && !flagsSet(g_AxisRecords[index])) {
            return mc::kOk;
        }
    }
    McLogError(mc::kCodeTimeout, mc::kMsgCommandTimeout, command, fun);
    return mc::kErrTimeout;
}

// The store-parameters command after a finished write.
int StoreParameters(std::uint32_t index, std::uint32_t fun) {
    McImmCmdBlock block;
    McCommandBuilder(block, mc::kCmdStoreParameters, index)
        .U32(mc::kStoreObject)
        .U32(mc::kStoreSubIndex)
        .U32(mc::kDriveObjectWord7)
        .U32(mc::kStoreSignature);
    return SendDriveRequest(block, fun);
}

// Steps 2 to 9 of a drive-object command with the value for n (0 or 1).
int WriteDriveObject(const DriveCommand &c, std::uint32_t index, std::span<const DriveObject> objects, int n,
                     bool storeAfter) {
    if (McIsModel7412()) {
        return McRefuseNoSupport(c.command, mc::kLimitModel7412Only);
    }
    if (int r = McCheckAxisParameterWrite(index, c.command); r != mc::kOk) {
        return r;
    }
    const std::uint32_t type = McAxisTypeFromSlaveId(index);
    const DriveObject *object = FindObject(objects, type);
    if (object == nullptr) {
        // The check admits only the types of the table.
        McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, c.command, mc::kFunCheckParamWrite);
        return mc::kErrConflict;
    }
    int r = mc::kOk;
    {
        SendingScope sending(index, c.flag);
        std::uint32_t second = 0;
        if (type == kTypeSequenced) {
            std::uint32_t seq = 0;
            if (r = McQueryAxisCmdSeq(index, &seq); r != mc::kOk) {
                return r;
            }
            second = seq + 1;
        }
        McImmCmdBlock block;
        McCommandBuilder(block, c.command, index)
            .U32(object->object)
            .U32(second)
            .U32(mc::kDriveObjectWord7)
            .U32(n == 1 ? object->valueFor1 : object->valueFor0);
        r = SendDriveRequest(block, c.fun);
    }
    if (r != mc::kOk) {
        return r;  // no store after a failed write
    }
    r = WaitForDrive(index, kStatus2DriveWrite, AnyDriveFlag, c.command, c.fun);
    if (r != mc::kOk || !storeAfter || type == kTypeSequenced) {
        return r;
    }
    return StoreParameters(index, c.fun);
}

int WriteSubObject(const DriveCommand &c, int n, std::uint32_t index, std::span<const DriveObject> objects) {
    if (n != 0 && n != 1) {
        return McRefuseInput(c.command, c.fun);
    }
    return WriteDriveObject(c, index, objects, n, false);
}

}  // namespace

int McSetAxisParam102B(int n, std::uint32_t index) { return WriteSubObject(k102B, n, index, k102BObjects); }

int McSetAxisParam102C(int n, std::uint32_t index) { return WriteSubObject(k102C, n, index, k102CObjects); }

int McSetAxisParam102D(int n, std::uint32_t index) { return WriteSubObject(k102D, n, index, k102DObjects); }

int McSetAxisParam102E(std::uint32_t selector, int n, std::uint32_t index) {
    if (selector >= std::size(k102EObjects) || (n != 0 && n != 1)) {
        return McRefuseInput(k102E.command, k102E.fun);
    }
    return WriteDriveObject(k102E, index, k102EObjects[selector], n, true);
}

int McSetAxisParam102F(std::uint32_t selector, int on, std::uint32_t index) {
    if (selector >= std::size(k102FObjects) || (on != 0 && on != 1)) {
        return McRefuseInput(k102F.command, k102F.fun);
    }
    return WriteDriveObject(k102F, index, k102FObjects[selector], on, true);
}

int McSetAxisParam1030(int on, std::uint32_t index) {
    constexpr std::uint32_t command = mc::kCmdParam30;
    constexpr std::uint32_t fun = mc::kFunParam30;
    if (McIsModel7412()) {
        return McRefuseNoSupport(command, mc::kLimitModel7412Only);
    }
    if (int r = McCheckAxisParameterWrite2(index); r != mc::kOk) {
        return r;
    }
    int r = mc::kOk;
    {
        SendingScope sending(index, kFlagParam30);
        McImmCmdBlock block;
        McCommandBuilder(block, command, index).I32(on);
        // The switch maps no board result of its own.
        r = McSendSyncImmCmd(block, fun);
    }
    if (r != mc::kOk) {
        return r;
    }
    return WaitForDrive(
        index, kStatus2Switch, [](const McAxisRecord &record) { return record.Sending(kFlagParam30); }, command, fun);
}
