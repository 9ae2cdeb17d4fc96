// Named pipes: the client (wait, open, full reads and writes) and the
// server side that the stand-ins listen on. Pipes named "\\.\Pipe\NAME" go by
// their scoped names (run_scope.cpp); a device path (listen_stream, the
// virtual board's pipe) is used as it is.
#include <algorithm>
#include <mutex>

#include "win32_internal.h"

namespace platform {
namespace win32 {
namespace {

constexpr std::uint32_t kWaitStepMs = 5;
constexpr DWORD kBusyRetryMs = 100;
constexpr int kBusyRetries = 20;
constexpr DWORD kPipeBufferBytes = 64 * 1024;

class PipeStream final : public Stream {
public:
    PipeStream(UniqueHandle pipe, bool overlapped) : pipe_(std::move(pipe)), overlapped_(overlapped) {
        if (overlapped_) {
            // One event per direction for the stream's life: making one per
            // transfer costs a fifth of an exchange's time under wine.
            read_done_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            write_done_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        }
    }

    bool write(const void *data, std::uint32_t len, std::uint32_t *done) override {
        return transfer(const_cast<void *>(data), len, done, true);
    }
    bool read(void *data, std::uint32_t len, std::uint32_t *done) override {
        return transfer(data, len, done, false);
    }

private:
    // One WriteFile or ReadFile; false with the last error set.
    bool once(unsigned char *at, DWORD want, DWORD &moved, bool writing) {
        moved = 0;
        if (!overlapped_) {
            const BOOL ok = writing ? WriteFile(pipe_.get(), at, want, &moved, nullptr)
                                    : ReadFile(pipe_.get(), at, want, &moved, nullptr);
            if (!ok) set_error_from_system();
            return ok != FALSE;
        }
        OVERLAPPED request{};
        const UniqueHandle &event = writing ? write_done_ : read_done_;
        if (!event.valid()) {
            set_last_error(kErrorNotEnoughMemory);  // the event could not be made
            return false;
        }
        request.hEvent = event.get();  // reset by the read or write that starts
        BOOL ok = writing ? WriteFile(pipe_.get(), at, want, nullptr, &request)
                          : ReadFile(pipe_.get(), at, want, nullptr, &request);
        if (!ok && GetLastError() != ERROR_IO_PENDING) {
            set_error_from_system();
            return false;
        }
        ok = GetOverlappedResult(pipe_.get(), &request, &moved, TRUE);
        if (!ok) set_error_from_system();
        return ok != FALSE;
    }

    bool transfer(void *data, std::uint32_t len, std::uint32_t *done, bool writing) {
        std::uint32_t total = 0;
        bool ok = data != nullptr || len == 0;
        if (!ok) set_last_error(kErrorInvalidParameter);
        auto *bytes = static_cast<unsigned char *>(data);
        while (ok && total < len) {
            DWORD moved = 0;
            ok = once(bytes + total, len - total, moved, writing);
            if (ok && moved == 0) {
                set_last_error(kErrorBrokenPipe);  // the other end has gone
                ok = false;
            }
            total += moved;
        }
        if (done != nullptr) *done = total;
        return ok;
    }

    UniqueHandle pipe_;
    bool overlapped_;
    UniqueHandle read_done_;
    UniqueHandle write_done_;
};

// One server instance of the pipe, not yet connected.
UniqueHandle create_instance(const std::wstring &name, bool first) {
    DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    if (first) open_mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;  // the name is ours alone
    HANDLE pipe = CreateNamedPipeW(name.c_str(), open_mode,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                   PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) set_error_from_system();
    return UniqueHandle(pipe);
}

class PipeListener final : public StreamListener {
public:
    PipeListener(std::wstring name, UniqueHandle first, UniqueHandle stop)
        : name_(std::move(name)), pending_(std::move(first)), stop_(std::move(stop)) {}
    ~PipeListener() override { close(); }

    std::unique_ptr<Stream> accept() override {
        UniqueHandle instance;
        {
            std::lock_guard lock(guard_);
            if (closed_) return refuse();
            instance = pending_.valid() ? std::move(pending_) : create_instance(name_, false);
        }
        if (!instance.valid() || !connect(instance)) return nullptr;
        {
            // Keep one instance listening, so the name never vanishes
            // between two clients.
            std::lock_guard lock(guard_);
            if (!closed_ && !pending_.valid()) pending_ = create_instance(name_, false);
        }
        return make_pipe_stream(std::move(instance), true);
    }

    void close() override {
        std::lock_guard lock(guard_);
        closed_ = true;
        pending_.reset();
        SetEvent(stop_.get());
    }

private:
    static std::unique_ptr<Stream> refuse() {
        set_last_error(kErrorInvalidHandle);
        return nullptr;
    }

    bool connect(UniqueHandle &instance) {
        OVERLAPPED request{};
        UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!connected.valid()) {
            set_error_from_system();
            return false;
        }
        request.hEvent = connected.get();
        for (;;) {
            if (ConnectNamedPipe(instance.get(), &request)) return true;
            const DWORD error = GetLastError();
            if (error == ERROR_PIPE_CONNECTED) return true;  // the client came first
            if (error == ERROR_IO_PENDING) break;
            // A client opened this instance and closed it again before it
            // was connected here (e.g. a device opened and closed at once):
            // nothing to serve. The instance listens again, so that the
            // name stays and the next client is accepted.
            if (error != ERROR_NO_DATA) {
                set_last_error(error);
                return false;
            }
            if (!DisconnectNamedPipe(instance.get())) {
                set_error_from_system();
                return false;
            }
            if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0) {
                set_last_error(kErrorInvalidHandle);
                return false;
            }
        }
        const HANDLE events[2] = {connected.get(), stop_.get()};
        const DWORD which = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        DWORD unused = 0;
        if (which == WAIT_OBJECT_0 && GetOverlappedResult(instance.get(), &request, &unused, FALSE)) return true;
        CancelIo(instance.get());
        GetOverlappedResult(instance.get(), &request, &unused, TRUE);  // let the cancelled request end
        set_last_error(kErrorInvalidHandle);
        return false;
    }

    std::wstring name_;
    std::mutex guard_;
    UniqueHandle pending_;
    UniqueHandle stop_;
    bool closed_ = false;
};

std::unique_ptr<StreamListener> listen_pipe(const std::wstring &name) {
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop.valid()) {
        set_error_from_system();
        return nullptr;
    }
    UniqueHandle first = create_instance(name, true);
    if (!first.valid()) return nullptr;
    return std::make_unique<PipeListener>(name, std::move(first), std::move(stop));
}

}  // namespace

std::unique_ptr<Stream> make_pipe_stream(UniqueHandle pipe, bool overlapped) {
    return std::make_unique<PipeStream>(std::move(pipe), overlapped);
}

UniqueHandle open_pipe_client(const std::wstring &name, DWORD share) {
    for (int attempt = 0;; ++attempt) {
        HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) return UniqueHandle(pipe);
        const DWORD error = GetLastError();
        // Every instance busy: the server makes the next one shortly.
        if (error != ERROR_PIPE_BUSY || attempt == kBusyRetries) {
            set_last_error(error);
            return UniqueHandle();
        }
        WaitNamedPipeW(name.c_str(), kBusyRetryMs);
    }
}

}  // namespace win32

bool wait_named_pipe(const char *name, std::uint32_t timeout_ms) {
    if (name == nullptr) {
        set_last_error(kErrorInvalidParameter);
        return false;
    }
    // Waits in short steps: a pipe that does not exist yet (its server still
    // starting) makes WaitNamedPipe fail at once rather than wait.
    const std::string scoped = scoped_object_name(name);
    std::uint32_t waited = 0;
    for (;;) {
        const std::uint32_t step = std::max<std::uint32_t>(1, std::min(win32::kWaitStepMs, timeout_ms - std::min(waited, timeout_ms)));
        if (WaitNamedPipeA(scoped.c_str(), step)) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_SEM_TIMEOUT) {
            set_last_error(error);
            return false;
        }
        if (error == ERROR_FILE_NOT_FOUND) clock().sleep_ms(step);
        waited += step;
        if (waited >= timeout_ms) {
            set_last_error(kErrorSemTimeout);
            return false;
        }
    }
}

std::unique_ptr<Stream> open_named_pipe(const char *name) {
    if (name == nullptr) {
        set_last_error(kErrorInvalidParameter);
        return nullptr;
    }
    win32::UniqueHandle pipe = win32::open_pipe_client(win32::widen(scoped_object_name(name)), 0);
    if (!pipe.valid()) return nullptr;
    return win32::make_pipe_stream(std::move(pipe), false);
}

std::unique_ptr<StreamListener> listen_named_pipe(const char *name) {
    if (name == nullptr) {
        set_last_error(kErrorInvalidParameter);
        return nullptr;
    }
    return win32::listen_pipe(win32::widen(scoped_object_name(name)));
}

std::unique_ptr<StreamListener> listen_stream(const std::string &path) { return win32::listen_pipe(win32::widen(path)); }

}  // namespace platform
