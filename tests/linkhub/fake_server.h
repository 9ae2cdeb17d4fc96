// A scripted stand-in for the server on its pipe (in the current run
// directory): it records every request and answers each command with the
// reply a test set for it (status 0 and no data otherwise).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace linkhub_test {

struct RecordedRequest {
    std::int32_t requestId = 0;
    std::int32_t command = 0;
    std::string parameters;     // up to the first NUL of the 128-byte area
    std::int32_t dataSize = 0;
    std::vector<std::uint8_t> raw;  // all 512 bytes as received
};

struct ScriptedReply {
    std::int32_t status = 0;
    std::vector<std::uint8_t> data;
    bool overrideDataSize = false;  // send dataSize instead of data.size()
    std::int32_t dataSize = 0;
    bool wrongId = false;           // answer with a response id that differs
    bool echoParameters = false;    // the data is the request's parameter text
    bool hangUp = false;            // close the connection instead of answering
};

// Bytes of an int as the reply data of a one-word answer.
std::vector<std::uint8_t> word_data(std::int32_t value);

class FakeServer {
public:
    // Listens on the server's pipe of the current run directory.
    FakeServer();
    ~FakeServer();
    FakeServer(const FakeServer &) = delete;
    FakeServer &operator=(const FakeServer &) = delete;

    bool listening() const { return m_listener != nullptr; }
    void script(std::int32_t command, ScriptedReply reply);
    std::vector<RecordedRequest> requests() const;
    // Waits (real time, bounded) until `count` requests have arrived.
    bool wait_for_requests(std::size_t count) const;
    // Waits until `count` connections that carried requests were closed by the client.
    bool wait_for_closed_connections(std::size_t count) const;

private:
    // What the connection threads share with the server. A connection whose
    // client never closes cannot be woken on every OS: its thread is left to
    // end with its client, and keeps this alive.
    struct Shared {
        std::atomic<bool> stopping{false};
        std::mutex mutex;
        std::condition_variable changed;
        std::map<std::int32_t, ScriptedReply> scripts;
        std::vector<RecordedRequest> requests;
        std::size_t closedConnections = 0;
        std::size_t activeConnections = 0;
    };

    void accept_loop();
    static void serve(const std::shared_ptr<Shared> &shared, std::unique_ptr<platform::Stream> stream);

    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::unique_ptr<platform::StreamListener> m_listener;
    std::thread m_acceptThread;
};

}  // namespace linkhub_test
