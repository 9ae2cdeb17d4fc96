// Serves the device socket: one thread accepts clients, one thread per
// client runs its request and reply exchanges against the board.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "endpoint.h"

namespace vboard {
struct BoardCore;
}

namespace vboard {

class DeviceServer {
public:

    // nullptr when the socket cannot be made.
    static std::unique_ptr<DeviceServer> start(BoardCore &board, const std::string &path);
    ~DeviceServer();  // stops: closes the socket, ends every connection
    DeviceServer(const DeviceServer &) = delete;
    DeviceServer &operator=(const DeviceServer &) = delete;

private:
    struct Client {
        std::unique_ptr<Connection> connection;
        std::thread thread;
        bool finished = false;
    };

    DeviceServer(BoardCore &board, std::unique_ptr<Endpoint> endpoint);
    void accept_loop();
    void serve_client(Client &client);
    void reap_finished();

    BoardCore &board_;
    std::unique_ptr<Endpoint> endpoint_;
    std::mutex clients_mutex_;
    std::vector<std::unique_ptr<Client>> clients_;
    bool stopping_ = false;
    std::thread acceptor_;
};

}  // namespace vboard
