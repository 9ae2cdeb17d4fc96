// Constants of the card server and of the machine configuration: the pipe,
// the command numbers, the status codes, the texts and the limits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cardhost {

inline constexpr char kPipeName[] = "\\\\.\\Pipe\\CorvaneTq5Server";
// The service the client installs and starts.
inline constexpr char kServiceName[] = "cardhost";

// Server identity, reported by the server information record.
inline constexpr char kServerName[] = "cardhost";
inline constexpr std::uint32_t kServerVersion[4] = {1, 0, 0, 1};

// Request commands.
enum Command : std::int32_t {
    kCmdRegisterPermission = 1,
    kCmdUnregisterPermission = 2,
    kCmdGetPermission = 3,
    kCmdServerInfo = 4,
    kCmdCardStatus = 17,
    kCmdEcatStatus = 18,
    kCmdEcatStartStop = 19,
    kCmdUpdateCard = 20,
    kCmdLoadCardConfig = 21,
    kCmdCardInfo = 22,
    kCmdModuleCount = 23,
    kCmdModuleInfo = 24,
    kCmdLogCount = 25,
    kCmdLogInfo = 26,
    kCmdLastLogInfo = 27,
    kCmdEcatDeviceCount = 28,
    kCmdEcatDeviceInfo = 29,
    kCmdFileSend = 35,
    kCmdFileRecv = 36,
    kCmdFileDelete = 37,
    kCmdFileMkdir = 38,
    kCmdSetVariable = 65,
    kCmdGetVariable = 66,
    kCmdVariableExists = 67,
    kCmdDeleteVariable = 68,
};

// Response status codes. Positive and far from the values the replies carry
// (permission levels 1..3), so a client can tell a failure from a reply.
enum Status : std::int32_t {
    kStatusOk = 0,
    kStatusUnknownCommand = 0x1301,
    kStatusBadParameter = 0x1302,   // missing, malformed or out-of-range key
    kStatusBadDataSize = 0x1303,    // dataSize outside 0..372 or not as announced
    kStatusNoSuchVariable = 0x1304,
    kStatusNoSuchIndex = 0x1305,
    kStatusConfigFailed = 0x1306,   // the configuration could not be (re)loaded
};

// Permission levels.
inline constexpr std::int32_t kLevelNone = 0;
inline constexpr std::int32_t kLevelRead = 1;
inline constexpr std::int32_t kLevelWrite = 3;
inline constexpr std::int32_t kLevelMax = 3;

// EtherCAT master states as the server reports them.
inline constexpr std::int32_t kEcatStopped = 0;
inline constexpr std::int32_t kEcatRunning = 3;
// Slave states in the device list.
inline constexpr std::uint32_t kSlaveStatePreop = 2;
inline constexpr std::uint32_t kSlaveStateOp = 8;
// Card status: configured and ready.
inline constexpr std::int32_t kCardReady = 1;

// Device kinds in the device list.
inline constexpr std::uint16_t kDeviceDrive = 1;
inline constexpr std::uint16_t kDeviceIo = 2;

// Shared variables built from the configuration.
inline constexpr std::int32_t kVarAxisConfig = 32;
inline constexpr std::int32_t kVarSlaveIdentities = 33;
inline constexpr std::int32_t kVarIoSlaves = 34;
inline constexpr std::int32_t kVarCompareLinks = 1025;
inline constexpr std::int32_t kVarAxesGroups = 1026;

// Limits of the configuration (what the shared-variable layouts can hold).
inline constexpr std::size_t kMaxAxes = 32;
inline constexpr std::uint32_t kMaxAxisNumber = 32;
inline constexpr std::size_t kMaxGroups = 16;
inline constexpr std::size_t kMinGroupAxes = 2;
inline constexpr std::size_t kMaxGroupAxes = 6;
inline constexpr std::size_t kMaxIoSlaves = 64;
inline constexpr std::uint32_t kMaxIoSlaveNumber = 64;
inline constexpr std::uint32_t kMaxDigitalInputs = 127;  // a signed byte in variable 34
inline constexpr std::uint32_t kMaxIoCount = 255;
inline constexpr std::size_t kCompareOutputs = 32;
inline constexpr std::size_t kMaxModules = 17;
inline constexpr std::size_t kSlaveIdentityPairs = 64;
inline constexpr std::size_t kMaxCardNameLength = 57;
inline constexpr std::size_t kMaxSerialLength = 23;
inline constexpr std::size_t kMaxModuleNameLength = 16;
inline constexpr std::size_t kMaxLogText = 100;
inline constexpr std::size_t kMaxConfigLine = 1024;
// The board's cycle period in microseconds (register 1000 of the board).
inline constexpr std::uint32_t kDefaultCyclePeriodUs = 1000;
inline constexpr std::uint32_t kMinCyclePeriodUs = 100;
inline constexpr std::uint32_t kMaxCyclePeriodUs = 10000;

// Compare-link entries: a group source is kCompareGroupBase + (group - 1).
inline constexpr std::uint32_t kCompareGroupBase = 32;
inline constexpr std::uint32_t kCompareNoSource = 0xFFFFFFFFu;
inline constexpr std::uint32_t kNoAxis = 0xFFFFFFFFu;
inline constexpr std::int8_t kNoIoEntry = -1;

// Card log ring.
inline constexpr std::size_t kCardLogCapacity = 256;

// File command reply texts.
inline constexpr char kFileSuccess[] = "Success";
inline constexpr char kFileBadRequest[] = "Bad request";
inline constexpr char kFilePathRefused[] = "Path not allowed";
inline constexpr char kFileNotFound[] = "File not found";
inline constexpr char kFileExists[] = "File exists";
inline constexpr char kFileFailed[] = "Operation failed";

// Card log texts written by the server itself.
inline constexpr char kLogServerStarted[] = "Card server started";
inline constexpr char kLogConfigLoaded[] = "Configuration loaded";
inline constexpr char kLogConfigFailed[] = "Configuration load failed";
inline constexpr char kLogCardUpdated[] = "Card information updated";
inline constexpr char kLogEcatStarted[] = "EtherCAT started";
inline constexpr char kLogEcatStopped[] = "EtherCAT stopped";
inline constexpr std::int32_t kLogCodeServer = 1;
inline constexpr std::int32_t kLogCodeConfig = 2;
inline constexpr std::int32_t kLogCodeEcat = 3;
inline constexpr std::uint8_t kLogLevelInfo = 1;
inline constexpr std::uint8_t kLogLevelError = 2;

// Program.
inline constexpr char kConfigFileName[] = "machine.conf";
inline constexpr char kConfigEnv[] = "CARDHOST_CONFIG";
inline constexpr char kFilesDirName[] = "cardhost-files";

}  // namespace cardhost
