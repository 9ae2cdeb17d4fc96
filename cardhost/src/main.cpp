// cardhost [--run-dir DIR] [--config FILE]: serves the card server's pipe
// until SIGTERM or SIGINT. Started as a service it gets no arguments: the run
// directory comes from QAX_RUN_DIR and the configuration from
// CARDHOST_CONFIG or the machine.conf beside the executable.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "cardhost/constants.h"
#include "cardhost/server.h"
#include "default_config.h"
#include "platform/platform.h"
#include "transport.h"

namespace {

constexpr char kUsage[] = "usage: cardhost [--run-dir DIR] [--config FILE]\n";

std::string default_config_path() {
    if (auto env = platform::get_env(cardhost::kConfigEnv); env && !env->empty()) return *env;
    const std::string exe = platform::executable_path();
    if (exe.empty()) return {};
    const std::filesystem::path beside = std::filesystem::path(exe).parent_path() / cardhost::kConfigFileName;
    std::error_code ec;
    return std::filesystem::is_regular_file(beside, ec) ? beside.string() : std::string();
}

}  // namespace

int main(int argc, char **argv) {
    cardhost::ServerOptions options;
    bool config_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--run-dir" || arg == "--config") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--run-dir") {
                cardhost::set_environment("QAX_RUN_DIR", value);
            } else {
                options.config_path = value;
                config_given = true;
            }
        } else {
            std::fputs(kUsage, stderr);
            return arg == "--help" ? 0 : 2;
        }
    }
    if (!config_given) options.config_path = default_config_path();
    if (options.config_path.empty()) options.config_text = cardhost::kDefaultConfigText;

    const std::string run_dir = platform::run_directory();
    options.files_dir = (std::filesystem::path(run_dir) / cardhost::kFilesDirName).string();

    // Before any thread starts, so that only sigwait sees the signals.
    cardhost::block_termination_signals();
    cardhost::Server server(options);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "cardhost: %s\n", error.c_str());
        return 1;
    }
    std::printf("cardhost: serving %s\n", server.address().c_str());
    std::fflush(stdout);
    cardhost::wait_for_termination();
    server.stop();
    return 0;
}
