// Message output of the layer: standard output and the journal.
#pragma once

#include <cstddef>

namespace linkhub {

#if defined(__GNUC__)
#  define LINKHUB_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#  define LINKHUB_PRINTF(fmt, args)
#endif

// Formats one message into 512 bytes, prints it with "\r\n" and a line end
// and logs it at level 3 under the layer's module, cut to 255 characters.
void message(int code, const char *format, ...) LINKHUB_PRINTF(2, 3);

// Prints a text as it is with "\r\n" and logs it (the server's reply to a
// file function).
void message_text(int code, const char *text);

// The three identity records of the layer.
void write_identity();

// snprintf that always terminates and never overruns; returns the length stored.
int format_into(char *out, std::size_t capacity, const char *format, ...) LINKHUB_PRINTF(3, 4);

}  // namespace linkhub
