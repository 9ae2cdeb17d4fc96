/*
 * journal: the log library every layer of the stack writes to.
 *
 * All calls are thread-safe and may be made from any thread at any time,
 * LOG_SetLog even before LOG_Init. None of them blocks beyond a short
 * internal lock.
 */
#ifndef JOURNAL_H
#define JOURNAL_H

#include <stddef.h>
#include <stdint.h>

#include "qax_export.h"

#if defined(JOURNAL_BUILD)
#  define JOURNAL_API QAX_EXPORT_SYMBOL
#else
#  define JOURNAL_API QAX_IMPORT_SYMBOL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Log levels and the modules of the stack. */
enum {
    JOURNAL_LEVEL_ERROR = 2,
    JOURNAL_LEVEL_FAILURE = 3,
    JOURNAL_LEVEL_IDENTITY = 32
};

/* One log record as LOG_GetLog hands it out (124 bytes, 4-byte packing).
 * word0: bits 14-15 the level (low two bits of it), bits 0-7 the code's low byte. */
#pragma pack(push, 4)
typedef struct JournalLogRecord {
    uint32_t word0;
    uint32_t sequence;       /* running number of the record */
    uint32_t module;         /* module number as given */
    uint32_t seconds;        /* time the record was made, seconds since the epoch */
    uint8_t level;           /* the full level byte */
    uint8_t reserved;
    uint8_t textLength;      /* 0 = empty; at most 100 */
    char text[101];          /* NUL-terminated, 100 characters at most */
    uint16_t codeHigh;       /* bits 8-23 of the code */
    uint16_t reserved2;
} JournalLogRecord;

/* One entry of the module block of LOG_GetBufData: 44 bytes. */
typedef struct JournalModuleEntry {
    uint16_t version[4];
    uint8_t reserved[16];
    char name[20];           /* NUL-terminated, at most 16 bytes used */
} JournalModuleEntry;
#pragma pack(pop)

#define JOURNAL_MODULE_ENTRIES 16
#define JOURNAL_MODULE_BLOCK_SIZE (JOURNAL_MODULE_ENTRIES * 44)

/* Prepares the library; repeated calls are harmless. Returns 0. */
JOURNAL_API int QAX_CALL LOG_Init(void);

/* Appends one record. text is NUL-terminated, length its length without the
 * NUL (a longer text is cut). Returns 0, or -1 for a null text. */
JOURNAL_API int QAX_CALL LOG_SetLog(uint8_t level, int module, int code, const char *text, int length);

/* The record at index (0 = the oldest of the up to 1024 records still held),
 * or NULL when there is none. The address is a copy owned by the calling
 * thread, valid until that thread's next LOG_GetLog. */
JOURNAL_API const JournalLogRecord *QAX_CALL LOG_GetLog(int index);

/* source 0: fills buffer with the 704-byte block of 16 module entries.
 * Returns 0 when filled, -1 for an unknown source, a null buffer or a
 * capacity below 704. *length (when given) receives the bytes written. */
JOURNAL_API int QAX_CALL LOG_GetBufData(int source, void *buffer, int capacity, int *length);

#ifdef __cplusplus
}
#endif

#endif
