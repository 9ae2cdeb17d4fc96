// Windows: the named pipe of the platform layer. A stop ends the accept
// loop; a connection blocked in a read ends when its client disconnects or
// the process exits.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <condition_variable>

#include "platform/platform.h"
#include "transport.h"

namespace cardhost {
namespace {

class StreamConnection final : public PipeConnection {
public:
    StreamConnection(std::unique_ptr<platform::Stream> stream, std::shared_ptr<std::atomic<bool>> stopped)
        : stream_(std::move(stream)), stopped_(std::move(stopped)) {}

    bool read_all(void *data, std::size_t length) override {
        std::uint32_t done = 0;
        return !*stopped_ && stream_->read(data, static_cast<std::uint32_t>(length), &done) && !*stopped_;
    }
    bool write_all(const void *data, std::size_t length) override {
        std::uint32_t done = 0;
        return !*stopped_ && stream_->write(data, static_cast<std::uint32_t>(length), &done);
    }

private:
    std::unique_ptr<platform::Stream> stream_;
    std::shared_ptr<std::atomic<bool>> stopped_;
};

class StreamListenerAdapter final : public PipeListener {
public:
    StreamListenerAdapter(std::unique_ptr<platform::StreamListener> listener, std::string name)
        : listener_(std::move(listener)), name_(std::move(name)) {}

    std::unique_ptr<PipeConnection> accept() override {
        auto stream = listener_->accept();
        if (!stream || *stopped_) return nullptr;
        return std::make_unique<StreamConnection>(std::move(stream), stopped_);
    }
    void stop() override {
        *stopped_ = true;
        listener_->close();
    }
    std::string address() const override { return name_; }

private:
    std::unique_ptr<platform::StreamListener> listener_;
    std::string name_;
    std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
};

std::mutex g_signal_mutex;
std::condition_variable g_signal_cv;
std::atomic<bool> g_terminate{false};

void on_signal(int) { g_terminate = true; }

}  // namespace

std::unique_ptr<PipeListener> listen_pipe(const std::string &pipe_name, std::string *error) {
    auto listener = platform::listen_named_pipe(pipe_name.c_str());
    if (!listener) {
        if (error) *error = "cannot listen on " + pipe_name;
        return nullptr;
    }
    return std::make_unique<StreamListenerAdapter>(std::move(listener), pipe_name);
}

bool process_alive(std::uint32_t pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

void set_environment(const char *name, const std::string &value) { _putenv_s(name, value.c_str()); }

void block_termination_signals() {
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
}

void request_termination() {
    {
        std::lock_guard lock(g_signal_mutex);
        g_terminate = true;
    }
    g_signal_cv.notify_all();
}

void wait_for_termination() {
    std::unique_lock lock(g_signal_mutex);
    while (!g_terminate) g_signal_cv.wait_for(lock, std::chrono::milliseconds(100));
}

}  // namespace cardhost
