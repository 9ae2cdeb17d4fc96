#include "server_service.h"

#include <string_view>
#include <utility>

#include "linkhub_constants.h"
#include "messages.h"

namespace linkhub {
namespace {

int last_error() { return static_cast<int>(platform::last_error()); }

// POSIX keeps the registry's paths with '/' and without the ".exe" suffix.
std::string native_path(std::string path) {
#if defined(_WIN32)
    return path;
#else
    for (char &c : path) {
        if (c == '\\') c = '/';
    }
    constexpr std::string_view suffix = ".exe";
    if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
        path.resize(path.size() - suffix.size());
    }
    return path;
#endif
}

}  // namespace

std::string server_executable_path() {
    const std::string prefix = platform::get_env(kServerPathEnv).value_or("");
    char path[kMessageCapacity];
    format_into(path, sizeof path, kServerPathFormat, prefix.c_str());
    return native_path(path);
}

CServerService::CServerService(std::string executablePath, std::string serviceName)
    : m_executablePath(std::move(executablePath)), m_serviceName(std::move(serviceName)) {}

bool CServerService::OpenManager() {
    m_manager = platform::open_service_manager();
    return m_manager != nullptr;
}

int CServerService::GetServerState(std::uint32_t *state) {
    if (state == nullptr) return kServiceNoResultPlace;
    if (!m_manager) return kServiceNoManager;
    const std::unique_ptr<platform::Service> service = m_manager->open(m_serviceName.c_str());
    if (!service) {
        if (platform::last_error() == platform::kErrorServiceDoesNotExist) return kServiceNotInstalled;
        message(kCodeOpenService, kTextOpenServiceFail, last_error());
        return kServiceOpenFailed;
    }
    if (!service->query_state(*state)) {
        message(kCodeQueryService, kTextQueryServiceFail, last_error());
        return kServiceQueryFailed;
    }
    return kServiceOk;
}

int CServerService::Install() {
    if (!m_manager) return kServiceNoManager;
    if (!platform::file_exists(m_executablePath)) return kServiceExecutableMissing;
    const std::unique_ptr<platform::Service> service =
        m_manager->create(m_serviceName.c_str(), m_serviceName.c_str(), m_executablePath.c_str());
    if (!service) {
        message(kCodeCreateService, kTextCreateServerFail, last_error());
        return kServiceCreateFailed;
    }
    return kServiceOk;  // the new service's handle closes here
}

int CServerService::Start() {
    if (!m_manager) return kServiceNoManager;
    const std::unique_ptr<platform::Service> service = m_manager->open(m_serviceName.c_str());
    if (!service) {
        message(kCodeOpenService, kTextOpenServiceFail, last_error());
        return kServiceOpenFailed;
    }
    if (!service->start()) {
        message(kServiceStartFailed, kTextStartServiceFail, last_error());
        return kServiceStartFailed;
    }
    return kServiceOk;
}

}  // namespace linkhub
