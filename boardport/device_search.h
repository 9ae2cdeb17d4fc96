// Finding the board among the device interfaces of its class.
#pragma once

#include "state.h"

namespace boardport {

// Lists the board's interfaces, reads each one's path and description, then
// keeps the set and interface 0's path in `state`. false (nothing kept, the
// reason printed on standard output) when there is no usable board.
bool search_device(DriverState &state);

// Drops the search state: the set and the kept path.
void forget_search(DriverState &state);

}  // namespace boardport
