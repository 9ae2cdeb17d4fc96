// Runs a built program to its end with its standard output and standard
// error captured (POSIX), for tests of the programs' command lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qax_test {

struct ProgramOutput {
    // Exit code, 128 + signal number when a signal ended it, nullopt when
    // it was still running after the time limit (it is killed then).
    std::optional<int> exit_code;
    std::string out;
    std::string err;
};

ProgramOutput run_program(const std::string &path, const std::vector<std::string> &args,
                          std::uint32_t timeout_ms = 5000);

// The command-line conventions of the project's programs, checked on the
// program `name` beside the test: --help prints the usage to standard output
// and exits 0; an unknown option, or an option without its value, prints it
// to standard error and exits 2.
void expect_command_line_conventions(const std::string &name);

}  // namespace qax_test
