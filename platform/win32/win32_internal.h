// Helpers shared by the Windows side of the platform layer.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform::win32 {

inline constexpr std::uint32_t kErrorInvalidData = ERROR_INVALID_DATA;

// The last error := the system's last error of this thread.
void set_error_from_system();

// UTF-8 <-> UTF-16 for the wide calls.
std::wstring widen(const std::string &text);
std::string narrow(const wchar_t *text);

// An owned kernel handle (null and INVALID_HANDLE_VALUE both mean none).
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle &&other) noexcept : handle_(other.release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset(HANDLE handle = nullptr);

private:
    HANDLE handle_ = nullptr;
};

// A connected pipe handle as a Stream; `overlapped` when the handle was
// opened for overlapped I/O (the server side of our listeners).
std::unique_ptr<Stream> make_pipe_stream(UniqueHandle pipe, bool overlapped);

// Opens a device path or the client end of a pipe for reading and writing,
// retrying a while when every pipe instance is busy. Invalid on failure.
UniqueHandle open_pipe_client(const std::wstring &name, DWORD share);

// A zeroed page of `size` bytes that every copy of this layer in the process
// maps for the slot `kind` ("clock", "devices"); nullptr when it cannot be made.
void *map_process_slot(const wchar_t *kind, std::size_t size);

}  // namespace platform::win32
