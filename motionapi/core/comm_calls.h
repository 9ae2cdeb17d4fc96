// The communication-layer calls the library makes, reached through one table
// so that a test can stand in for results the real stack cannot produce.
#pragma once

#include <cstddef>
#include <cstdint>

struct McCommCalls {
    int (*Init)();
    int (*Exit)();
    int (*Reset)(std::uint8_t type);
    int (*SetParameter)(std::uint32_t id, std::uint64_t value);
    int (*ReadRegister32)(std::uint32_t index, std::uint32_t *value);
    int (*WriteRegister32)(std::uint32_t index, const std::uint32_t *value);
    int (*ReadMultiRegister32)(const std::uint32_t *indices, std::uint32_t *values, int count);
    int (*SyncImmediateCmd)(const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                            std::uint32_t *returned);
    int (*ChannelCmd)(int channel, const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                      std::uint32_t *returned);
    int (*RegisterPermission)(int level);
    int (*GetVariable)(int id, void *buffer, int bufferLen);
    int (*SetVariable)(int id, int shared, int timeout, const void *data, int dataSize);
    int (*ReadCardInfo)(void *info);
    int (*ReadCardModuleInfo)(int index, void *info);
    int (*ReadCardLogInfo)(int index, void *info);
    int (*GetDriverVersion)(char *name, std::size_t nameLen, void *version, std::size_t versionLen, char *text,
                            std::size_t textLen);
    int (*GetServerInfo)(void *info);
    int (*StartCardECLR)();
    int (*StopCardECLR)();
    int (*ReadCardECLRStatus)(int *state);
    // The log library's module block.
    int (*LogBufData)(int source, void *buffer, int capacity, int *length);

    // File transfer to and from the board's storage, one step per call.
    int (*FtpOpen)();
    int (*FtpCd)(const char *name);
    int (*FtpSend)(const char *localPath, const char *name, std::uint32_t *sent, std::uint32_t *total);
    int (*FtpRecv)(const char *name, const char *localPath, std::uint32_t *received, std::uint32_t *total);
    int (*FtpClose)();
};

// The calls in force: the communication layer's own unless a test set others.
const McCommCalls &McComm();
// The communication layer's own calls.
const McCommCalls &McRealComm();
// Installs `calls` (nullptr: the real ones again). The caller keeps it alive.
void McSetCommCalls(const McCommCalls *calls);
