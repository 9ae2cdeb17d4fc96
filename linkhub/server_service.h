// CServerService: the server's service registration, queried, installed and
// started through the platform's service manager.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace linkhub {

// The server's executable path for this OS: the Windows form built from
// "programfiles(x86)", made native here and nowhere else.
std::string server_executable_path();

class CServerService {
public:
    CServerService(std::string executablePath, std::string serviceName);
    CServerService(const CServerService &) = delete;
    CServerService &operator=(const CServerService &) = delete;

    // Opens the service manager with full access; false when that failed
    // (the service steps then give -1).
    bool OpenManager();

    // 0 and the service's state; -1 no manager, -2 open failed, -3 query
    // failed, -4 no result place, -5 not installed.
    int GetServerState(std::uint32_t *state);
    // 0 installed; -1 no manager, -2 executable missing, -3 create failed.
    int Install();
    // 0 started; -1 no manager, -2 open failed, -3 start failed.
    int Start();

private:
    std::string m_executablePath;
    std::string m_serviceName;
    std::unique_ptr<platform::ServiceManager> m_manager;
};

}  // namespace linkhub
