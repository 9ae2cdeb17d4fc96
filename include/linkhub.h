/*
 * linkhub: the communication layer between the motion interface and the
 * board access library, and the client of the cardhost server.
 *
 * COMM_Init and COMM_Exit must not run beside other calls. Every other COMM_
 * call except COMM_Debug and COMM_GetServerInfo returns 2 until COMM_Init
 * has succeeded. Board calls pass their arguments and results through to
 * boardport unchanged; server requests block, without a time limit, for one
 * 512-byte request and reply over the server pipe, and return 0 on success,
 * -1 for any transport failure, or the server's status.
 *
 * A call that hands back a value refuses a null pointer for it: the server
 * requests with -1, the board calls with boardport's input errors (see
 * boardport.h), and nothing is sent. Outputs marked optional may be null.
 */
#ifndef LINKHUB_H
#define LINKHUB_H

#include <stddef.h>
#include <stdint.h>

#include "qax_export.h"

#if defined(LINKHUB_BUILD)
#  define LINKHUB_API QAX_EXPORT_SYMBOL
#else
#  define LINKHUB_API QAX_IMPORT_SYMBOL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Start-up: 0 ready, 1 already initialised, 4609 server pipe not connected,
 * or WDF_Init's result. Shut-down: WDF_Exit's result, 2 when not ready. */
LINKHUB_API int QAX_CALL COMM_Init(void);
LINKHUB_API int QAX_CALL COMM_Exit(void);
LINKHUB_API int QAX_CALL COMM_Debug(int mode, char *buffer, int bufferLen);

/* Board pass-through. The returned count of a command, the replyLength of
 * the asynchronous commands and the progress counts of the file transfer are
 * optional; the driver-version buffers may be null when their length is 0. */
LINKHUB_API int QAX_CALL COMM_ReadRegister32(uint32_t index, uint32_t *value);
LINKHUB_API int QAX_CALL COMM_WriteRegister32(uint32_t index, const uint32_t *value);
LINKHUB_API int QAX_CALL COMM_ReadRegister64(uint32_t index, uint64_t *value);
LINKHUB_API int QAX_CALL COMM_WriteRegister64(uint32_t index, const uint64_t *value);
LINKHUB_API int QAX_CALL COMM_ReadMultiRegister32(const uint32_t *indices, uint32_t *values, int count);
LINKHUB_API int QAX_CALL COMM_WriteMultiRegister32(const uint32_t *indices, const uint32_t *values, int count);
LINKHUB_API int QAX_CALL COMM_ReadMultiRegister64(const uint32_t *indices, uint64_t *values, int count);
LINKHUB_API int QAX_CALL COMM_WriteMultiRegister64(const uint32_t *indices, const uint64_t *values, int count);
LINKHUB_API int QAX_CALL COMM_SyncImmediateCmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);
LINKHUB_API int QAX_CALL COMM_SetParameter(uint32_t id, uint64_t value);
LINKHUB_API int QAX_CALL COMM_AsynImmediateCmdRequest(const void *command, uint32_t length, void *spare,
                                                      uint32_t spareLength, uint32_t *replyLength);
LINKHUB_API int QAX_CALL COMM_AsynImmediateCmdGetResult(const void *query, uint32_t length, void *reply,
                                                        uint32_t replyCapacity, uint32_t *replyLength);
LINKHUB_API int QAX_CALL COMM_FtpOpen(void);
LINKHUB_API int QAX_CALL COMM_FtpCd(const char *name);
LINKHUB_API int QAX_CALL COMM_FtpSend(const char *localPath, const char *name, uint32_t *sent, uint32_t *total);
LINKHUB_API int QAX_CALL COMM_FtpRecv(const char *name, const char *localPath, uint32_t *received, uint32_t *total);
LINKHUB_API int QAX_CALL COMM_FtpDelete(const char *name);
LINKHUB_API int QAX_CALL COMM_FtpClose(void);
LINKHUB_API int QAX_CALL COMM_FtpMkdir(const char *name);
LINKHUB_API int QAX_CALL COMM_Reset(uint8_t type);
LINKHUB_API int QAX_CALL COMM_GetDriverVersion(char *name, size_t nameLen, void *version, size_t versionLen,
                                               char *text, size_t textLen);
/* Link channels 2 to 10; any other channel gives -1. */
LINKHUB_API int QAX_CALL COMM_ChannelCmd(int channel, const void *in, uint32_t inLen, void *out, uint32_t outLen,
                                         uint32_t *returned);

/* Server requests. The result pointers and areas are required (-1 when
 * null, nothing sent); COMM_GetVariable needs its buffer whatever bufferLen. */
LINKHUB_API int QAX_CALL COMM_RegisterPermission(int level);
LINKHUB_API int QAX_CALL COMM_UnregisterPermission(void);
LINKHUB_API int QAX_CALL COMM_GetPermission(int *level);
LINKHUB_API int QAX_CALL COMM_GetServerInfo(void *info);              /* 72 bytes */
LINKHUB_API int QAX_CALL COMM_ReadCardStatus(int *status);
LINKHUB_API int QAX_CALL COMM_ReadCardECLRStatus(int *state);
LINKHUB_API int QAX_CALL COMM_StartCardECLR(void);
LINKHUB_API int QAX_CALL COMM_StopCardECLR(void);
LINKHUB_API int QAX_CALL COMM_UpdateCard(void);
LINKHUB_API int QAX_CALL COMM_LoadCardConfig(void);
LINKHUB_API int QAX_CALL COMM_ReadCardInfo(void *info);               /* 348 bytes */
LINKHUB_API int QAX_CALL COMM_ReadCardModuleCount(int *count);
LINKHUB_API int QAX_CALL COMM_ReadCardModuleInfo(int index, void *info); /* 44 bytes */
LINKHUB_API int QAX_CALL COMM_ReadCardLogCount(int *count);
LINKHUB_API int QAX_CALL COMM_ReadCardLogInfo(int index, void *info);    /* 124 bytes */
LINKHUB_API int QAX_CALL COMM_ReadCardLastLogInfo(void *info);           /* 124 bytes */
LINKHUB_API int QAX_CALL COMM_ReadECATDeviceCount(int *count);
LINKHUB_API int QAX_CALL COMM_ReadECATDeviceInfo(int index, void *info); /* 40 bytes */
LINKHUB_API int QAX_CALL COMM_SetVariable(int id, int shared, int timeout, const void *data, int dataSize);
LINKHUB_API int QAX_CALL COMM_GetVariable(int id, void *buffer, int bufferLen);
LINKHUB_API int QAX_CALL COMM_IsExistVariable(int id, int *exists);
LINKHUB_API int QAX_CALL COMM_DeleteVariable(int id);

/* Server-side file functions (not gated): 0 when the server answers
 * "Success", -9 otherwise. */
LINKHUB_API int QAX_CALL FtpSend(const char *text1, const char *text2, const char *text3, int number);
LINKHUB_API int QAX_CALL FtpRecv(const char *text1, const char *text2, const char *text3, int number);
LINKHUB_API int QAX_CALL FtpDelete(const char *text1, const char *text2);
LINKHUB_API int QAX_CALL FtpMkdir(const char *text1, const char *text2);

#ifdef __cplusplus
}
#endif

#endif
