// cardhost [--run-dir DIR] [--config FILE]: serves the card server's pipe
// until SIGTERM or SIGINT. Started as a service it gets no arguments: the run
// directory comes from QAX_RUN_DIR and the configuration from
// CARDHOST_CONFIG or the machine.conf beside the executable. On Windows the
// service manager starts it (as the communication layer installs it) and
// stops it with its stop control.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "cardhost/config_source.h"
#include "cardhost/constants.h"
#include "cardhost/server.h"
#include "platform/platform.h"
#include "transport.h"
#ifdef _WIN32
#include "service_win32.h"
#endif

namespace {

constexpr char kUsage[] =
    "usage: cardhost [--run-dir DIR] [--config FILE]\n"
    "Serves the card server's pipe in DIR (default $QAX_RUN_DIR, else /tmp/qax-<uid>) for the machine\n"
    "in FILE (default $CARDHOST_CONFIG, else machine.conf beside the program, else the built-in copy)\n"
    "until SIGTERM or SIGINT.\n";
constexpr int kExitUsage = 2;

// Serves until a termination signal (or the service's stop control).
int serve(const cardhost::ServerOptions &options, const std::function<void()> &serving) {
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
    serving();
    cardhost::wait_for_termination();
    server.stop();
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    cardhost::ServerOptions options;
    bool config_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
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
            return kExitUsage;
        }
    }
    if (!config_given) options.config_path = cardhost::default_config_path();
    if (options.config_path.empty()) options.config_text = cardhost::builtin_config_text();

    const std::string run_dir = platform::run_directory();
    options.files_dir = (std::filesystem::path(run_dir) / cardhost::kFilesDirName).string();

#ifdef _WIN32
    // Started by the service manager (the communication layer installs the
    // server as a service and starts it): serve as its service.
    if (const std::optional<int> code = cardhost::run_as_service(
            [&](const cardhost::ServingReport &serving) { return serve(options, serving); })) {
        return *code;
    }
#endif
    return serve(options, [] {});
}
