#include "messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "journal.h"
#include "linkhub_constants.h"

namespace linkhub {
namespace {

void emit(std::uint8_t level, int code, const char *text, const char *end) {
    std::printf("%s%s", text, end);
    std::fflush(stdout);
    char logged[kLogTextMax + 1];
    std::size_t length = std::strlen(text);
    if (length > static_cast<std::size_t>(kLogTextMax)) length = static_cast<std::size_t>(kLogTextMax);
    std::memcpy(logged, text, length);
    logged[length] = '\0';
    LOG_SetLog(level, kLogModule, code, logged, static_cast<int>(length));
}

int vformat_into(char *out, std::size_t capacity, const char *format, std::va_list args) {
    if (out == nullptr || capacity == 0) return 0;
    const int wanted = std::vsnprintf(out, capacity, format, args);
    if (wanted < 0) {
        out[0] = '\0';
        return 0;
    }
    const auto stored = static_cast<std::size_t>(wanted) < capacity ? static_cast<std::size_t>(wanted) : capacity - 1;
    return static_cast<int>(stored);
}

void log_identity(int code, const char *text) {
    LOG_SetLog(kLogLevelIdentity, kLogModule, code, text, static_cast<int>(std::strlen(text)));
}

}  // namespace

void message(int code, const char *format, ...) {
    char text[kMessageCapacity];
    std::va_list args;
    va_start(args, format);
    vformat_into(text, sizeof text, format, args);
    va_end(args);
    emit(kLogLevelMessage, code, text, kMessageEnd);
}

void message_text(int code, const char *text) {
    emit(kLogLevelMessage, code, text != nullptr ? text : "", kReplyTextEnd);
}

int format_into(char *out, std::size_t capacity, const char *format, ...) {
    std::va_list args;
    va_start(args, format);
    const int stored = vformat_into(out, capacity, format, args);
    va_end(args);
    return stored;
}

void write_identity() {
    log_identity(kIdentityCodeName, kModuleName);
    log_identity(kIdentityCodeVersion, kModuleVersion);
    char build[kMessageCapacity];
    format_into(build, sizeof build, kBuildFormat, __DATE__, __TIME__);
    log_identity(kIdentityCodeBuild, build);
}

}  // namespace linkhub
