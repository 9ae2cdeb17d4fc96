// What the board's link-channel queue models (path channels, command lists)
// take from the requests they see: the words of a queued request and the
// axes-group definitions their group nodes refer to.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

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

}  // namespace vboard::queue_requests
