#include "permissions.h"

#include <iterator>

#include "cardhost/constants.h"

namespace cardhost {

std::uint32_t PermissionTable::write_holder() {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->second.level != kLevelWrite) continue;
        if (alive_ && !alive_(it->first)) {
            entries_.erase(it);
            return 0;
        }
        return it->first;
    }
    return 0;
}

std::int32_t PermissionTable::request(std::uint32_t pid, std::int32_t level, std::uint64_t connection) {
    if (level == kLevelWrite) {
        const std::uint32_t holder = write_holder();
        if (holder != 0 && holder != pid) level = kLevelRead;
    }
    entries_[pid] = Entry{level, connection};
    return level;
}

void PermissionTable::unregister(std::uint32_t pid) { entries_.erase(pid); }

std::int32_t PermissionTable::level_of(std::uint32_t pid) const {
    auto it = entries_.find(pid);
    return it == entries_.end() ? kLevelNone : it->second.level;
}

void PermissionTable::drop_connection(std::uint64_t connection) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        it = it->second.connection == connection ? entries_.erase(it) : std::next(it);
    }
}

}  // namespace cardhost
