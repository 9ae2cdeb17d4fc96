/*
 * boardport: access to the motion board through its kernel driver.
 *
 * Every call turns into one or more of the driver's I/O-control requests on
 * the one device handle that WDF_Init opens. The process-wide state is not
 * locked: WDF_Init and WDF_Exit must not run beside other calls. The 32-bit
 * single register calls, the channel commands and the synchronous immediate
 * command hold the system-wide lock "SyncMutex" for one request (waiting at
 * most 1000 ms); every other call takes no lock.
 *
 * Results: 0 success; -1 device not open; -2 synchronous command failed with
 * nothing returned; -3 lock not obtained, parameter or version request
 * failed, or block count too large; -4 register request failed or short;
 * -5 channel or immediate command failed; 16, 17, 18 from WDF_Init; small
 * positive codes from the mailbox calls (1 = not finished, call again).
 *
 * A pointer through which a call hands back its value must not be null: the
 * call refuses it with its family's input error (register calls -4, the
 * driver version -3, channel and immediate commands -5, the mailbox calls 7)
 * and sends nothing. Outputs marked optional below may be null.
 *
 * When a process ends while it holds "SyncMutex", the next waiter takes the
 * lock over, logs that once (level 2, module 4352, code 3) and goes on.
 * On POSIX every driver request fails after 3 s in which the device made no
 * progress, and the next request connects to the device again.
 */
#ifndef BOARDPORT_H
#define BOARDPORT_H

#include <stddef.h>
#include <stdint.h>

#include "qax_export.h"

#if defined(BOARDPORT_BUILD)
#  define BOARDPORT_API QAX_EXPORT_SYMBOL
#else
#  define BOARDPORT_API QAX_IMPORT_SYMBOL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Start-up and shut-down. WDF_Init: 0 opened, -1 lock not created, 16 no
 * board, 17 access denied, 18 other open failure. WDF_Exit: always 0. */
BOARDPORT_API int QAX_CALL WDF_Init(void);
BOARDPORT_API int QAX_CALL WDF_Exit(void);

/* Single registers (index 0..0x2FFF). The 32-bit forms take the lock. value
 * must not be null (-4, no request). A failed read stores 0. */
BOARDPORT_API int QAX_CALL WDF_ReadRegister32(uint32_t index, uint32_t *value);
BOARDPORT_API int QAX_CALL WDF_WriteRegister32(uint32_t index, const uint32_t *value);
BOARDPORT_API int QAX_CALL WDF_ReadRegister64(uint32_t index, uint64_t *value);
BOARDPORT_API int QAX_CALL WDF_WriteRegister64(uint32_t index, const uint64_t *value);

/* Register blocks: up to 12288 32-bit or 6144 64-bit values; no lock. */
BOARDPORT_API int QAX_CALL WDF_ReadMultiRegister32(const uint32_t *indices, uint32_t *values, int count);
BOARDPORT_API int QAX_CALL WDF_WriteMultiRegister32(const uint32_t *indices, const uint32_t *values, int count);
BOARDPORT_API int QAX_CALL WDF_ReadMultiRegister64(const uint32_t *indices, uint64_t *values, int count);
BOARDPORT_API int QAX_CALL WDF_WriteMultiRegister64(const uint32_t *indices, const uint64_t *values, int count);

/* Channel commands on link channels 2 (WDF_ChannelCmd) and 3 to 10. A buffer
 * with a length above 0 must not be null (-5); returned is optional. */
BOARDPORT_API int QAX_CALL WDF_ChannelCmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);
BOARDPORT_API int QAX_CALL WDF_Channel3Cmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);
BOARDPORT_API int QAX_CALL WDF_Channel4Cmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);
BOARDPORT_API int QAX_CALL WDF_Channel5Cmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);
BOARDPORT_API int QAX_CALL WDF_Channel6Cmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);
BOARDPORT_API int QAX_CALL WDF_Channel7Cmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);
BOARDPORT_API int QAX_CALL WDF_Channel8Cmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);
BOARDPORT_API int QAX_CALL WDF_Channel9Cmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);
BOARDPORT_API int QAX_CALL WDF_Channel10Cmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);

/* Synchronous immediate command (link channel 1): the reply arrives in out;
 * returned is optional. */
BOARDPORT_API int QAX_CALL WDF_SyncImmediateCmd(const void *in, uint32_t inLen, void *out, uint32_t outLen, uint32_t *returned);

/* Driver parameter (id is not used) and driver version record: each of the
 * three buffers may be null only when its length is 0 (else -3, no request). */
BOARDPORT_API int QAX_CALL WDF_SetParameter(uint32_t id, uint64_t value);
BOARDPORT_API int QAX_CALL WDF_GetDriverVersion(char *name, size_t nameLen, void *version, size_t versionLen,
                                                char *text, size_t textLen);

/* Board reset: type 0 clears every register, 1 to 10 waits for that link
 * channel to be idle, anything else returns 1. */
BOARDPORT_API int QAX_CALL WDF_Reset(uint8_t type);

/* Asynchronous immediate commands over the immediate mailbox. replyLength is
 * optional; a null reply takes no payload (35 for a reply that has one). */
BOARDPORT_API int QAX_CALL CAM_AsynImmediateCmdRequest(const void *command, uint32_t length, void *spare,
                                                       uint32_t spareLength, uint32_t *replyLength);
BOARDPORT_API int QAX_CALL CAM_AsynImmediateCmdGetResult(const void *query, uint32_t length, void *reply,
                                                         uint32_t replyCapacity, uint32_t *replyLength);

/* File transfer over the transfer mailbox; send and receive run one step per
 * call and return 1 while the caller must call again. Names are board-side
 * names of at most 64 bytes; CAM_FtpCd, CAM_FtpDelete and CAM_FtpMkdir refuse
 * a null name with 7 and post nothing. The progress counts (sent, received,
 * total) are optional. */
BOARDPORT_API int QAX_CALL CAM_FtpOpen(void);
BOARDPORT_API int QAX_CALL CAM_FtpCd(const char *name);
BOARDPORT_API int QAX_CALL CAM_FtpSend(const char *localPath, const char *name, uint32_t *sent, uint32_t *total);
BOARDPORT_API int QAX_CALL CAM_FtpRecv(const char *name, const char *localPath, uint32_t *received, uint32_t *total);
BOARDPORT_API int QAX_CALL CAM_FtpDelete(const char *name);
BOARDPORT_API int QAX_CALL CAM_FtpClose(void);
BOARDPORT_API int QAX_CALL CAM_FtpMkdir(const char *name);

/* Timing printout of the last sends, and a register bus exercise. */
BOARDPORT_API void QAX_CALL TEST_TransferFileTime(void);
BOARDPORT_API void QAX_CALL TEST_PciBus(void);

#ifdef __cplusplus
}
#endif

#endif
