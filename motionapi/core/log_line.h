// One failure or refusal line to the journal, formatted into 256 bytes.
#pragma once

#include <cstdint>

#if defined(__GNUC__)
#define MC_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MC_PRINTF_LIKE(fmt, args)
#endif

// Formats the line (at most 255 characters) and hands it to LOG_SetLog; the
// journal's result is ignored.
void McLog(std::uint8_t level, int module, int code, const char *format, ...) MC_PRINTF_LIKE(4, 5);

// Level 2 under the library's main module, the common case.
void McLogError(int code, const char *format, ...) MC_PRINTF_LIKE(2, 3);

// Level 2 under the checks' module.
void McLogCheck(int code, const char *format, ...) MC_PRINTF_LIKE(2, 3);
