// The device socket through the platform layer's stream listener (Windows:
// a named pipe). A blocked read there cannot be woken, so interrupt only
// marks the connection: stop() waits until its clients disconnect.
#include <atomic>

#include "endpoint.h"
#include "platform/platform.h"

namespace vboard {
namespace {

class StreamConnection final : public Connection {
public:
    explicit StreamConnection(std::unique_ptr<platform::Stream> stream) : stream_(std::move(stream)) {}
    bool read(void *data, std::size_t length) override {
        return !interrupted_ && stream_->read(data, static_cast<std::uint32_t>(length), nullptr);
    }
    bool write(const void *data, std::size_t length) override {
        return !interrupted_ && stream_->write(data, static_cast<std::uint32_t>(length), nullptr);
    }
    void interrupt() override { interrupted_ = true; }

private:
    std::unique_ptr<platform::Stream> stream_;
    std::atomic<bool> interrupted_{false};
};

class StreamEndpoint final : public Endpoint {
public:
    explicit StreamEndpoint(std::unique_ptr<platform::StreamListener> listener) : listener_(std::move(listener)) {}
    std::unique_ptr<Connection> accept() override {
        std::unique_ptr<platform::Stream> stream = listener_->accept();
        if (!stream) return nullptr;
        return std::make_unique<StreamConnection>(std::move(stream));
    }
    void close() override { listener_->close(); }

private:
    std::unique_ptr<platform::StreamListener> listener_;
};

}  // namespace

std::unique_ptr<Endpoint> open_endpoint(const std::string &path) {
    std::unique_ptr<platform::StreamListener> listener = platform::listen_stream(path);
    if (!listener) return nullptr;
    return std::make_unique<StreamEndpoint>(std::move(listener));
}

}  // namespace vboard
