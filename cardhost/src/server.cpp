#include "cardhost/server.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include "cardhost/constants.h"
#include "request_handler.h"
#include "transport.h"

namespace cardhost {
namespace {

struct FaultRule {
    std::int32_t command;
    Fault fault;
    int times;
    std::int32_t value;
};

// Requests kept for tests; older ones are dropped beyond this.
constexpr std::size_t kMaxRecordedRequests = 4096;

// What a connection does with one answer.
enum class Delivery { send, close, hold };

Delivery apply_fault(const FaultRule &rule, ServerResponse &response) {
    switch (rule.fault) {
    case Fault::wrong_response_id:
        response.responseId = response.responseId + 1;
        break;
    case Fault::error_status:
        response.status = rule.value != 0 ? rule.value : kStatusBadParameter;
        break;
    case Fault::short_data: {
        const std::int32_t due = response.dataSize;
        const std::int32_t size = rule.value >= 0 && rule.value < due ? rule.value : std::max(due - 1, 0);
        std::fill(response.data + size, response.data + kResponseDataSize, std::uint8_t{0});
        response.dataSize = size;
        break;
    }
    case Fault::empty_data:
        std::fill(std::begin(response.data), std::end(response.data), std::uint8_t{0});
        response.dataSize = 0;
        break;
    case Fault::negative_data_size:
        response.dataSize = rule.value < 0 ? rule.value : -1;
        break;
    case Fault::close_without_reply:
        return Delivery::close;
    case Fault::never_reply:
        return Delivery::hold;
    }
    return Delivery::send;
}

}  // namespace

struct Server::Impl {
    explicit Impl(ServerOptions opts) : options(std::move(opts)), handler(options) {}

    struct Worker {
        std::thread thread;
        bool done = false;
    };

    ServerOptions options;
    RequestHandler handler;
    bool loaded = false;

    mutable std::mutex mutex;
    std::condition_variable stopped_cv;
    bool stopping = false;
    std::vector<FaultRule> faults;
    std::vector<ServerRequest> recorded;
    std::size_t open = 0;
    std::list<Worker> workers;
    std::uint64_t next_connection = 1;

    std::unique_ptr<PipeListener> listener;
    std::thread acceptor;

    std::optional<FaultRule> take_fault(std::int32_t command) {
        std::lock_guard lock(mutex);
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (it->command != 0 && it->command != command) continue;
            FaultRule rule = *it;
            if (it->times > 0 && --it->times == 0) faults.erase(it);
            return rule;
        }
        return std::nullopt;
    }

    void record(const ServerRequest &request) {
        std::lock_guard lock(mutex);
        if (recorded.size() == kMaxRecordedRequests) recorded.erase(recorded.begin());
        recorded.push_back(request);
    }

    void serve(PipeConnection &connection, std::uint64_t id) {
        ServerRequest request{};
        ServerResponse response{};
        while (connection.read_all(&request, sizeof(request))) {
            record(request);
            handler.handle(request, response, id);
            const auto rule = take_fault(request.command);
            const Delivery delivery = rule ? apply_fault(*rule, response) : Delivery::send;
            if (delivery == Delivery::close) return;
            if (delivery == Delivery::hold) {
                std::unique_lock lock(mutex);
                stopped_cv.wait(lock, [&] { return stopping; });
                return;
            }
            if (!connection.write_all(&response, sizeof(response))) return;
        }
    }

    void run_connection(std::unique_ptr<PipeConnection> connection, std::uint64_t id, Worker *self) {
        handler.connection_opened(id);
        serve(*connection, id);
        connection.reset();
        handler.connection_closed(id);
        std::lock_guard lock(mutex);
        --open;
        self->done = true;
    }

    // Joins the connection threads that have finished.
    void reap() {
        std::list<Worker> finished;
        {
            std::lock_guard lock(mutex);
            for (auto it = workers.begin(); it != workers.end();) {
                auto next = std::next(it);
                if (it->done) finished.splice(finished.end(), workers, it);
                it = next;
            }
        }
        for (Worker &worker : finished) worker.thread.join();
    }

    void accept_loop() {
        while (auto connection = listener->accept()) {
            reap();
            std::lock_guard lock(mutex);
            if (stopping) break;
            const std::uint64_t id = next_connection++;
            ++open;
            Worker &worker = workers.emplace_back();
            worker.thread = std::thread(
                [this, id, &worker, c = std::move(connection)]() mutable { run_connection(std::move(c), id, &worker); });
        }
    }
};

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server() { stop(); }

bool Server::load(std::string *error) {
    impl_->loaded = impl_->handler.load(error);
    return impl_->loaded;
}

bool Server::start(std::string *error) {
    if (impl_->listener) return true;
    if (!impl_->loaded && !load(error)) return false;
    impl_->listener = listen_pipe(kPipeName, error);
    if (!impl_->listener) return false;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = false;
    }
    impl_->handler.log(kLogLevelInfo, kLogCodeServer, kLogServerStarted);
    impl_->acceptor = std::thread([this] { impl_->accept_loop(); });
    return true;
}

void Server::stop() {
    if (!impl_->listener) return;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->stopped_cv.notify_all();
    impl_->listener->stop();
    if (impl_->acceptor.joinable()) impl_->acceptor.join();
    std::list<Impl::Worker> workers;
    {
        std::lock_guard lock(impl_->mutex);
        workers.swap(impl_->workers);
    }
    for (Impl::Worker &worker : workers) worker.thread.join();
    impl_->listener.reset();
}

std::string Server::address() const { return impl_->listener ? impl_->listener->address() : std::string(); }

void Server::inject_fault(std::int32_t command, Fault fault, int times, std::int32_t value) {
    if (times == 0) return;
    std::lock_guard lock(impl_->mutex);
    impl_->faults.push_back({command, fault, times, value});
}

void Server::clear_faults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
}

std::vector<ServerRequest> Server::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->recorded;
}

std::size_t Server::open_connections() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->open;
}

}  // namespace cardhost
