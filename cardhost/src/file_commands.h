// The server-side file commands (send, receive, delete, make folder) on the
// server's file directory. Every path is relative to that directory; a path
// that leaves it is refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cardhost {

// Runs file command 35..38 with its request text; returns the reply text,
// "Success" or what went wrong.
std::string run_file_command(std::int32_t command, const std::string &base_dir, std::string_view text);

}  // namespace cardhost
