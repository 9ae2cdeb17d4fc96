// Where a program that reads the machine configuration takes it from when
// no file is named on its command line. cardhost and the vboard program use
// the same rule, so that both stand for the same machine.
#pragma once

#include <optional>
#include <string>

#include "cardhost/machine_config.h"

namespace cardhost {

// $CARDHOST_CONFIG when set, else machine.conf beside the running program
// when there is one, else "" (the built-in copy of the shipped machine.conf).
std::string default_config_path();
// The shipped machine.conf, built into the program.
const char *builtin_config_text();
// Loads `path`, or parses the built-in copy when `path` is "".
std::optional<MachineConfig> load_config_or_builtin(const std::string &path, std::string *error);

}  // namespace cardhost
