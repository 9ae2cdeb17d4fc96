// The server end of the pipe: a listener whose stop also wakes every
// connection blocked in a read, so a server can stop while clients stay
// connected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace cardhost {

class PipeConnection {
public:
    virtual ~PipeConnection() = default;  // closes
    // Moves exactly `length` bytes; false on end of stream, failure or stop.
    virtual bool read_all(void *data, std::size_t length) = 0;
    virtual bool write_all(const void *data, std::size_t length) = 0;
};

class PipeListener {
public:
    virtual ~PipeListener() = default;
    // Blocks until a client connects; nullptr once stopped or on failure.
    virtual std::unique_ptr<PipeConnection> accept() = 0;
    // Makes accept and the reads and writes of every connection fail.
    virtual void stop() = 0;
    // Where clients connect (socket path or pipe name).
    virtual std::string address() const = 0;
};

// Listens on the pipe "\\.\Pipe\NAME". nullptr with *error set on failure.
std::unique_ptr<PipeListener> listen_pipe(const std::string &pipe_name, std::string *error);

// Whether a process of that id is still running.
bool process_alive(std::uint32_t pid);

// Sets an environment variable of this process.
void set_environment(const char *name, const std::string &value);

// Blocks the termination signals in the calling thread (and the threads it
// starts afterwards); wait_for_termination then returns once one arrives.
void block_termination_signals();
void wait_for_termination();
#ifdef _WIN32
// Makes wait_for_termination return, as a termination signal does (the
// service manager's stop control).
void request_termination();
#endif

}  // namespace cardhost
