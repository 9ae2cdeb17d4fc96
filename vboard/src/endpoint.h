// The listening end of the device socket and its connections, one
// implementation per OS.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vboard {

class Connection {
public:
    virtual ~Connection() = default;
    // Exactly `length` bytes; false at end of stream or on failure.
    virtual bool read(void *data, std::size_t length) = 0;
    virtual bool write(const void *data, std::size_t length) = 0;
    // Makes a blocked and every later read or write fail (another thread).
    virtual void interrupt() = 0;
};

class Endpoint {
public:
    virtual ~Endpoint() = default;
    // Blocks for the next client; nullptr once closed.
    virtual std::unique_ptr<Connection> accept() = 0;
    // Wakes a pending accept; the socket is removed.
    virtual void close() = 0;
};

// Listens at `path` (parent directories are made); nullptr on failure.
std::unique_ptr<Endpoint> open_endpoint(const std::string &path);

}  // namespace vboard
