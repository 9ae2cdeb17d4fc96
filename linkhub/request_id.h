// Request ids: pseudo-random numbers 0 to 32767, seeded at start-up.
#pragma once

#include <cstdint>

namespace linkhub {

void seed_request_ids(std::uint32_t seed);
// Thread-safe.
std::int32_t next_request_id();

}  // namespace linkhub
