// Request codes, register numbers, limits and texts of the driver access part.
#pragma once

#include <cstddef>
#include <cstdint>

namespace boardport {

// ---------------------------------------------------------------- results

inline constexpr int kOk = 0;
inline constexpr int kNotOpen = -1;          // also: the lock could not be created (WDF_Init)
inline constexpr int kSyncNothingBack = -2;  // synchronous command failed, nothing returned
inline constexpr int kLockOrRequest = -3;    // lock not obtained, parameter/version failed, count too large
inline constexpr int kRegisterFailed = -4;   // register request failed or short
inline constexpr int kCommandFailed = -5;    // channel or immediate command failed
inline constexpr int kNoBoard = 16;
inline constexpr int kAccessDenied = 17;
inline constexpr int kOpenFailed = 18;
inline constexpr int kResetNotDone = 1;      // unknown reset type, or channel never idle

// ---------------------------------------------------------------- requests

inline constexpr std::uint32_t kReqSyncImmediate = 0x222048;
inline constexpr std::uint32_t kReqChannel2 = 0x22204C;
inline constexpr std::uint32_t kReqParameter = 0x222050;
inline constexpr std::uint32_t kReqRead32 = 0x222054;
inline constexpr std::uint32_t kReqWrite32 = 0x222058;
inline constexpr std::uint32_t kReqRead64 = 0x22205C;
inline constexpr std::uint32_t kReqWrite64 = 0x222060;
inline constexpr std::uint32_t kReqReadBlock32 = 0x222064;
inline constexpr std::uint32_t kReqWriteBlock32 = 0x222080;
inline constexpr std::uint32_t kReqReadBlock64 = 0x222084;
inline constexpr std::uint32_t kReqWriteBlock64 = 0x222088;
inline constexpr std::uint32_t kReqUnlockedRead = 0x222094;
inline constexpr std::uint32_t kReqUnlockedWrite = 0x222098;
inline constexpr std::uint32_t kReqDriverVersion = 0x22209C;
inline constexpr std::uint32_t kReqChannel3 = 0x2220A0;
inline constexpr std::uint32_t kReqChannel4 = 0x2220A4;
inline constexpr std::uint32_t kReqChannel5 = 0x2220C0;  // channels 5..10 follow in steps of 4
inline constexpr std::uint32_t kReqChannelStep = 4;

// ---------------------------------------------------------------- registers

inline constexpr std::uint32_t kRegisterCount = 0x3000;
inline constexpr std::size_t kImmediateMailboxSize = 256;
inline constexpr std::uint32_t kImmediateMailboxFirst = 0x8D0;

// Link channels 1..10 with their status (bit 0 = idle) and companion registers.
inline constexpr int kFirstLinkChannel = 1;
inline constexpr int kLastLinkChannel = 10;
inline constexpr std::uint32_t kChannelStatusRegister[] = {0x34, 0x3C, 0x94, 0x9C, 0xA4, 0xAC, 0xB4, 0xBC, 0xC4, 0xCC};
inline constexpr std::uint32_t kChannelCompanionRegister[] = {0x30, 0x38, 0x90, 0x98, 0xA0, 0xA8, 0xB0, 0xB8, 0xC0, 0xC8};
inline constexpr std::uint32_t kChannelIdleBit = 0x1;
inline constexpr int kIdlePolls = 4097;

inline constexpr std::uint8_t kResetClearAll = 0;

// ---------------------------------------------------------------- limits

inline constexpr int kMaxBlock32 = 12288;
inline constexpr int kMaxBlock64 = 6144;
inline constexpr std::uint32_t kLockWaitMs = 1000;
inline constexpr std::size_t kVersionBytes = 8;
inline constexpr std::size_t kVersionTextBytes = 64;

// ---------------------------------------------------------------- identity and texts

inline constexpr char kLockName[] = "SyncMutex";
inline constexpr std::uint8_t kLogLevelIdentity = 32;
inline constexpr std::uint8_t kLogLevelError = 2;
inline constexpr int kLogModule = 4352;
inline constexpr int kIdentityCodeName = 0;
inline constexpr int kIdentityCodeVersion = 1;
inline constexpr int kIdentityCodeBuild = 19;
inline constexpr char kModuleName[] = "boardport";
inline constexpr char kModuleVersion[] = "V1.9.0.3147";
inline constexpr char kBuildFormat[] = "%s, %s[]";

// A process died holding "SyncMutex": the next waiter takes it over.
inline constexpr int kLogCodeLockAbandoned = 3;
inline constexpr char kTextLockAbandoned[] = "SyncMutex was abandoned by a process that ended holding it; taken over";

inline constexpr char kTextNoDevices[] = "No PLX devices are present and enabled in the system.\n";
inline constexpr char kTextEnumFailed[] = "SetupDiEnumDeviceInterfaces failed, Error: %u";
inline constexpr char kTextDetailFailed[] = "SetupDiGetDeviceInterfaceDetail failed, Error: %u";
inline constexpr char kTextPropertyFailed[] = "SetupDiGetDeviceRegistryProperty failed, Error: %u";
inline constexpr char kTextNoMemory[] = "Insufficient memory.\n";

}  // namespace boardport
