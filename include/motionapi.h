/*
 * motionapi: the motion interface of the controller board.
 *
 * Every call returns a 32-bit result: 0 success, 1 refused without error
 * (no write permission, not supported by the controller) or a yes-answer,
 * -1 input parameter out of range, -2 axis or slave not configured, -3 state
 * conflict, -4 timeout, -5 register access failed, -6 board error or
 * EtherCAT / communication layer not in the needed state, -7 transport or
 * communication-layer failure. Failures are written to the host log.
 * Records are packed to 4 bytes.
 */
#ifndef MOTIONAPI_H
#define MOTIONAPI_H

#include <stdint.h>

#include "qax_export.h"

#if defined(MOTIONAPI_BUILD)
#  define MOTIONAPI_API QAX_EXPORT_SYMBOL
#else
#  define MOTIONAPI_API QAX_IMPORT_SYMBOL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 4)
/* Controller information: the name (without terminator; bytes after a
 * shorter name keep the caller's contents) and 23 version entries of four
 * words: modules 0-16, the board driver, the server, log modules 0-3. */
typedef struct McControllerInfo {
    char name[28];
    uint32_t entries[23][4];
} McControllerInfo;
#pragma pack(pop)

/* Opens the controller connection: initialises the communication layer,
 * resets the board, starts the background thread, checks the EtherCAT
 * master, loads the shared configuration and takes write permission when
 * the server grants it. Blocks for at least 200 ms. 0 ready (with or
 * without write permission), 1 already initialised, -2 communication layer
 * failed, -3 board not opened or reset failed, -4 resources, -5 register or
 * permission failure, -6 EtherCAT not operational, -7 configuration not
 * loaded. After -5, -6 or -7 the connection stays open: QAX_Init returns 1
 * and QAX_GetInitStatus repeats the failed checks. Not to be called beside
 * other calls. */
MOTIONAPI_API int QAX_CALL QAX_Init(void);

/* -1 when not initialised; else repeats the EtherCAT check, the
 * configuration load, the cycle-period read and the permission request and
 * returns their result as QAX_Init does. Blocks for the board and server
 * requests. */
MOTIONAPI_API int QAX_CALL QAX_GetInitStatus(void);

/* Closes the connection: with write permission sends the board's exit
 * command first (-7 transport, -6 board error: nothing closed then); stops
 * and waits for the background thread (at least 200 ms), drops the
 * permission and closes the communication layer. 0. Not to be called beside
 * other calls. */
MOTIONAPI_API int QAX_CALL QAX_Exit(void);

/* mode 1 takes, mode 0 gives up write permission. 0, -1 bad mode, -3 the
 * server answered the other level, -7 server failure. Blocks for one server
 * request. */
MOTIONAPI_API int QAX_CALL QAX_RegisterWritePermission(int mode);

/* One log record: source 0 the host log, 1 the board log. info receives 100
 * bytes (25 words); bufSize is its size and must be at least 100. *len = the
 * text length, 0 when there is no record (other outputs untouched then).
 * 0; -1 bad parameter or a record longer than bufSize (outputs filled);
 * -3 axes are moving (board log only); -5 status read failed; -7 server
 * failure. */
MOTIONAPI_API int QAX_CALL QAX_GetLog(int source, int index, uint8_t *level, uint32_t *code, uint32_t *info,
                                     int bufSize, int *len);

/* which must be 1: *status = 1 board opened, -1, -2, -3 the board could not
 * be opened (codes 16, 17, 18), -4 otherwise. 0 or -1. Does not block. */
MOTIONAPI_API int QAX_CALL QAX_GetControllerStatus(int which, int *status);

/* Fills the controller information from the server and the log library.
 * 0; -7 a request failed; -1 a log module entry is empty. Stops at the first
 * failing entry (later entries unfilled). Blocks for the server requests. */
MOTIONAPI_API int QAX_CALL QAX_GetControllerInfo(McControllerInfo *info);

/* Start and stop the board's EtherCAT communication through the server: 0
 * or -6. Block for one server request. */
MOTIONAPI_API int QAX_CALL QAX_StartEcatComm(void);
MOTIONAPI_API int QAX_CALL QAX_StopEcatComm(void);
/* 1 running, 0 not running, -6 failure. Blocks for one server request. */
MOTIONAPI_API int QAX_CALL QAX_GetEcatCommStatus(void);

/* Work status of buffered channel ch (0 idle, 1 running, 3 paused) for ch
 * 0..3, 0 for any other number. Does not block. The Windows library exports
 * it under the decorated name of an int(int) function. */
MOTIONAPI_API int QAX_CALL QAXT_STD_GetChannelWorkStatus(int ch);

#ifdef __cplusplus
}
#endif

#endif
