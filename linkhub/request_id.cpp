#include "request_id.h"

#include <mutex>
#include <random>

#include "linkhub_constants.h"

namespace linkhub {
namespace {

std::mutex g_RequestIdMutex;
std::minstd_rand g_RequestIdGenerator;  // NOLINT: process-wide generator

}  // namespace

void seed_request_ids(std::uint32_t seed) {
    const std::lock_guard lock(g_RequestIdMutex);
    g_RequestIdGenerator.seed(seed);
}

std::int32_t next_request_id() {
    // Drawn through a distribution so the range is 0..32767 on every platform.
    std::uniform_int_distribution<std::int32_t> range(0, kRequestIdMax);
    const std::lock_guard lock(g_RequestIdMutex);
    return range(g_RequestIdGenerator);
}

}  // namespace linkhub
