// Log texts, log codes, modules, function identifiers, command words,
// register numbers and limits of the motion interface library.
#pragma once

#include <cstdint>

namespace mc {

// ---------------------------------------------------------------- log levels and modules
inline constexpr std::uint8_t kLevelError = 2;
inline constexpr std::uint8_t kLevelStartup = 3;
inline constexpr std::uint8_t kLevelIdentity = 32;

inline constexpr int kModuleApi = 4101;    // exported functions, workers, transport
inline constexpr int kModuleCheck = 4100;  // state checks, block register operations

// ---------------------------------------------------------------- log codes
inline constexpr int kCodeAxisNotEnabled = 0x100401;
inline constexpr int kCodeRefused = 0x100402;
inline constexpr int kCodeSingleIsInterpAxis = 0x100403;
inline constexpr int kCodeAxisInChannel = 0x100404;
inline constexpr int kCodeMotionConflict = 0x100405;
inline constexpr int kCodeLinkedOtherMaster = 0x100408;
inline constexpr int kCodeNotLinkedMaster = 0x100409;
inline constexpr int kCodeChannelState = 0x10040c;
inline constexpr int kCodeRunConflict = 0x10040d;
inline constexpr int kCodeChannelInput = 0x10040f;
inline constexpr int kCodeChannelEnd = 0x100410;
inline constexpr int kCodeGroupNotConfig = 0x100411;
inline constexpr int kCodeInputParameter = 0x100500;
inline constexpr int kCodeMutexCreate = 0x100501;
inline constexpr int kCodeTransport = 0x100502;
inline constexpr int kCodeRegisterRead = 0x100503;
inline constexpr int kCodeTimeout = 0x100504;
inline constexpr int kCodeCommError = 0x100505;
inline constexpr int kCodeStartup = 0x100507;
inline constexpr int kCodeStartupState = 0x100508;
inline constexpr int kCodeStatusParameter = 0x10050a;
inline constexpr int kCodeRegisterWrite = 0x10050c;
inline constexpr int kCodePermission = 0x10050d;
inline constexpr int kCodeCtBufferFull = 7428;

// ---------------------------------------------------------------- identity records
inline constexpr int kIdentityName = 0;
inline constexpr int kIdentityVersion = 1;
inline constexpr int kIdentityBuild = 19;
inline constexpr char kIdentityNameText[] = "MC";
inline constexpr char kIdentityVersionText[] = "V2.3.2.3443";
inline constexpr char kIdentityBuildFormat[] = "%s, %s[]";

// ---------------------------------------------------------------- log line texts
inline constexpr std::size_t kLogLineSize = 256;

inline constexpr char kMsgReadRegister[] = "FUN=0x%x, WDF read register error:%d";
inline constexpr char kMsgReadRegisterBlank[] = "FUN=0x%x, WDF read register error %d";
inline constexpr char kMsgReadRegisterNoCode[] = "FUN=0x%x, WDF read register error";
// Full-width colon (GBK bytes A3 BA) in the queue-level message.
inline constexpr char kMsgReadQueueLevel[] = "FUN=0x%x, WDF read register error\xA3\xBA%d";
inline constexpr char kMsgWriteRegister[] = "FUN=0x%x, WDF write register error:%d";
inline constexpr char kMsgSyncError[] = "CMD=0x%x, FUN=0x%x, WDF SyncImmCmd return error:%d";
inline constexpr char kMsgSyncError1[] = "CMD=0x%x, FUN=0x%x, WDF SyncImmCmd return error1, rtn=%d;";
inline constexpr char kMsgMckError[] = "CMD=0x%x, FUN=0x%x, MCK return error:%d";
inline constexpr char kMsgAsynFull[] = "FUN=0x%x, AsynImmCmd Buffer Full";
inline constexpr char kMsgAsynError[] = "FUN=0x%x, WDF AsynImmCmd return error:%d";
inline constexpr char kMsgWorkerAsynError[] = "CMD=0x%x, FUN=0x%x, WDF AsynImmCmd return error:%d";
inline constexpr char kMsgInputParameter[] = "CMD=0x%x, FUN=0x%x, Input Parameter error";
inline constexpr char kMsgAxisNoParameter[] = "CMD=0x%x, FUN=0x%x, AxisNo Parameter error";
inline constexpr char kMsgNoWritePermission[] = "CMD=0x%x, LIMITFUN=0x%x, Controller No WritePermission";
inline constexpr char kMsgNoSupport[] = "CMD=0x%x, LIMITFUN=0x%x, Controller No Support";
inline constexpr char kMsgNotSupportedAxisType[] = "CMD=0x%x, FUN=0x%x, Not supported axis type";
inline constexpr char kMsgRunConflict[] = "CMD=0x%x, FUN=0x%x, Cmd run conflict";
inline constexpr char kMsgCommError[] = "CMD=0x%x, FUN=0x%x, COMM return error:%d";
inline constexpr char kMsgCommunicationError[] = "CMD=0x%x, FUN=0x%x, WDF Communication return error:%d";
inline constexpr char kMsgInfoBufferShort[] = "CMD=0x%x, FUN=0x%x, Input Infobuffer not enough";
inline constexpr char kMsgStatusParameter[] = "FUN=0x%x, Input parameter error";
inline constexpr char kMsgVariableError[] = "FUN=0x%x, COMM return error, rtn=%d;";
inline constexpr char kMsgCommNotInit[] = "FUN=0x%x, COMM is not init";
inline constexpr char kMsgCommHasExit[] = "FUN=0x%x, COMM has exit";
inline constexpr char kMsgOtherPkError[] = "FUN=0x%x, other pk return error %d";
inline constexpr char kMsgOtherPkErrorNoCode[] = "FUN=0x%x, other pk return error";
inline constexpr char kMsgWdfInit[] = "WDF_Init error, return %d";
inline constexpr char kMsgCommInit[] = "COMM_Init error, return %d";
inline constexpr char kMsgCommReset[] = "COMM_Reset error, return %d";
inline constexpr char kMsgDioInit[] = "DIO_Init error, return %d";
inline constexpr char kMsgEcatNotOp[] = "MC_Init, EtherCAT not OP";
inline constexpr char kMsgPermissionFailed[] = "MC_Init, Register Permission Faild";

// ---------------------------------------------------------------- function identifiers
inline constexpr std::uint32_t kFunAxisStatus = 0x10020001;  // also axis state, position, assignment
inline constexpr std::uint32_t kFunLoadAxisConfig = 0x10020002;
inline constexpr std::uint32_t kFunLoadGroupTable = 0x10020003;
inline constexpr std::uint32_t kFunLoadSlaveIds = 0x10020004;
inline constexpr std::uint32_t kFunQueueLevel = 0x10020005;
inline constexpr std::uint32_t kFunChannelCmdSend = 0x10020006;
inline constexpr std::uint32_t kFunCyclePeriod = 0x1002000c;
inline constexpr std::uint32_t kFunEcatState = 0x1002000d;
inline constexpr std::uint32_t kFunLoadIoAndLinks = 0x1002000e;
inline constexpr std::uint32_t kFunChannelEvent = 0x10020010;
inline constexpr std::uint32_t kFunAxisStatus2 = 0x10020011;
inline constexpr std::uint32_t kFunCmdSeqQuery = 0x10020013;
inline constexpr std::uint32_t kFunAsynTransport = 0x10020017;
inline constexpr std::uint32_t kFunRegisterBlockRead = 0x1004003a;
inline constexpr std::uint32_t kFunRegisterWrite = 0x1004003b;
inline constexpr std::uint32_t kFunPendingMaskRead = 0x1004003c;
inline constexpr std::uint32_t kFunStopMaskRead = 0x1004003d;
inline constexpr std::uint32_t kFunLogReadCheck = 0x10040020;
inline constexpr std::uint32_t kFunExit = 0x10050002;
inline constexpr std::uint32_t kFunGetLog = 0x10050038;
inline constexpr std::uint32_t kFunControllerInfoEntry = 0x10050039;
inline constexpr std::uint32_t kFunControllerInfo = 0x10050055;
inline constexpr std::uint32_t kFunEcatStart = 0x10050062;
inline constexpr std::uint32_t kFunEcatStopStatus = 0x10050063;
inline constexpr std::uint32_t kFunControllerStatus = 0x10050064;
inline constexpr std::uint32_t kFunPermission = 0x1005008a;

// ---------------------------------------------------------------- limit numbers
inline constexpr std::uint32_t kLimitModel7412Only = 0;
inline constexpr std::uint32_t kLimitChannelZeroOnly = 1;
inline constexpr std::uint32_t kLimitAxisParameter = 2;
inline constexpr std::uint32_t kLimitCompareType = 12;
inline constexpr std::uint32_t kLimitWritePermission = 13;

// ---------------------------------------------------------------- command words
inline constexpr std::uint32_t kCmdExit = 0x40130001;
inline constexpr std::uint32_t kCmdPermission = 0x401f0001;
inline constexpr std::uint32_t kCmdReadLog = 0x400c0001;
inline constexpr std::uint32_t kCmdControllerInfo = 0x40120001;
inline constexpr std::uint32_t kCmdControllerInfoEntry = 0x400d0001;
inline constexpr std::uint32_t kCmdBoardRefresh = 0x802d0001;
inline constexpr std::uint32_t kCmdBoardTick = 0x803c0001;
inline constexpr std::uint32_t kCmdAxisCmdSeq = 0x80630001;

inline constexpr std::uint32_t kCmdHomeMove = 0x100c0000;
inline constexpr std::uint32_t kCmdStopDecel = 0x100d0000;
inline constexpr std::uint32_t kCmdStopImmediate = 0x10100000;
inline constexpr std::uint32_t kCmdPosMoveA = 0x10110000;
inline constexpr std::uint32_t kCmdPosMoveB = 0x10120000;
inline constexpr std::uint32_t kCmdJogMove = 0x10130000;
inline constexpr std::uint32_t kCmdTMove = 0x10180000;
inline constexpr std::uint32_t kCmdTwoSegmentMove = 0x10340001;
inline constexpr std::uint32_t kCmdLinearMoveA = 0x20080000;
inline constexpr std::uint32_t kCmdLinearMoveB = 0x20090000;

// ---------------------------------------------------------------- result codes
inline constexpr int kOk = 0;
inline constexpr int kRefused = 1;
inline constexpr int kErrParameter = -1;
inline constexpr int kErrNotConfigured = -2;
inline constexpr int kErrConflict = -3;
inline constexpr int kErrTimeout = -4;
inline constexpr int kErrRegister = -5;
inline constexpr int kErrBoard = -6;
inline constexpr int kErrTransport = -7;
// The code a failed command-mutex wait counts as.
inline constexpr int kMutexFailedCode = -6;

// ---------------------------------------------------------------- communication layer codes
inline constexpr int kCommAlreadyInit = 1;
inline constexpr int kCommLayerBits = 0x1200;
inline constexpr int kCommNotConnected = 4609;
inline constexpr int kCommStartedAnyway = 4610;
inline constexpr int kCommHasExit = 4625;
inline constexpr int kEcatRunningState = 3;
inline constexpr int kPermissionNone = 1;
inline constexpr int kPermissionFull = 3;
inline constexpr std::uint32_t kDriverParameterId = 0;
inline constexpr std::uint64_t kDriverParameterValue = 4000;
inline constexpr std::uint8_t kResetAllRegisters = 0;

// ---------------------------------------------------------------- board registers
inline constexpr std::uint32_t kRegEcatState = 497;
inline constexpr std::uint32_t kRegChannel0Event = 498;
inline constexpr std::uint32_t kRegQueueLevelBase = 500;
inline constexpr std::uint32_t kRegAsynQueueLevel = 508;
inline constexpr std::uint32_t kRegIoSlaveStatus = 521;
inline constexpr std::uint32_t kRegCyclePeriodUs = 1000;
inline constexpr std::uint32_t kRegAxisBlockBase = 8736;
inline constexpr std::uint32_t kRegAxisBlockSize = 15;
inline constexpr std::uint32_t kAxisRegReportedPos = 0;
inline constexpr std::uint32_t kAxisRegRecordPos = 2;
inline constexpr std::uint32_t kAxisRegStatus = 4;
inline constexpr std::uint32_t kAxisRegState = 5;
inline constexpr std::uint32_t kAxisRegVelocity = 6;
inline constexpr std::uint32_t kAxisRegEvent = 8;
inline constexpr std::uint32_t kAxisRegStatus2 = 10;
inline constexpr std::uint32_t kAxisRegTorque = 11;

inline constexpr std::uint32_t kRegMaskHome = 5497;
inline constexpr std::uint32_t kRegMaskFirst = 5497;  // 5497..5502 read as one block
inline constexpr std::uint32_t kRegMaskPosA = 5499;
inline constexpr std::uint32_t kRegMaskPosB = 5500;
inline constexpr std::uint32_t kRegMaskJog = 5501;
inline constexpr std::uint32_t kRegMaskTMove = 5502;
inline constexpr std::uint32_t kRegMaskStopDecel = 5503;
inline constexpr std::uint32_t kRegMaskStopImmediate = 5504;
inline constexpr std::uint32_t kRegMaskLinearA = 5507;
inline constexpr std::uint32_t kRegMaskLinearB = 5508;
inline constexpr std::uint32_t kRegGroupActive = 5512;
inline constexpr std::uint32_t kRegMaskTwoSegment = 5515;
inline constexpr std::uint32_t kRegMaskLine = 5516;
inline constexpr std::uint32_t kMotionMaskBlock = 6;

// ---------------------------------------------------------------- limits
inline constexpr std::uint32_t kMaxAxes = 32;
inline constexpr std::uint32_t kAxisMapEntries = 33;
inline constexpr std::uint32_t kNoAxis = 0xFFFFFFFFu;
inline constexpr std::uint32_t kMaxGroups = 16;
inline constexpr std::uint32_t kMaxGroupAxes = 6;
inline constexpr std::uint32_t kMaxIoSlaves = 64;
inline constexpr std::uint32_t kSlaveIdPairs = 64;
inline constexpr std::uint32_t kCompareOutputs = 32;
inline constexpr std::uint32_t kChannelCount = 4;
inline constexpr std::uint32_t kAsynQueue = 10;
inline constexpr std::uint32_t kAsynLinkChannel = 6;
inline constexpr std::uint32_t kQueueEntries = 4096;
inline constexpr std::int32_t kQueueMinFree = 512;
inline constexpr std::uint32_t kRegisterBlockMax = 10;
inline constexpr std::uint32_t kCmdMutexWaitMs = 100;
inline constexpr std::uint32_t kRingMutexWaitMs = 300;
inline constexpr std::uint32_t kAssignMutexWaitMs = 3000;
inline constexpr std::uint32_t kExitPauseMs = 200;
inline constexpr std::uint32_t kStartPauseMs = 200;
inline constexpr std::uint32_t kCmdBufferSize = 512;
inline constexpr std::uint32_t kFrameHeaderBytes = 20;  // words 0-4 of a request

// ---------------------------------------------------------------- controller models
inline constexpr std::uint32_t kModel7412 = 7412;
inline constexpr std::uint32_t kModel7422 = 7422;

// ---------------------------------------------------------------- unit scaling
inline constexpr double kCountUnit = 0.00001;
inline constexpr double kCountDeadband = 0.0001;
inline constexpr double kBoardSpeedCap = 2147483647.0;


// ---------------------------------------------------------------- per-axis interface
inline constexpr std::uint32_t kCmdServoOn = 0x100b0000;
inline constexpr std::uint32_t kCmdResetAxis = 0x10150000;
inline constexpr std::uint32_t kCmdSetAxisDO = 0x40180001;
inline constexpr std::uint32_t kCmdGetAxisDO = 0x40190001;
inline constexpr std::uint32_t kCmdGetAxisDI = 0x401a0001;
inline constexpr std::uint32_t kCmdGetAxisAI = 0x401b0001;
inline constexpr std::uint32_t kCmdStartGetAxisSdo = 0x40170001;
inline constexpr std::uint32_t kCmdStartSetAxisSdo = 0x40150001;
inline constexpr std::uint32_t kCmdAxisSdoStatus = 0x40160001;
inline constexpr std::uint32_t kCmdGetAxisPdo = 0x401d0001;
inline constexpr std::uint32_t kCmdSetAxisPdo = 0x401e0001;
inline constexpr std::uint32_t kCmdGetAxisParameter = 0x10020000;
inline constexpr std::uint32_t kCmdAxisStatusItems = 0x10070000;      // items 1-6
inline constexpr std::uint32_t kCmdAxisStatusEnabled = 0x10080000;    // items 7-11
inline constexpr std::uint32_t kCmdAxisStatusTyped = 0x10090000;      // items 12-22
inline constexpr std::uint32_t kCmdSetAxisPosition = 0x10140000;
inline constexpr std::uint32_t kCmdGetAxisPosition = 0x10050000;
inline constexpr std::uint32_t kCmdGetAxisVelocity = 0x10060000;
inline constexpr std::uint32_t kCmdGetAxisTorque = 0x10390001;

inline constexpr std::uint32_t kFunServoOn = 0x10050003;
inline constexpr std::uint32_t kFunResetAxis = 0x1005000d;
inline constexpr std::uint32_t kFunSetAxisDO = 0x1005009d;
inline constexpr std::uint32_t kFunGetAxisDO = 0x1005009e;
inline constexpr std::uint32_t kFunGetAxisDI = 0x1005009f;
inline constexpr std::uint32_t kFunGetAxisAI = 0x10050057;
inline constexpr std::uint32_t kFunStartGetAxisSdo = 0x1005009a;
inline constexpr std::uint32_t kFunStartSetAxisSdo = 0x100500a0;
inline constexpr std::uint32_t kFunAxisSdoStatus = 0x100500a1;
inline constexpr std::uint32_t kFunGetAxisPdo = 0x100500a6;
inline constexpr std::uint32_t kFunSetAxisPdo = 0x100500a5;
inline constexpr std::uint32_t kFunGetAxisParameter = 0x10050011;
inline constexpr std::uint32_t kFunAxisStatusItems = 0x100500a2;
inline constexpr std::uint32_t kFunSetAxisPosition = 0x1005000b;
inline constexpr std::uint32_t kFunGetAxisPosition = 0x1005001d;
inline constexpr std::uint32_t kFunGetAxisVelocity = 0x1005001e;
inline constexpr std::uint32_t kFunGetAxisTorque = 0x100500a8;
// Inline checks of servo on/off, reset and the parameter query.
inline constexpr std::uint32_t kFunServoOnCheck = 0x10040002;
inline constexpr std::uint32_t kFunResetCheck = 0x10040007;
inline constexpr std::uint32_t kFunParameterQueryCheck = 0x1004000b;

inline constexpr char kMsgIdParameter[] = "CMD=0x%x, FUN=0x%x, Id Parameter error";
inline constexpr char kMsgSubIdParameter[] = "CMD=0x%x, FUN=0x%x, SubId Parameter error";
inline constexpr char kMsgTypeParameter[] = "CMD=0x%x, FUN=0x%x, Type Parameter error";
inline constexpr char kMsgCommandTimeout[] = "CMD=0x%x, FUN=0x%x, Command running timeout";
inline constexpr char kMsgAxisNoNumbered[] = "CMD=0x%x, FUN=0x%x, AxisNo Parameter error:%d";
inline constexpr char kMsgAxisIDNumbered[] = "CMD=0x%x, FUN=0x%x, AxisID Parameter error:%d";
inline constexpr char kMsgAxisIdNumbered[] = "CMD=0x%x, FUN=0x%x, AxisId Parameter error:%d";
inline constexpr char kMsgCmdReadRegisterBlank[] = "CMD=0x%x, FUN=0x%x, WDF read register error %d";
inline constexpr char kMsgCmdReadRegister[] = "CMD=0x%x, FUN=0x%x, WDF read register error:%d";

inline constexpr int kErrSdoAbort = -9;
inline constexpr std::int32_t kBoardSdoAbort = 6729;  // board result that SDO starts report as -9
inline constexpr std::uint32_t kSdoIndexFirst = 0x3000;
inline constexpr std::uint32_t kSdoIndexLast = 0x3FFF;
inline constexpr std::uint32_t kSdoSubIndexLimit = 3;   // below
inline constexpr std::uint32_t kSdoTypeLimit = 16;      // below
inline constexpr int kStatusItemFirst = 1;
inline constexpr int kStatusItemLast = 22;
// Completion waits: rounds and the sleep of each round.
inline constexpr int kServoWaitRounds = 200;
inline constexpr std::uint32_t kServoWaitSleepMs = 30;
inline constexpr int kResetWaitRounds = 60;
inline constexpr double kResetWaitCycles = 10.0;
inline constexpr int kSetPositionWaitRounds = 20;
inline constexpr std::uint32_t kSetPositionWaitSleepMs = 1;


// ---------------------------------------------------------------- state checks and moves
inline constexpr char kMsgAxisNotEnabled[] = "CMD=0x%x, FUN=0x%x, Axis is not enabled";
inline constexpr char kMsgAxisInChannel[] = "CMD=0x%x, FUN=0x%x, Axis is being used in channel";
inline constexpr char kMsgMoveTypeNotMatched[] = "CMD=0x%x, FUN=0x%x, Move type is not matched";
inline constexpr char kMsgLinkedOtherMaster[] = "CMD=0x%x, FUN=0x%x, Axis is linked other master axis";
inline constexpr char kMsgNotLinkedMaster[] = "CMD=0x%x, FUN=0x%x, Axis is not linked master axis";
inline constexpr char kMsgGroupNotConfig[] = "CMD=0x%x, FUN=0x%x, Axesgroup not config";
inline constexpr char kMsgIoSlaveMissing[] = "CMD=0x%x, FUN=0x%x, IO Slave does not exist";
inline constexpr char kMsgBitOverrun[] = "CMD=0x%x, FUN=0x%x, nBitNo parameter overrun:%d;%d;";

// Identifiers printed by the state checks.
inline constexpr std::uint32_t kFunCheckSingleMove = 0x10040003;
inline constexpr std::uint32_t kFunCheckStopMove = 0x10040004;
inline constexpr std::uint32_t kFunCheckSetPosition = 0x10040005;
inline constexpr std::uint32_t kFunCheckUpdateVelocity = 0x10040006;
inline constexpr std::uint32_t kFunCheckTouchProbe = 0x10040008;
inline constexpr std::uint32_t kFunCheckStopTouchProbe = 0x10040009;
inline constexpr std::uint32_t kFunCheckTouchProbeStatus = 0x1004000a;
inline constexpr std::uint32_t kFunCheckAxisWrite = 0x1004000c;
inline constexpr std::uint32_t kFunCheckUpdatePMove = 0x1004000d;
inline constexpr std::uint32_t kFunCheckLinkCompare = 0x1004000e;
inline constexpr std::uint32_t kFunCheckCompareStatus = 0x1004000f;
inline constexpr std::uint32_t kFunCheckCompareStop = 0x10040013;
inline constexpr std::uint32_t kFunCheckAxisRead = 0x10040016;
inline constexpr std::uint32_t kFunCheckAxisType = 0x10040017;
inline constexpr std::uint32_t kFunCheckLinearStart = 0x1004001b;
inline constexpr std::uint32_t kFunCheckLinearUpdate = 0x1004001c;
inline constexpr std::uint32_t kFunCheckLinearActive = 0x1004001d;  // also group stop and SDO
inline constexpr std::uint32_t kFunCheckFileTransfer = 0x10040021;
inline constexpr std::uint32_t kFunCheckLinearStatus = 0x10040028;
inline constexpr std::uint32_t kFunCheckIoSlave = 0x10040029;
inline constexpr std::uint32_t kFunCheckParamWrite = 0x10040033;
inline constexpr std::uint32_t kFunCheckParamWrite2 = 0x10040035;
inline constexpr std::uint32_t kFunCheckLinearStartRead = 0x1004003e;
inline constexpr std::uint32_t kFunCheckLinearActiveRead = 0x1004003f;
inline constexpr std::uint32_t kFunCheckTorqueLimit = 0x10040044;
inline constexpr std::uint32_t kFunCheckCompareStart = 0x10040047;

// Identifiers of the single-axis move exports.
inline constexpr std::uint32_t kFunStartHMove = 0x10050004;
inline constexpr std::uint32_t kFunStopDecel = 0x10050005;
inline constexpr std::uint32_t kFunStopImmediate = 0x10050006;
inline constexpr std::uint32_t kFunStartPMoveA = 0x10050007;
inline constexpr std::uint32_t kFunStartPMoveB = 0x10050008;
inline constexpr std::uint32_t kFunStartJMove = 0x10050009;
inline constexpr std::uint32_t kFunStartTMove = 0x1005000a;
inline constexpr std::uint32_t kFunUpdateVelocity = 0x1005000c;
inline constexpr std::uint32_t kFunTouchProbe = 0x1005000e;
inline constexpr std::uint32_t kFunStopTouchProbe = 0x1005000f;
inline constexpr std::uint32_t kFunTouchProbeStatus = 0x10050010;
inline constexpr std::uint32_t kFunUpdatePMovePosition = 0x10050014;
inline constexpr std::uint32_t kFunMoveTwoSeg = 0x10050093;
inline constexpr std::uint32_t kFunEnableTorqueLimit = 0x10050094;
inline constexpr std::uint32_t kFunSetMoveProfile = 0x100500a3;

// Command words guarded by the checks and sent by the moves.
inline constexpr std::uint32_t kCmdUpdateVelocity = 0x10010000;
inline constexpr std::uint32_t kCmdAxisParameter = 0x10030000;
inline constexpr std::uint32_t kCmdTouchProbe = 0x100e0000;
inline constexpr std::uint32_t kCmdStopTouchProbe = 0x100f0000;
inline constexpr std::uint32_t kCmdTouchProbeStatus = 0x100f0001;
inline constexpr std::uint32_t kCmdUpdatePMovePosition = 0x10200001;
inline constexpr std::uint32_t kCmdLinkCompare = 0x10210001;
inline constexpr std::uint32_t kCmdStartCompare = 0x10260001;
inline constexpr std::uint32_t kCmdStopCompare = 0x10270001;
inline constexpr std::uint32_t kCmdCompareStatus = 0x10280001;
inline constexpr std::uint32_t kCmdParam30 = 0x10300001;
inline constexpr std::uint32_t kCmdMoveProfile = 0x10330001;
inline constexpr std::uint32_t kCmdTorqueLimit = 0x10350001;
inline constexpr std::uint32_t kCmdGroupStop = 0x20070000;
inline constexpr std::uint32_t kCmdLinearUpdate = 0x200d0001;
inline constexpr std::uint32_t kCmdLinearStatus = 0x20140001;
inline constexpr std::uint32_t kCmdIoReadDi = 0x30010000;
inline constexpr std::uint32_t kCmdIoWriteDo = 0x30020000;
inline constexpr std::uint32_t kCmdIoReadDo = 0x30030000;
inline constexpr std::uint32_t kCmdIoWriteAo = 0x30050000;
inline constexpr std::uint32_t kCmdIoReadAo = 0x30060000;
inline constexpr std::uint32_t kCmdIoReadAi = 0x30070000;

// Limits of the move inputs.
inline constexpr double kMinMoveVelocity = 0.000001;
inline constexpr double kMaxTMoveValue = 1000.0;
inline constexpr double kMinProfileValue = 0.000001;
// The smallest feed speed of a channel or command-list node.
inline constexpr double kMinNodeFeedSpeed = 0.000001;
inline constexpr std::uint32_t kMaxTorqueLimit = 300;
inline constexpr std::uint32_t kCompareSourceGroup = 32;  // compare-link sources from here on are groups
inline constexpr std::uint32_t kCompareTypeTablePosA = 1;
inline constexpr std::uint32_t kCompareTypeTablePosB = 2;


// ---------------------------------------------------------------- channel commands (link channels 2-5)
inline constexpr std::uint32_t kCmdChDigitalOutput = 0x500d0001;
inline constexpr std::uint32_t kCmdChMarkedValue = 0x500f0001;
inline constexpr std::uint32_t kCmdChAxisCommand = 0x500c0001;
inline constexpr std::uint32_t kCmdChCompareStart = 0x50100001;
inline constexpr std::uint32_t kCmdChCompareStop = 0x50110001;
inline constexpr std::uint32_t kCmdChCompareTable = 0x50120001;   // planned kind 9
inline constexpr std::uint32_t kCmdChCompareTable2 = 0x50130001;  // planned kind 10
inline constexpr std::uint32_t kCmdChAxisStep = 0x500a0001;       // one axis
inline constexpr std::uint32_t kCmdChAxesStep = 0x50200001;       // several axes
inline constexpr std::uint32_t kCmdChPathStep = 0x500b0001;       // a group's axes
inline constexpr std::uint32_t kCmdChPathStepExtra = 0x50250001;  // a group's axes and one more
inline constexpr std::uint32_t kCmdChKind15 = 0x500e0001;
inline constexpr std::uint32_t kCmdChProgramEnd = 0x50160001;
inline constexpr std::uint32_t kCmdChKind17 = 0x50190001;
inline constexpr std::uint32_t kCmdChAnalogOutput = 0x50180001;
inline constexpr std::uint32_t kCmdChKind19 = 0x501d0001;
inline constexpr std::uint32_t kCmdChKind20 = 0x501c0001;
inline constexpr std::uint32_t kCmdChKind21 = 0x501e0001;
inline constexpr std::uint32_t kCmdChKind22 = 0x501f0001;
inline constexpr std::uint32_t kCmdChAxisPositionValue = 0x50210001;
inline constexpr std::uint32_t kCmdChPositionSave = 0x50220001;
inline constexpr std::uint32_t kCmdChKind26 = 0x50230001;
inline constexpr std::uint32_t kCmdChMultiAxisCommand = 0x50240001;
inline constexpr std::uint32_t kCmdChTimedOutput = 0x50260001;
inline constexpr std::uint32_t kChannelLinkOffset = 2;  // channel n sends on link channel n + 2
inline constexpr std::uint32_t kMultiAxisCommandMaxAxes = 12;  // 12 + 40n bytes within 512

inline constexpr char kMsgChannelCmdError[] = "FUN=0x%x, WDF ChannelCmd return error";
inline constexpr char kMsgChannelCmdRefused[] = "FUN=0x%x, Input Parameter error";

// ---------------------------------------------------------------- segment planner
inline constexpr double kMinCyclePeriodMs = 0.1;     // below: nothing is planned
inline constexpr double kMinAcceleration = 1.0;      // units/s^2, floor of every acceleration
inline constexpr double kMaxJerkSteps = 10000.0;     // cap of A / J
inline constexpr double kMinLineLength = 0.001;
inline constexpr double kMinAxisMoveSquare = 1e-7;   // per-axis moves: squared distance
inline constexpr double kMinAxisAcceleration = 1e-7; // per cycle squared
inline constexpr double kMinArcFeed = 0.1;           // units/s
inline constexpr double kSpeedEpsilon = 0.00001;     // per cycle
inline constexpr double kAccelDirectionEpsilon = 1e-6;
inline constexpr double kLastStepFactor = 1.5;       // a last step covers up to 1.5 cycles
inline constexpr double kFloorSpeedCap = 1000.0;
inline constexpr double kStopThresholdTolerance = 1e-9;  // relative
// Largest distance a single step may move one axis: well inside the int32
// count range (21474.83647 units), with room for a last step of 1.5 cycles.
inline constexpr double kMaxStepDistance = 21000.0;
inline constexpr std::uint32_t kMaxStepDuration = 0x00FFFFFFu;  // microseconds, bits 0-23

// Look-ahead.
inline constexpr double kCornerSpeedNoLimit = 10000.0;  // per cycle
inline constexpr double kCornerDirectionEpsilon = 1e-6;
inline constexpr double kJunctionLengthShare = 0.9;
inline constexpr double kBrakingLengthFactor = 3.0;

// Arc angles, written as the board's planner writes them.
inline constexpr double kArcPi = 3.14159262;
inline constexpr double kArcTwoPi = 6.28318524;
inline constexpr double kArcHalfPi = 1.57079631;
inline constexpr double kArcThreeHalfPi = 4.71238893;
inline constexpr double kArcZeroGuard = 1e-6;
// ---------------------------------------------------------------- axis parameters
inline constexpr std::uint32_t kFunSetAxisParameter = 0x10050012;
inline constexpr std::uint32_t kFunParameterMode = 0x10050061;
inline constexpr std::uint32_t kFunParam2b = 0x10050076;
inline constexpr std::uint32_t kFunParam2c = 0x10050077;
inline constexpr std::uint32_t kFunParam2d = 0x10050078;
inline constexpr std::uint32_t kFunParam2e = 0x10050079;
inline constexpr std::uint32_t kFunParam2f = 0x1005007a;
inline constexpr std::uint32_t kFunParam30 = 0x1005007c;

inline constexpr std::uint32_t kCmdParameterMode = 0x102a0001;  // printed by the refusal of id 36
inline constexpr std::uint32_t kCmdParam2b = 0x102b0001;
inline constexpr std::uint32_t kCmdParam2c = 0x102c0001;
inline constexpr std::uint32_t kCmdParam2d = 0x102d0001;
inline constexpr std::uint32_t kCmdParam2e = 0x102e0001;
inline constexpr std::uint32_t kCmdParam2f = 0x102f0001;
inline constexpr std::uint32_t kCmdStoreParameters = 0x10320001;

inline constexpr char kMsgModeParameter[] = "CMD=0x%x, FUN=0x%x, mode Parameter error";

// The store command: object 0x1010 sub-index 1 with the signature "save".
inline constexpr std::uint32_t kStoreObject = 0x1010;
inline constexpr std::uint32_t kStoreSubIndex = 1;
inline constexpr std::uint32_t kStoreSignature = 0x65766173;
// Word 7 of the drive-object and store requests.
inline constexpr std::uint32_t kDriveObjectWord7 = 8;

// Parameter ids with a host copy, the capped id and its cap, the ids sent
// per board cycle, the ids with a limit.
inline constexpr int kParamMaxVelocity = 9;
inline constexpr int kParamKept13 = 13;
inline constexpr int kParamKept15 = 15;
inline constexpr int kParamCapped = 20;
inline constexpr int kParamCap = 21;
inline constexpr int kParamPerCycleA = 22;
inline constexpr int kParamPerCycleB = 42;
inline constexpr int kParamLimitedA = 24;
inline constexpr int kParamLimitedB = 25;
inline constexpr int kParamMode = 36;
inline constexpr double kParamLimit = 300.0;      // ids 24 and 25
inline constexpr double kParamModeLimit = 37.0;   // id 36
inline constexpr int kParamDriveFirst = 26;       // 26-28: 0x102b0001-0x102d0001
inline constexpr int kParamSwitchFirst = 29;      // 29-31: 0x102f0001
inline constexpr int kParamStoreFirst = 32;       // 32-34: 0x102e0001
inline constexpr int kParamSwitch = 35;           // 0x10300001

inline constexpr int kErrDriveAbort = -9;          // drive-object writes the board answers with 6729
inline constexpr int kParamWaitRounds = 100;
inline constexpr std::uint32_t kParamWaitSleepMs = 30;

// ---------------------------------------------------------------- I/O slaves
inline constexpr std::uint32_t kCmdIoDiParameter = 0x300b0001;
inline constexpr std::uint32_t kFunGetDI = 0x10050030;
inline constexpr std::uint32_t kFunGetDO = 0x10050031;
inline constexpr std::uint32_t kFunSetDO = 0x10050032;
inline constexpr std::uint32_t kFunGetAI = 0x10050057;
inline constexpr std::uint32_t kFunGetAO = 0x10050058;
inline constexpr std::uint32_t kFunSetAO = 0x10050059;
inline constexpr std::uint32_t kFunSetDIParameter = 0x1005007b;
inline constexpr std::uint32_t kFunIoDiParameterConflict = 0x10040034;

// Process image: ten input registers and ten output registers per slave
// number; digital bits from the first register of each ten, analog
// channels (two 16-bit halves per register) from the sixth.
inline constexpr std::uint32_t kRegIoInputs = 6454;
inline constexpr std::uint32_t kRegIoOutputs = 7094;
inline constexpr std::uint32_t kIoRegistersPerSlave = 10;
inline constexpr std::uint32_t kIoAnalogRegisterOffset = 5;
// Channels that the five analog registers of a slave hold.
inline constexpr std::uint32_t kIoAnalogChannelsPerSlave = 10;

inline constexpr int kIoMaxReadBits = 512;   // entries of one digital read
inline constexpr int kIoMaxWriteBits = 64;   // entries and bit numbers of one digital write
inline constexpr int kIoDiParameterKind = 1;
inline constexpr int kErrIoParameterRefused = -8;
inline constexpr std::int32_t kBoardIoParameterRefusedA = 4871;
inline constexpr std::int32_t kBoardIoParameterRefusedB = 4873;
// Completion wait of the digital-input parameter: rounds of 1 ms.
inline constexpr int kIoParameterWaitRounds = 20;
inline constexpr std::uint32_t kIoParameterWaitSleepMs = 1;
// The board takes an output object number in one byte of its packed I/O
// word (channel and command-list output nodes).
inline constexpr std::int32_t kMaxIoObjectNumber = 255;
// Slaves whose command-running bit the status word (register 521) holds.
inline constexpr std::uint32_t kIoStatusSlaves = 32;

// ---------------------------------------------------------------- file jobs
inline constexpr std::uint32_t kCmdDownloadFile = 0x40100001;
inline constexpr std::uint32_t kCmdUploadFile = 0x40110001;
inline constexpr std::uint32_t kFunDownloadFile = 0x10050053;
inline constexpr std::uint32_t kFunUploadFile = 0x10050054;
inline constexpr std::uint32_t kFunFileStep = 0x10040026;
inline constexpr int kFileTypeBoard = 1;
// Results of a job whose first transfer step failed (besides -7, a register
// access of the transfer).
inline constexpr int kErrFileSaveMissing = -8;
inline constexpr int kErrFileStatus = -9;
inline constexpr int kErrFileTimeout = -10;
inline constexpr int kErrFileAccess = -11;
inline constexpr int kErrFileOther = -12;
inline constexpr char kFileJobDirectory[] = "/mmc1:2";
// The export's wait for an early failure of its job.
inline constexpr int kFileEarlyResultRounds = 10;
inline constexpr std::uint32_t kFileEarlyResultSleepMs = 5;

inline constexpr char kMsgOpenFileTimeout[] = "CMD=0x%x, FUN=0x%x, Open file timeout";
inline constexpr char kMsgEnterDirectoryTimeout[] = "CMD=0x%x, FUN=0x%x, Enter directory timeout";
inline constexpr char kMsgCloseFileError[] = "CMD=0x%x, FUN=0x%x, Close file error";
inline constexpr char kMsgFileLengthZero[] = "CMD=0x%x, FUN=0x%x, COMM return filelen is 0";
inline constexpr char kMsgFileRegisterError[] = "CMD=0x%x, FUN=0x%x, Read/Write register error";
inline constexpr char kMsgSaveFileMissing[] = "CMD=0x%x, FUN=0x%x, Save file not exist";
inline constexpr char kMsgOtherPk[] = "CMD=0x%x, FUN=0x%x, other pk error";
inline constexpr char kMsgOtherPkCode[] = "CMD=0x%x, FUN=0x%x, other pk error = %d";
inline constexpr char kMsgStatusRegisterError[] = "CMD=0x%x, FUN=0x%x, Read Status register error";
inline constexpr char kMsgCommunicationTimeout[] = "CMD=0x%x, FUN=0x%x, Communication timeout";
inline constexpr char kMsgFileError[] = "CMD=0x%x, FUN=0x%x, Read/Write file error";

}  // namespace mc
