#include "fake_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace linkhub_test {
namespace {

constexpr std::size_t kRecordSize = 512;
constexpr char kPipeFile[] = "CorvaneTq5Server";
constexpr int kPollMs = 20;

bool transfer(int fd, void *buffer, std::size_t length, bool writing) {
    auto *bytes = static_cast<std::uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = writing ? ::send(fd, bytes + done, length - done, MSG_NOSIGNAL)
                                  : ::recv(fd, bytes + done, length - done, 0);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

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

FakeServer::FakeServer(const std::string &runDir) {
    const std::filesystem::path dir = std::filesystem::path(runDir) / "pipe";
    std::filesystem::create_directories(dir);
    m_path = (dir / kPipeFile).string();
    ::unlink(m_path.c_str());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return;
    }
    m_listenFd = fd;
    m_acceptThread = std::thread([this] { accept_loop(); });
}

FakeServer::~FakeServer() {
    m_stopping = true;
    if (m_acceptThread.joinable()) m_acceptThread.join();
    {
        const std::lock_guard lock(m_mutex);
        for (const int fd : m_clients) ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread &t : m_threads) t.join();
    for (const int fd : m_clients) ::close(fd);
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(m_path.c_str());
    }
}

void FakeServer::script(std::int32_t command, ScriptedReply reply) {
    const std::lock_guard lock(m_mutex);
    m_scripts[command] = std::move(reply);
}

std::vector<RecordedRequest> FakeServer::requests() const {
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

bool FakeServer::wait_for_requests(std::size_t count) const {
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::seconds(5), [&] { return m_requests.size() >= count; });
}

bool FakeServer::wait_for_closed_connections(std::size_t count) const {
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::seconds(5), [&] { return m_closedConnections >= count; });
}

void FakeServer::accept_loop() {
    while (!m_stopping) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        const int fd = ::accept(m_listenFd, nullptr, nullptr);
        if (fd < 0) continue;
        const std::lock_guard lock(m_mutex);
        m_clients.push_back(fd);
        m_threads.emplace_back([this, fd] { serve(fd); });
    }
}

void FakeServer::serve(int fd) {
    std::uint8_t request[kRecordSize];
    std::size_t served = 0;
    while (!m_stopping) {
        if (!transfer(fd, request, sizeof request, false)) {
            if (served > 0 && !m_stopping) {
                const std::lock_guard lock(m_mutex);
                ++m_closedConnections;
            }
            m_arrived.notify_all();
            return;
        }
        ++served;
        RecordedRequest recorded;
        recorded.requestId = int_at(request, 0);
        recorded.command = int_at(request, 4);
        const auto *parameters = reinterpret_cast<const char *>(request + 8);
        recorded.parameters.assign(parameters, strnlen(parameters, 128));
        recorded.dataSize = int_at(request, 136);
        recorded.raw.assign(request, request + kRecordSize);
        ScriptedReply reply;
        {
            const std::lock_guard lock(m_mutex);
            if (const auto it = m_scripts.find(recorded.command); it != m_scripts.end()) reply = it->second;
            m_requests.push_back(std::move(recorded));
        }
        m_arrived.notify_all();
        if (reply.hangUp) {
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
        if (reply.echoParameters) reply.data.assign(request + 8, request + 8 + 128);
        std::uint8_t response[kRecordSize] = {};
        const std::int32_t id = int_at(request, 0);
        put_int(response, 0, reply.wrongId ? id + 1 : id);
        put_int(response, 8, reply.status);
        const std::size_t copied = std::min(reply.data.size(), kRecordSize - 16);
        put_int(response, 12, reply.overrideDataSize ? reply.dataSize : static_cast<std::int32_t>(copied));
        if (copied > 0) std::memcpy(response + 16, reply.data.data(), copied);
        if (!transfer(fd, response, sizeof response, true)) return;
    }
}

}  // namespace linkhub_test
