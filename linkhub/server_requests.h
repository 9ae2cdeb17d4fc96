// The request over the server pipe and its two result rules.
#pragma once

#include "server_pipe.h"

namespace linkhub {

// The server's status (0 = success), or -1 for any transport failure; a
// nonzero result is logged. -1 when there is no pipe object.
int request(const Exchange &exchange);

// Rule V: the reply is one int; the status when nonzero, else that int
// (-1 when the reply brought none).
int request_value(int command, const char *parameters, const void *data = nullptr, int dataSize = 0);

// Rule S: the status; the reply lands in the caller's area. A null area is
// refused with -1 before anything is sent.
int request_record(int command, const char *parameters, void *reply, int capacity);

}  // namespace linkhub
