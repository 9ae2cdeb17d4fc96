// The exported server requests, one per command.
#include "layer_state.h"
#include "linkhub.h"
#include "messages.h"
#include "platform/platform.h"
#include "server_records.h"
#include "server_requests.h"

using namespace linkhub;

namespace {

// Parameter text of one request.
struct Parameters {
    char text[kParametersSize] = {};
};

int process_id() { return static_cast<int>(platform::process_id()); }

template <typename... Args>
Parameters parameters(const char *format, Args... args) {
    Parameters p;
    format_into(p.text, sizeof p.text, format, args...);
    return p;
}

}  // namespace

extern "C" {

LINKHUB_API int QAX_CALL COMM_RegisterPermission(int level) {
    if (!layer_ready()) return kNotReady;
    return request_value(kCmdRegisterPermission, parameters(kParamsPermission, process_id(), level).text);
}

LINKHUB_API int QAX_CALL COMM_UnregisterPermission(void) {
    if (!layer_ready()) return kNotReady;
    return request_value(kCmdUnregisterPermission, parameters(kParamsProcess, process_id()).text);
}

LINKHUB_API int QAX_CALL COMM_GetPermission(int *level) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdGetPermission, parameters(kParamsProcess, process_id()).text, level, kReplyWord);
}

// Not gated: it may be asked before the board is ready, but needs the pipe object.
LINKHUB_API int QAX_CALL COMM_GetServerInfo(void *info) {
    if (!g_ServerPipe) return kRequestFailed;
    return request_record(kCmdGetServerInfo, nullptr, info, kReplyServerInfo);
}

LINKHUB_API int QAX_CALL COMM_ReadCardStatus(int *status) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadCardStatus, nullptr, status, kReplyWord);
}

LINKHUB_API int QAX_CALL COMM_ReadCardECLRStatus(int *state) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadCardEclrStatus, nullptr, state, kReplyWord);
}

LINKHUB_API int QAX_CALL COMM_StartCardECLR(void) {
    if (!layer_ready()) return kNotReady;
    return request_value(kCmdSetCardEclr, parameters(kParamsEclr, kEclrStart).text);
}

LINKHUB_API int QAX_CALL COMM_StopCardECLR(void) {
    if (!layer_ready()) return kNotReady;
    return request_value(kCmdSetCardEclr, parameters(kParamsEclr, kEclrStop).text);
}

LINKHUB_API int QAX_CALL COMM_UpdateCard(void) {
    if (!layer_ready()) return kNotReady;
    return request_value(kCmdUpdateCard, nullptr);
}

LINKHUB_API int QAX_CALL COMM_LoadCardConfig(void) {
    if (!layer_ready()) return kNotReady;
    return request_value(kCmdLoadCardConfig, nullptr);
}

LINKHUB_API int QAX_CALL COMM_ReadCardInfo(void *info) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadCardInfo, nullptr, info, kReplyCardInfo);
}

LINKHUB_API int QAX_CALL COMM_ReadCardModuleCount(int *count) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadCardModuleCount, nullptr, count, kReplyWord);
}

LINKHUB_API int QAX_CALL COMM_ReadCardModuleInfo(int index, void *info) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadCardModuleInfo, parameters(kParamsIndex, index).text, info, kReplyModuleInfo);
}

LINKHUB_API int QAX_CALL COMM_ReadCardLogCount(int *count) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadCardLogCount, nullptr, count, kReplyWord);
}

LINKHUB_API int QAX_CALL COMM_ReadCardLogInfo(int index, void *info) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadCardLogInfo, parameters(kParamsIndex, index).text, info, kReplyLogInfo);
}

LINKHUB_API int QAX_CALL COMM_ReadCardLastLogInfo(void *info) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadCardLastLogInfo, nullptr, info, kReplyLogInfo);
}

LINKHUB_API int QAX_CALL COMM_ReadECATDeviceCount(int *count) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadEcatDeviceCount, nullptr, count, kReplyWord);
}

LINKHUB_API int QAX_CALL COMM_ReadECATDeviceInfo(int index, void *info) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdReadEcatDeviceInfo, parameters(kParamsIndex, index).text, info,
                          kReplyEcatDeviceInfo);
}

LINKHUB_API int QAX_CALL COMM_SetVariable(int id, int shared, int timeout, const void *data, int dataSize) {
    if (!layer_ready()) return kNotReady;
    // Only what fits the request record is sent; nothing goes out otherwise.
    if (dataSize < 0 || dataSize > kRequestDataMax || (dataSize > 0 && data == nullptr)) return kRequestFailed;
    return request_value(kCmdSetVariable,
                         parameters(kParamsSetVariable, process_id(), id, shared, timeout, dataSize).text, data,
                         dataSize);
}

LINKHUB_API int QAX_CALL COMM_GetVariable(int id, void *buffer, int bufferLen) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdGetVariable, parameters(kParamsVariable, process_id(), id).text, buffer, bufferLen);
}

LINKHUB_API int QAX_CALL COMM_IsExistVariable(int id, int *exists) {
    if (!layer_ready()) return kNotReady;
    return request_record(kCmdIsExistVariable, parameters(kParamsVariable, process_id(), id).text, exists,
                          kReplyWord);
}

LINKHUB_API int QAX_CALL COMM_DeleteVariable(int id) {
    if (!layer_ready()) return kNotReady;
    return request_value(kCmdDeleteVariable, parameters(kParamsVariable, process_id(), id).text);
}

}  // extern "C"
