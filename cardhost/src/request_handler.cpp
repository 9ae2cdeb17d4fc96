#include "request_handler.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cardhost/constants.h"
#include "cardhost/params.h"
#include "cardhost/shared_variables.h"
#include "file_commands.h"
#include "platform/platform.h"
#include "transport.h"

namespace cardhost {
namespace {

void reply_bytes(ServerResponse &response, const void *data, std::size_t size) {
    const std::size_t n = std::min(size, kResponseDataSize);
    if (n != 0) std::memcpy(response.data, data, n);
    response.dataSize = static_cast<std::int32_t>(n);
}

template <typename Record>
void reply_record(ServerResponse &response, const Record &record) {
    static_assert(sizeof(Record) <= kResponseDataSize);
    reply_bytes(response, &record, sizeof(Record));
}

void reply_int(ServerResponse &response, std::int32_t value) { reply_record(response, value); }

void reply_text(ServerResponse &response, const std::string &text) {
    // Leaves at least one zero byte behind the text.
    const std::size_t n = std::min(text.size(), kResponseDataSize - 1);
    if (n != 0) std::memcpy(response.data, text.data(), n);
    response.dataSize = static_cast<std::int32_t>(n);
}

std::optional<Parameters> parameters_of(const ServerRequest &request) {
    return Parameters::parse(request.parameters, sizeof(request.parameters));
}

// A process id from the parameters: present and positive.
std::optional<std::uint32_t> process_of(const Parameters &params) {
    const auto pid = params.integer("processId");
    if (!pid || *pid <= 0) return std::nullopt;
    return static_cast<std::uint32_t>(*pid);
}

}  // namespace

RequestHandler::RequestHandler(const ServerOptions &options)
    : options_(options),
      permissions_(options.process_alive ? options.process_alive : PermissionTable::ProcessAlive(process_alive)) {}

std::optional<MachineConfig> RequestHandler::read_config(std::string *error) const {
    if (!options_.config_path.empty()) return load_machine_config(options_.config_path, error);
    return parse_machine_config(options_.config_text, error);
}

bool RequestHandler::load(std::string *error) {
    std::string why;
    auto config = read_config(&why);
    std::lock_guard lock(mutex_);
    if (!config) {
        log_.add(kLogLevelError, 0, kLogCodeConfig, std::string(kLogConfigFailed) + ": " + why);
        if (error) *error = why;
        return false;
    }
    config_ = std::move(*config);
    ecat_running_ = config_.ecatRunning;
    variables_.clear();
    for (SharedVariable &var : build_shared_variables(config_)) variables_[var.id] = std::move(var.bytes);
    for (const LogConfig &entry : config_.logs) log_.add(entry.level, 0, entry.code, entry.text);
    log_.add(kLogLevelInfo, 0, kLogCodeConfig, kLogConfigLoaded);
    return true;
}

std::int32_t RequestHandler::reload(bool rebuild_variables) {
    std::string why;
    auto config = read_config(&why);
    if (!config) {
        log_.add(kLogLevelError, 0, kLogCodeConfig, std::string(kLogConfigFailed) + ": " + why);
        return kStatusConfigFailed;
    }
    config_ = std::move(*config);
    if (rebuild_variables) {
        ecat_running_ = config_.ecatRunning;
        for (SharedVariable &var : build_shared_variables(config_)) variables_[var.id] = std::move(var.bytes);
        log_.add(kLogLevelInfo, 0, kLogCodeConfig, kLogConfigLoaded);
    } else {
        log_.add(kLogLevelInfo, 0, kLogCodeConfig, kLogCardUpdated);
    }
    return kStatusOk;
}

void RequestHandler::connection_opened(std::uint64_t) {
    std::lock_guard lock(mutex_);
    ++connections_;
}

void RequestHandler::connection_closed(std::uint64_t connection) {
    std::lock_guard lock(mutex_);
    if (connections_ > 0) --connections_;
    permissions_.drop_connection(connection);
}

void RequestHandler::log(std::uint8_t level, std::uint32_t code, const std::string &text) {
    std::lock_guard lock(mutex_);
    log_.add(level, 0, code, text);
}

void RequestHandler::handle(const ServerRequest &request, ServerResponse &response, std::uint64_t connection) {
    std::memset(&response, 0, sizeof(response));
    response.responseId = request.requestId;
    if (request.dataSize < 0 || static_cast<std::size_t>(request.dataSize) > kRequestDataSize) {
        response.status = kStatusBadDataSize;
        return;
    }
    std::lock_guard lock(mutex_);
    response.status = handle_locked(request, response, connection);
    if (response.status != kStatusOk) {
        std::memset(response.data, 0, sizeof(response.data));
        response.dataSize = 0;
    }
}

std::int32_t RequestHandler::handle_locked(const ServerRequest &request, ServerResponse &response,
                                           std::uint64_t connection) {
    switch (request.command) {
    case kCmdRegisterPermission:
    case kCmdUnregisterPermission:
    case kCmdGetPermission:
        return permission(request, response, connection);
    case kCmdServerInfo: {
        ServerInfo info{};
        std::memcpy(info.name, kServerName, sizeof(kServerName));
        std::copy(std::begin(kServerVersion), std::end(kServerVersion), std::begin(info.version));
        info.processId = platform::process_id();
        info.connections = connections_;
        info.variables = static_cast<std::uint32_t>(variables_.size());
        info.writeHolder = permissions_.write_holder();
        info.logCount = static_cast<std::uint32_t>(log_.count());
        reply_record(response, info);
        return kStatusOk;
    }
    case kCmdCardStatus:
        reply_int(response, kCardReady);
        return kStatusOk;
    case kCmdEcatStatus:
        reply_int(response, ecat_running_ ? kEcatRunning : kEcatStopped);
        return kStatusOk;
    case kCmdEcatStartStop: {
        const auto params = parameters_of(request);
        const auto status = params ? params->integer("status") : std::nullopt;
        if (!status || (*status != 0 && *status != 1)) return kStatusBadParameter;
        ecat_running_ = *status == 1;
        log_.add(kLogLevelInfo, 0, kLogCodeEcat, ecat_running_ ? kLogEcatStarted : kLogEcatStopped);
        reply_int(response, 0);
        return kStatusOk;
    }
    case kCmdUpdateCard:
    case kCmdLoadCardConfig: {
        const std::int32_t status = reload(request.command == kCmdLoadCardConfig);
        if (status == kStatusOk) reply_int(response, 0);
        return status;
    }
    case kCmdCardInfo:
        reply_record(response, build_card_info(config_, ecat_running_));
        return kStatusOk;
    case kCmdModuleCount:
        reply_int(response, static_cast<std::int32_t>(config_.modules.size()));
        return kStatusOk;
    case kCmdLogCount:
        reply_int(response, static_cast<std::int32_t>(log_.count()));
        return kStatusOk;
    case kCmdLastLogInfo:
        reply_record(response, log_.last());
        return kStatusOk;
    case kCmdEcatDeviceCount:
        reply_int(response, static_cast<std::int32_t>(build_device_list(config_, ecat_running_).size()));
        return kStatusOk;
    case kCmdModuleInfo:
    case kCmdLogInfo:
    case kCmdEcatDeviceInfo:
        return indexed(request, response);
    case kCmdFileSend:
    case kCmdFileRecv:
    case kCmdFileDelete:
    case kCmdFileMkdir: {
        std::string_view text(reinterpret_cast<const char *>(request.data), static_cast<std::size_t>(request.dataSize));
        text = text.substr(0, text.find('\0'));
        reply_text(response, run_file_command(request.command, options_.files_dir, text));
        return kStatusOk;
    }
    case kCmdSetVariable:
    case kCmdGetVariable:
    case kCmdVariableExists:
    case kCmdDeleteVariable:
        return variable(request, response);
    default:
        return kStatusUnknownCommand;
    }
}

std::int32_t RequestHandler::permission(const ServerRequest &request, ServerResponse &response,
                                        std::uint64_t connection) {
    const auto params = parameters_of(request);
    const auto pid = params ? process_of(*params) : std::nullopt;
    if (!pid) return kStatusBadParameter;
    switch (request.command) {
    case kCmdRegisterPermission: {
        const auto level = params->integer("level");
        if (!level || *level < kLevelRead || *level > kLevelMax) return kStatusBadParameter;
        reply_int(response, permissions_.request(*pid, *level, connection));
        return kStatusOk;
    }
    case kCmdUnregisterPermission:
        permissions_.unregister(*pid);
        reply_int(response, 0);
        return kStatusOk;
    default:
        reply_int(response, permissions_.level_of(*pid));
        return kStatusOk;
    }
}

std::int32_t RequestHandler::indexed(const ServerRequest &request, ServerResponse &response) {
    const auto params = parameters_of(request);
    const auto index = params ? params->integer("index") : std::nullopt;
    if (!index || *index < 0) return kStatusBadParameter;
    const auto i = static_cast<std::size_t>(*index);
    switch (request.command) {
    case kCmdModuleInfo:
        // Readers ask for a fixed number of modules: an absent one is empty.
        reply_record(response, build_module_info(config_, i));
        return kStatusOk;
    case kCmdLogInfo:
        reply_record(response, log_.at(i));
        return kStatusOk;
    default: {
        const auto devices = build_device_list(config_, ecat_running_);
        if (i >= devices.size()) return kStatusNoSuchIndex;
        reply_record(response, devices[i]);
        return kStatusOk;
    }
    }
}

std::int32_t RequestHandler::variable(const ServerRequest &request, ServerResponse &response) {
    const auto params = parameters_of(request);
    if (!params || !process_of(*params)) return kStatusBadParameter;
    const auto id = params->integer("id");
    if (!id) return kStatusBadParameter;
    auto it = variables_.find(*id);
    switch (request.command) {
    case kCmdSetVariable: {
        const auto shared = params->integer("shared");
        const auto timeout = params->integer("timeout");
        const auto size = params->integer("dataSize");
        if (!shared || !timeout || !size) return kStatusBadParameter;
        if (*size != request.dataSize) return kStatusBadDataSize;
        variables_[*id].assign(request.data, request.data + request.dataSize);
        reply_int(response, 0);
        return kStatusOk;
    }
    case kCmdGetVariable:
        if (it == variables_.end()) return kStatusNoSuchVariable;
        reply_bytes(response, it->second.data(), it->second.size());
        return kStatusOk;
    case kCmdVariableExists:
        reply_int(response, it == variables_.end() ? 0 : 1);
        return kStatusOk;
    default:
        if (it == variables_.end()) return kStatusNoSuchVariable;
        variables_.erase(it);
        reply_int(response, 0);
        return kStatusOk;
    }
}

}  // namespace cardhost
