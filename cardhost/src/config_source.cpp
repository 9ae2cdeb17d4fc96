#include "cardhost/config_source.h"

#include <filesystem>
#include <system_error>

#include "cardhost/constants.h"
#include "default_config.h"
#include "platform/platform.h"

namespace cardhost {

std::string default_config_path() {
    if (auto env = platform::get_env(kConfigEnv); env && !env->empty()) return *env;
    const std::string exe = platform::executable_path();
    if (exe.empty()) return {};
    const std::filesystem::path beside = std::filesystem::path(exe).parent_path() / kConfigFileName;
    std::error_code ec;
    return std::filesystem::is_regular_file(beside, ec) ? beside.string() : std::string();
}

const char *builtin_config_text() { return kDefaultConfigText; }

std::optional<MachineConfig> load_config_or_builtin(const std::string &path, std::string *error) {
    if (path.empty()) return parse_machine_config(kDefaultConfigText, error);
    return load_machine_config(path, error);
}

}  // namespace cardhost
