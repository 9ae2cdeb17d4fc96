// What the board's link-channel queue models (path channels, command lists)
// take from the requests they see: the words of a queued request and the
// axes-group definitions their group nodes refer to.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "vboard/vboard.h"

namespace vboard::queue_requests {

inline constexpr std::uint32_t kCmdDefineGroup = 0x20160001;
inline constexpr std::uint32_t kGroups = 16;
inline constexpr std::uint32_t kGroupMaxAxes = 6;
// Words of a group definition: command, three more, group, count, members.
inline constexpr std::size_t kGroupWord = 4;
inline constexpr std::size_t kGroupCountWord = 5;
inline constexpr std::size_t kGroupMembersWord = 6;

// The request as words (a trailing partial word is dropped).
inline std::vector<std::uint32_t> Words(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint32_t> words(bytes.size() / 4);
    if (!words.empty()) std::memcpy(words.data(), bytes.data(), words.size() * 4);
    return words;
}

// A group definition: the group (0-based) and its members (at most six);
// false for any other request, a group beyond 16 or a short member list.
inline bool GroupDefinition(std::span<const std::uint32_t> request, std::uint32_t &group,
                            std::span<const std::uint32_t> &members) {
    if (request.size() < kGroupMembersWord || request[0] != kCmdDefineGroup) return false;
    group = request[kGroupWord];
    const std::uint32_t count = std::min(request[kGroupCountWord], kGroupMaxAxes);
    if (group >= kGroups || request.size() < kGroupMembersWord + static_cast<std::size_t>(count)) return false;
    members = request.subspan(kGroupMembersWord, count);
    return true;
}

// Registers, under `key`, what both queue models do alike: keep their group
// table from the group definitions the board sees, and run their cycles.
// State has `mutex`, `groups` (indexed by group) and `Cycle(registers)`.
template <typename State>
void WatchGroupsAndCycles(VirtualBoard &board, const std::string &key, std::weak_ptr<State> weak) {
    board.set_command_observer(key, [weak](VirtualBoard::Registers &, std::span<const std::uint32_t> request) {
        auto state = weak.lock();
        std::uint32_t group = 0;
        std::span<const std::uint32_t> members;
        if (!state || !GroupDefinition(request, group, members)) return;
        std::lock_guard lock(state->mutex);
        state->groups[group].assign(members.begin(), members.end());
    });
    board.set_cycle_handler(key, [weak](VirtualBoard::Registers &r, std::uint32_t cycles) {
        auto state = weak.lock();
        if (!state) return;
        std::lock_guard lock(state->mutex);
        for (std::uint32_t c = 0; c < cycles; ++c) state->Cycle(r);
    });
}

inline void ForgetGroupsAndCycles(VirtualBoard &board, const std::string &key) {
    board.set_command_observer(key, nullptr);
    board.set_cycle_handler(key, nullptr);
}

}  // namespace vboard::queue_requests
