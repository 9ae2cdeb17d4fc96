#include "fake_server.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace linkhub_test {
namespace {

constexpr std::size_t kRecordSize = 512;
constexpr std::size_t kParameterArea = 128;
constexpr std::size_t kReplyHeader = 16;
constexpr char kPipeName[] = "\\\\.\\Pipe\\CorvaneTq5Server";
constexpr auto kWaitLimit = std::chrono::seconds(5);
// How long the server's end waits for its connections' clients to close.
constexpr auto kCloseWait = std::chrono::seconds(2);

std::int32_t int_at(const std::uint8_t *record, std::size_t offset) {
    std::int32_t value = 0;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

void put_int(std::uint8_t *record, std::size_t offset, std::int32_t value) {
    std::memcpy(record + offset, &value, sizeof value);
}

}  // namespace

std::vector<std::uint8_t> word_data(std::int32_t value) {
    std::vector<std::uint8_t> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    return data;
}

FakeServer::FakeServer() : m_listener(platform::listen_named_pipe(kPipeName)) {
    if (m_listener) m_acceptThread = std::thread([this] { accept_loop(); });
}

FakeServer::~FakeServer() {
    m_shared->stopping = true;
    if (m_listener) m_listener->close();
    if (m_acceptThread.joinable()) m_acceptThread.join();
    std::unique_lock lock(m_shared->mutex);
    m_shared->changed.wait_for(lock, kCloseWait, [&] { return m_shared->activeConnections == 0; });
}

void FakeServer::script(std::int32_t command, ScriptedReply reply) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->scripts[command] = std::move(reply);
}

std::vector<RecordedRequest> FakeServer::requests() const {
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->requests;
}

bool FakeServer::wait_for_requests(std::size_t count) const {
    std::unique_lock lock(m_shared->mutex);
    return m_shared->changed.wait_for(lock, kWaitLimit, [&] { return m_shared->requests.size() >= count; });
}

bool FakeServer::wait_for_closed_connections(std::size_t count) const {
    std::unique_lock lock(m_shared->mutex);
    return m_shared->changed.wait_for(lock, kWaitLimit, [&] { return m_shared->closedConnections >= count; });
}

void FakeServer::accept_loop() {
    while (std::unique_ptr<platform::Stream> stream = m_listener->accept()) {
        {
            const std::lock_guard lock(m_shared->mutex);
            ++m_shared->activeConnections;
        }
        std::thread(serve, m_shared, std::move(stream)).detach();
    }
}

void FakeServer::serve(const std::shared_ptr<Shared> &shared, std::unique_ptr<platform::Stream> stream) {
    std::uint8_t request[kRecordSize];
    std::size_t served = 0;
    for (;;) {
        std::uint32_t done = 0;
        if (!stream->read(request, sizeof request, &done)) {
            const std::lock_guard lock(shared->mutex);
            // A wait for the pipe (POSIX: a probe that connects) carries no request.
            if (served > 0 && !shared->stopping) ++shared->closedConnections;
            break;
        }
        ++served;
        RecordedRequest recorded;
        recorded.requestId = int_at(request, 0);
        recorded.command = int_at(request, 4);
        const auto *parameters = reinterpret_cast<const char *>(request + 8);
        recorded.parameters.assign(parameters, strnlen(parameters, kParameterArea));
        recorded.dataSize = int_at(request, 136);
        recorded.raw.assign(request, request + kRecordSize);
        ScriptedReply reply;
        {
            const std::lock_guard lock(shared->mutex);
            if (const auto it = shared->scripts.find(recorded.command); it != shared->scripts.end()) reply = it->second;
            shared->requests.push_back(std::move(recorded));
        }
        shared->changed.notify_all();
        if (reply.hangUp) break;
        if (reply.echoParameters) reply.data.assign(request + 8, request + 8 + kParameterArea);
        std::uint8_t response[kRecordSize] = {};
        const std::int32_t id = int_at(request, 0);
        put_int(response, 0, reply.wrongId ? id + 1 : id);
        put_int(response, 8, reply.status);
        const std::size_t copied = std::min(reply.data.size(), kRecordSize - kReplyHeader);
        put_int(response, 12, reply.overrideDataSize ? reply.dataSize : static_cast<std::int32_t>(copied));
        if (copied > 0) std::memcpy(response + kReplyHeader, reply.data.data(), copied);
        if (!stream->write(response, sizeof response, &done)) break;
    }
    stream.reset();  // the client sees the end
    {
        const std::lock_guard lock(shared->mutex);
        --shared->activeConnections;
    }
    shared->changed.notify_all();
}

}  // namespace linkhub_test
