// The server as a Windows service: the service manager starts the program
// (the communication layer installs and starts it so) and expects it to
// report its state and to stop when told.
#pragma once

#include <functional>
#include <optional>

namespace cardhost {

// Reported once the server listens.
using ServingReport = std::function<void()>;

// When the service manager started this process, runs `serve` as the
// service's work until it returns (after a stop control: see
// wait_for_termination) and gives its exit code. nullopt, without running
// it, when the process was started otherwise (from a console).
std::optional<int> run_as_service(const std::function<int(const ServingReport &)> &serve);

}  // namespace cardhost
