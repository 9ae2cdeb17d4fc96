// The vboard program's machine, read from the machine configuration file
// with cardhost's own loader, so that the board and the server stand for
// the same machine.
#pragma once

#include <optional>
#include <string>

#include "vboard/machine.h"

namespace vboard {

// Reads `path`, or with "" the file cardhost would read when started
// without one ($CARDHOST_CONFIG, machine.conf beside the program, the
// built-in copy). On failure nullopt and *error says why ("FILE: line N: ...").
std::optional<Machine> load_machine(const std::string &path, std::string *error);

}  // namespace vboard
