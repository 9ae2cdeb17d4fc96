// Codes, limits, names and message texts of the communication layer.
#pragma once

#include <cstdint>

namespace linkhub {

// ---------------------------------------------------------------- results

inline constexpr int kReady = 0;
inline constexpr int kAlreadyInitialised = 1;
inline constexpr int kNotReady = 2;
inline constexpr int kPipeNotConnected = 4609;
inline constexpr int kBadLinkChannel = -1;
inline constexpr int kRequestFailed = -1;
inline constexpr int kFileReplyNotSuccess = -9;

// Service steps.
inline constexpr int kServiceOk = 0;
inline constexpr int kServiceNoManager = -1;
inline constexpr int kServiceOpenFailed = -2;
inline constexpr int kServiceExecutableMissing = -2;
inline constexpr int kServiceQueryFailed = -3;
inline constexpr int kServiceCreateFailed = -3;
inline constexpr int kServiceStartFailed = -3;
inline constexpr int kServiceNoResultPlace = -4;
inline constexpr int kServiceNotInstalled = -5;

// Pipe exchange.
inline constexpr int kExchangeOk = 1;
inline constexpr int kExchangeWriteFailed = -1;
inline constexpr int kExchangeReadFailed = -2;
inline constexpr int kExchangeIdMismatch = -3;
inline constexpr int kExchangeBadData = -4;

// ---------------------------------------------------------------- logging

inline constexpr std::uint8_t kLogLevelMessage = 3;
inline constexpr std::uint8_t kLogLevelIdentity = 32;
inline constexpr int kLogModule = 4608;
inline constexpr int kMessageCapacity = 512;
inline constexpr int kLogTextMax = 255;
// A message goes to standard output with "\r\n" and a line end; the
// server's reply text to a file function with "\r\n" only.
inline constexpr char kMessageEnd[] = "\r\n\n";
inline constexpr char kReplyTextEnd[] = "\r\n";

inline constexpr int kIdentityCodeName = 0;
inline constexpr int kIdentityCodeVersion = 1;
inline constexpr int kIdentityCodeBuild = 19;
inline constexpr char kModuleName[] = "linkhub";
inline constexpr char kModuleVersion[] = "V2.0.2.3120";
inline constexpr char kBuildFormat[] = "%s, %s[]";

// Log codes of the messages that have a fixed one.
inline constexpr int kCodeOpenManager = -1;
inline constexpr int kCodeGetServerState = -1;
inline constexpr int kCodeOpenService = -2;
inline constexpr int kCodeQueryService = -3;
inline constexpr int kCodeCreateService = -3;
inline constexpr int kCodeWriteRequest = -1;
inline constexpr int kCodeReadResponse = -1;
inline constexpr int kCodeRequestId = -3;
inline constexpr int kCodeResponseState = -4;
inline constexpr int kCodeRequestData = -1;
inline constexpr int kCodeFileReply = 0;

// The ideographic full stop "\xA1\xA3" is stored as its two GBK bytes.
inline constexpr char kTextOpenManagerFail[] = "Open SC Manager fail. %d:GetLastError()";
inline constexpr char kTextInstallFail[] = "Install Server status fail\xA1\xA3%d:Install()";
inline constexpr char kTextStartAfterInstallFail[] = "Start Server status fail\xA1\xA3%d:Start()";
inline constexpr char kTextGetServerStateFail[] = "Get Server status fail\xA1\xA3%d:GetServerState()";
inline constexpr char kTextStartServerFail[] = "Start Server fail. %d:Start()";
inline constexpr char kTextCreateServerFail[] = "Create Server fail. %d:GetLastError()";
inline constexpr char kTextOpenServiceFail[] = "Open Service fail. %d:GetLastError()";
inline constexpr char kTextQueryServiceFail[] = "Get Server Status fail. %d:GetLastError()";
inline constexpr char kTextStartServiceFail[] = "Start Service fail. %d:GetLastError()";
inline constexpr char kTextWaitPipeFail[] = "WaitNamedPipeA(\"%s\", %d), %d = GetLastError()";
inline constexpr char kTextConnectTimeout[] = "Connect server timeout. GetLastError:%d";
inline constexpr char kTextBoardInitFail[] = "%d:WDF_Init()";
inline constexpr char kTextWriteRequestFail[] = "Write request fail. GetLastError:%d";
inline constexpr char kTextReadResponseFail[] = "Read response fail. GetLastError:%d";
inline constexpr char kTextRequestIdMismatch[] = "RequestId:%d, ResponseId:%d";
inline constexpr char kTextResponseState[] = "The state of the response is %d";
inline constexpr char kTextRequestDataFail[] = "Request data size fail. dataSize:%d";

// ---------------------------------------------------------------- server

inline constexpr char kServiceName[] = "cardhost";
inline constexpr char kServerPathEnv[] = "programfiles(x86)";
// The executable path in its Windows form; server_service.cpp makes it native.
inline constexpr char kServerPathFormat[] = "%s\\Corvane\\cardhost\\cardhost.exe";
inline constexpr char kPipeName[] = "\\\\.\\Pipe\\CorvaneTq5Server";
inline constexpr std::uint32_t kPipeWaitMs = 1000;
inline constexpr int kRequestIdMax = 32767;

// Request commands.
inline constexpr int kCmdRegisterPermission = 1;
inline constexpr int kCmdUnregisterPermission = 2;
inline constexpr int kCmdGetPermission = 3;
inline constexpr int kCmdGetServerInfo = 4;
inline constexpr int kCmdReadCardStatus = 17;
inline constexpr int kCmdReadCardEclrStatus = 18;
inline constexpr int kCmdSetCardEclr = 19;
inline constexpr int kCmdUpdateCard = 20;
inline constexpr int kCmdLoadCardConfig = 21;
inline constexpr int kCmdReadCardInfo = 22;
inline constexpr int kCmdReadCardModuleCount = 23;
inline constexpr int kCmdReadCardModuleInfo = 24;
inline constexpr int kCmdReadCardLogCount = 25;
inline constexpr int kCmdReadCardLogInfo = 26;
inline constexpr int kCmdReadCardLastLogInfo = 27;
inline constexpr int kCmdReadEcatDeviceCount = 28;
inline constexpr int kCmdReadEcatDeviceInfo = 29;
inline constexpr int kCmdFileSend = 35;
inline constexpr int kCmdFileRecv = 36;
inline constexpr int kCmdFileDelete = 37;
inline constexpr int kCmdFileMkdir = 38;
inline constexpr int kCmdSetVariable = 65;
inline constexpr int kCmdGetVariable = 66;
inline constexpr int kCmdIsExistVariable = 67;
inline constexpr int kCmdDeleteVariable = 68;

// Parameter texts.
inline constexpr char kParamsPermission[] = "processId=%d&level=%d";
inline constexpr char kParamsProcess[] = "processId=%d";
inline constexpr char kParamsEclr[] = "status=%d";
inline constexpr char kParamsIndex[] = "index=%d";
inline constexpr char kParamsSetVariable[] = "processId=%d&id=%d&shared=%d&timeout=%d&dataSize=%d";
inline constexpr char kParamsVariable[] = "processId=%d&id=%d";

// Reply sizes.
inline constexpr int kReplyWord = 4;
inline constexpr int kReplyServerInfo = 72;
inline constexpr int kReplyCardInfo = 348;
inline constexpr int kReplyModuleInfo = 44;
inline constexpr int kReplyLogInfo = 124;
inline constexpr int kReplyEcatDeviceInfo = 40;

// File functions: the argument text and the reply text.
inline constexpr char kFileTextFour[] = "%s\n%s\n%s\n%d\n";
inline constexpr char kFileTextTwo[] = "%s\n%s\n";
inline constexpr char kFileReplySuccess[] = "Success";

inline constexpr int kEclrStart = 1;
inline constexpr int kEclrStop = 0;

// COMM_Debug.
inline constexpr int kDebugModeProcess = 0;
inline constexpr char kDebugFormat[] = "processId=%d&startPath=%s";
inline constexpr int kDebugPathMax = 80;

}  // namespace linkhub
