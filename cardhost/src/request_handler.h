// Answers one request record: permissions, card state and records, logs,
// shared variables and the file commands. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "card_log.h"
#include "cardhost/machine_config.h"
#include "cardhost/server.h"
#include "cardhost/wire.h"
#include "permissions.h"

namespace cardhost {

class RequestHandler {
public:
    explicit RequestHandler(const ServerOptions &options);

    // Loads the configuration and builds the shared variables from it.
    bool load(std::string *error);
    // Fills `response` (zeroed first) for `request` from `connection`.
    void handle(const ServerRequest &request, ServerResponse &response, std::uint64_t connection);
    void connection_opened(std::uint64_t connection);
    void connection_closed(std::uint64_t connection);
    void log(std::uint8_t level, std::uint32_t code, const std::string &text);

private:
    std::optional<MachineConfig> read_config(std::string *error) const;
    std::int32_t handle_locked(const ServerRequest &request, ServerResponse &response, std::uint64_t connection);
    std::int32_t permission(const ServerRequest &request, ServerResponse &response, std::uint64_t connection);
    std::int32_t variable(const ServerRequest &request, ServerResponse &response);
    std::int32_t indexed(const ServerRequest &request, ServerResponse &response);
    std::int32_t reload(bool rebuild_variables);

    ServerOptions options_;
    std::mutex mutex_;
    MachineConfig config_;
    bool ecat_running_ = true;
    std::map<std::int32_t, std::vector<std::uint8_t>> variables_;
    PermissionTable permissions_;
    CardLog log_;
    std::uint32_t connections_ = 0;
};

}  // namespace cardhost
