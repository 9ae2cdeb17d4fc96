#include "comm_calls.h"

#include <atomic>

#include "journal.h"
#include "linkhub.h"

namespace {

// Wrappers give every entry one plain C++ signature whatever the calling
// convention of the exported function.
const McCommCalls kRealCalls = {
    [] { return COMM_Init(); },
    [] { return COMM_Exit(); },
    [](std::uint8_t type) { return COMM_Reset(type); },
    [](std::uint32_t id, std::uint64_t value) { return COMM_SetParameter(id, value); },
    [](std::uint32_t index, std::uint32_t *value) { return COMM_ReadRegister32(index, value); },
    [](std::uint32_t index, const std::uint32_t *value) { return COMM_WriteRegister32(index, value); },
    [](const std::uint32_t *indices, std::uint32_t *values, int count) {
        return COMM_ReadMultiRegister32(indices, values, count);
    },
    [](const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen, std::uint32_t *returned) {
        return COMM_SyncImmediateCmd(in, inLen, out, outLen, returned);
    },
    [](int channel, const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen, std::uint32_t *returned) {
        return COMM_ChannelCmd(channel, in, inLen, out, outLen, returned);
    },
    [](int level) { return COMM_RegisterPermission(level); },
    [](int id, void *buffer, int bufferLen) { return COMM_GetVariable(id, buffer, bufferLen); },
    [](int id, int shared, int timeout, const void *data, int dataSize) {
        return COMM_SetVariable(id, shared, timeout, data, dataSize);
    },
    [](void *info) { return COMM_ReadCardInfo(info); },
    [](int index, void *info) { return COMM_ReadCardModuleInfo(index, info); },
    [](int index, void *info) { return COMM_ReadCardLogInfo(index, info); },
    [](char *name, std::size_t nameLen, void *version, std::size_t versionLen, char *text, std::size_t textLen) {
        return COMM_GetDriverVersion(name, nameLen, version, versionLen, text, textLen);
    },
    [](void *info) { return COMM_GetServerInfo(info); },
    [] { return COMM_StartCardECLR(); },
    [] { return COMM_StopCardECLR(); },
    [](int *state) { return COMM_ReadCardECLRStatus(state); },
    [](int source, void *buffer, int capacity, int *length) {
        return LOG_GetBufData(source, buffer, capacity, length);
    },
    [] { return COMM_FtpOpen(); },
    [](const char *name) { return COMM_FtpCd(name); },
    [](const char *localPath, const char *name, std::uint32_t *sent, std::uint32_t *total) {
        return COMM_FtpSend(localPath, name, sent, total);
    },
    [](const char *name, const char *localPath, std::uint32_t *received, std::uint32_t *total) {
        return COMM_FtpRecv(name, localPath, received, total);
    },
    [] { return COMM_FtpClose(); },
};

std::atomic<const McCommCalls *> g_CommCalls{&kRealCalls};

}  // namespace

const McCommCalls &McComm() { return *g_CommCalls.load(std::memory_order_acquire); }

const McCommCalls &McRealComm() { return kRealCalls; }

void McSetCommCalls(const McCommCalls *calls) {
    g_CommCalls.store(calls != nullptr ? calls : &kRealCalls, std::memory_order_release);
}
