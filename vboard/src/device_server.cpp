#include "device_server.h"

#include <algorithm>
#include <cstring>

#include "board_impl.h"
#include "wire_records.h"

namespace vboard {
namespace {

// Reads and drops `count` bytes through `scratch`.
bool drop_input(Connection &connection, std::uint32_t count, std::vector<std::uint8_t> &scratch) {
    while (count > 0) {
        const std::uint32_t step = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(scratch.size()));
        if (!connection.read(scratch.data(), step)) return false;
        count -= step;
    }
    return true;
}

}  // namespace

std::unique_ptr<DeviceServer> DeviceServer::start(BoardCore &board, const std::string &path) {
    std::unique_ptr<Endpoint> endpoint = open_endpoint(path);
    if (!endpoint) return nullptr;
    std::unique_ptr<DeviceServer> server(new DeviceServer(board, std::move(endpoint)));
    server->acceptor_ = std::thread([raw = server.get()] { raw->accept_loop(); });
    return server;
}

DeviceServer::DeviceServer(BoardCore &board, std::unique_ptr<Endpoint> endpoint)
    : board_(board), endpoint_(std::move(endpoint)) {}

DeviceServer::~DeviceServer() {
    endpoint_->close();
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::unique_ptr<Client>> clients;
    {
        std::lock_guard lock(clients_mutex_);
        stopping_ = true;
        for (auto &client : clients_) client->connection->interrupt();
        clients.swap(clients_);
    }
    for (auto &client : clients) {
        if (client->thread.joinable()) client->thread.join();
    }
}

void DeviceServer::accept_loop() {
    for (;;) {
        std::unique_ptr<Connection> connection = endpoint_->accept();
        if (!connection) return;
        std::lock_guard lock(clients_mutex_);
        reap_finished();
        if (stopping_) return;
        auto client = std::make_unique<Client>();
        client->connection = std::move(connection);
        Client &raw = *client;
        clients_.push_back(std::move(client));
        raw.thread = std::thread([this, &raw] { serve_client(raw); });
    }
}

// Called with clients_mutex_ held.
void DeviceServer::reap_finished() {
    auto done = std::stable_partition(clients_.begin(), clients_.end(),
                                      [](const std::unique_ptr<Client> &c) { return !c->finished; });
    for (auto it = done; it != clients_.end(); ++it) {
        if ((*it)->thread.joinable()) (*it)->thread.join();
    }
    clients_.erase(done, clients_.end());
}

void DeviceServer::serve_client(Client &client) {
    constexpr std::size_t kReplyHeaderBytes = sizeof(wire::ReplyHeader);
    // Buffers live as long as the connection: no allocation per request.
    std::vector<std::uint8_t> input(constants::kMaxRequestInput);
    std::vector<std::uint8_t> reply(kReplyHeaderBytes + constants::kMaxRequestInput);
    Connection &connection = *client.connection;

    for (;;) {
        wire::RequestHeader header{};
        if (!connection.read(&header, sizeof header)) break;
        wire::ReplyHeader out{};
        std::uint32_t output_bytes = 0;
        if (header.input_length > constants::kMaxRequestInput) {
            // Longer than any request: refused at once, as a driver refuses
            // a bad request. Its bytes are read and dropped, so the stream
            // stays in step and the connection goes on serving.
            out.status = static_cast<std::int32_t>(constants::kErrorInvalidParameter);
            std::memcpy(reply.data(), &out, sizeof out);
            if (!connection.write(reply.data(), kReplyHeaderBytes) || !drop_input(connection, header.input_length, input)) {
                break;
            }
            continue;
        }
        if (!connection.read(input.data(), header.input_length)) break;

        const std::span<std::uint8_t> output(reply.data() + kReplyHeaderBytes, constants::kMaxRequestInput);
        std::fill_n(output.begin(), std::min<std::size_t>(header.output_capacity, output.size()), 0);
        RequestOutcome outcome;
        {
            std::lock_guard lock(board_.mutex);
            outcome = board_.handle_request(header.code, std::span(input.data(), header.input_length),
                                            header.output_capacity, output);
        }
        if (outcome.delivery == RequestOutcome::Delivery::none) continue;  // a silent board
        out.status = static_cast<std::int32_t>(outcome.status);
        out.bytes_reported = outcome.reported;
        // As many bytes follow as are reported; the client keeps what fits its
        // buffer (a parameter request reports 16 bytes into no buffer at all).
        output_bytes = std::min(outcome.reported, constants::kMaxRequestInput);
        if (outcome.delivery == RequestOutcome::Delivery::over_report) out.bytes_reported += constants::kOverReportBytes;
        std::memcpy(reply.data(), &out, sizeof out);
        if (!connection.write(reply.data(), kReplyHeaderBytes + output_bytes)) break;
    }
    // The peer sees the end at once; the socket is closed when reaped.
    connection.interrupt();
    std::lock_guard lock(clients_mutex_);
    client.finished = true;
}

}  // namespace vboard
