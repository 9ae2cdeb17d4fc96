// QAX_SetAxisParameter: picks the road by parameter id. Most ids go to the
// parameter command 0x10030000, which sends a count and waits for nothing;
// ids 26-34 write drive objects and id 35 flips the drive's switch (see
// drive_object_commands.cpp).
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "axis_parameters.h"
#include "board_tables.h"
#include "checks.h"
#include "connection.h"
#include "log_line.h"
#include "mc_constants.h"
#include "motionapi.h"
#include "transport.h"
#include "units.h"

namespace {

constexpr std::uint32_t kCmd = mc::kCmdAxisParameter;
constexpr std::uint32_t kFun = mc::kFunSetAxisParameter;

bool OnParameterRoad(int id) {
    switch (id) {
    case 9: case 13: case 15: case 20: case 21: case 22: case 23: case 24: case 25:
    case 36: case 37: case 38: case 39: case 40: case 41: case 42:
        return true;
    default:
        return false;
    }
}

bool Kept(int id) {
    return id == mc::kParamMaxVelocity || id == mc::kParamKept13 || id == mc::kParamKept15 || id == mc::kParamCap;
}

bool PerCycle(int id) { return id == mc::kParamPerCycleA || id == mc::kParamPerCycleB; }

// A value the parameter ids accept: finite and not negative (a NaN fails
// the comparison).
bool NonNegativeFinite(double value) { return value >= 0.0 && std::isfinite(value); }

// trunc(value + 0.5), kept in floating point so that no value is converted
// to an integer before its range is known.
double RoundUp(double value) { return std::trunc(value + 0.5); }

// What the count is made of: the value, or for ids 22 and 42 the value per
// board cycle (value / 1000 x cycle period, before the division by 1e-5).
double Scaled(int id, double value) { return PerCycle(id) ? value / 1000.0 * g_CyclePeriodMs.load() : value; }

// The value the command sends: id 20 is capped by the kept value of 21.
double SentValue(int id, std::uint32_t index, double value) {
    return id == mc::kParamCapped ? std::min(value, McKeptParameter(index, mc::kParamCap)) : value;
}

bool ModeRefused(double m) { return m > mc::kParamModeLimit || m == 15.0 || m == 16.0 || m == 36.0; }

}  // namespace

int McSetAxisParameterCmd(int id, std::uint32_t index, double value) {
    // Not finite, negative, or a count beyond the 64-bit range: refused
    // before anything is kept.
    if (!NonNegativeFinite(value) || !McIsPositionInput(Scaled(id, SentValue(id, index, value)))) {
        return McRefuseInput(kCmd, kFun);
    }
    if ((id == mc::kParamLimitedA || id == mc::kParamLimitedB) && RoundUp(value) > mc::kParamLimit) {
        return McRefuseInput(kCmd, kFun);
    }
    if (id == mc::kParamMode && ModeRefused(RoundUp(value))) {
        McLogError(mc::kCodeInputParameter, mc::kMsgModeParameter, mc::kCmdParameterMode, mc::kFunParameterMode);
        return mc::kErrParameter;
    }
    if (McIsModel7412() && (id == mc::kParamKept13 || id == mc::kParamKept15 || id == mc::kParamCap)) {
        return McRefuseNoSupport(kCmd, mc::kLimitAxisParameter);
    }
    if (int r = McCheckAxisWrite(index, kCmd); r != mc::kOk) {
        return r;
    }
    // The host's copy changes before the send and stays whatever the board
    // answers.
    if (Kept(id)) {
        McSetKeptParameter(index, id, value);
    }
    value = SentValue(id, index, value);
    const std::int64_t count = McPositionToCounts(Scaled(id, value));

    McImmCmdBlock block;
    McCommandBuilder(block, kCmd, index).I32(id).I64(count);
    return McSendSyncImmCmd(block, kFun);
}

extern "C" {

MOTIONAPI_API int QAX_CALL QAX_SetAxisParameter(int axis, int id, double value) {
    std::uint32_t index = 0;
    if (int r = McFrameAxis(axis, kCmd, kFun, mc::kMsgAxisNoParameter, &index); r != mc::kOk) {
        return r;
    }
    if (int r = McCheckWritePermission(kCmd); r != mc::kOk) {
        return r;
    }
    if (OnParameterRoad(id)) {
        return McSetAxisParameterCmd(id, index, value);
    }
    if (id < mc::kParamDriveFirst || id > mc::kParamSwitch || !NonNegativeFinite(value)) {
        return McRefuseInput(kCmd, kFun);
    }
    const double n = RoundUp(value);
    if (id < mc::kParamSwitchFirst) {
        // Ids 26-28 leave the test of n to their worker; any n above 1 is
        // refused there alike, so it travels as 2.
        const int selector = n <= 1.0 ? static_cast<int>(n) : 2;
        switch (id) {
        case 26: return McSetAxisParam102B(selector, index);
        case 27: return McSetAxisParam102C(selector, index);
        default: return McSetAxisParam102D(selector, index);
        }
    }
    if (n > 1.0) {
        return McRefuseInput(kCmd, kFun);
    }
    const int on = n == 1.0 ? 1 : 0;
    if (id < mc::kParamStoreFirst) {
        return McSetAxisParam102F(static_cast<std::uint32_t>(id - mc::kParamSwitchFirst), on, index);
    }
    if (id < mc::kParamSwitch) {
        return McSetAxisParam102E(static_cast<std::uint32_t>(id - mc::kParamStoreFirst), on, index);
    }
    return McSetAxisParam1030(on, index);
}

}  // extern "C"
