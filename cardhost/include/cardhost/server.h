// The card server: serves the pipe, one thread per client connection, and
// answers every request from one shared state. For tests it records the
// requests and can inject faults into its responses.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cardhost/wire.h"

namespace cardhost {

struct ServerOptions {
    // The configuration file; when empty, config_text is parsed instead.
    std::string config_path;
    std::string config_text;
    // Directory of the file commands; created when missing.
    std::string files_dir;
    // Whether a process is still running (default: asks the OS).
    std::function<bool(std::uint32_t pid)> process_alive;
};

// Faults a test can put into the server's answers.
enum class Fault {
    wrong_response_id,    // responseId differs from requestId
    error_status,         // status := value (kStatusBadParameter when value is 0)
    short_data,           // dataSize := value (or one less than due when value is out of range)
    empty_data,           // dataSize 0, no data
    negative_data_size,   // dataSize := value when negative, else -1
    close_without_reply,  // the connection is closed instead of answered
    never_reply,          // no answer until the server stops
};

class Server {
public:
    explicit Server(ServerOptions options);
    ~Server();  // stops
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Loads the configuration (start() does it when not done yet).
    bool load(std::string *error = nullptr);
    // Listens on the pipe and serves on threads of its own.
    bool start(std::string *error = nullptr);
    // Stops serving: closes every connection and joins every thread.
    void stop();
    // Socket path or pipe name the server listens on ("" before start).
    std::string address() const;

    // The next `times` requests with `command` (0 = any; times < 0: all)
    // are answered with `fault`.
    void inject_fault(std::int32_t command, Fault fault, int times = -1, std::int32_t value = 0);
    void clear_faults();
    // Requests received over the pipe, in order.
    std::vector<ServerRequest> requests() const;
    std::size_t open_connections() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace cardhost
