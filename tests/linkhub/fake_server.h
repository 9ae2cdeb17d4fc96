// A scripted stand-in for the server on the pipe of the current run
// directory: it records every request and answers each command with the
// reply a test set for it (status 0 and no data otherwise).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    // Listens on <run dir>/pipe/<name>; the run directory must be set.
    explicit FakeServer(const std::string &runDir);
    ~FakeServer();
    FakeServer(const FakeServer &) = delete;
    FakeServer &operator=(const FakeServer &) = delete;

    bool listening() const { return m_listenFd >= 0; }
    void script(std::int32_t command, ScriptedReply reply);
    std::vector<RecordedRequest> requests() const;
    // Waits (real time, bounded) until `count` requests have arrived.
    bool wait_for_requests(std::size_t count) const;
    // Waits until `count` connections that carried requests were closed by the client.
    bool wait_for_closed_connections(std::size_t count) const;

private:
    void accept_loop();
    void serve(int fd);

    std::string m_path;
    int m_listenFd = -1;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::map<std::int32_t, ScriptedReply> m_scripts;
    std::vector<RecordedRequest> m_requests;
    std::size_t m_closedConnections = 0;
    std::vector<int> m_clients;
    std::vector<std::thread> m_threads;
    std::thread m_acceptThread;
};

}  // namespace linkhub_test
