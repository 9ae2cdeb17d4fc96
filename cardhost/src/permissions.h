// Permission levels per process. Write (level 3) is held by one process at a
// time; it is lost when the holder's process ends or its connection closes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

namespace cardhost {

class PermissionTable {
public:
    using ProcessAlive = std::function<bool(std::uint32_t pid)>;
    explicit PermissionTable(ProcessAlive alive) : alive_(std::move(alive)) {}

    // Registers `pid` for `level` (1..3) through `connection`; returns the
    // level granted: 1 instead of 3 while another live process holds 3.
    std::int32_t request(std::uint32_t pid, std::int32_t level, std::uint64_t connection);
    void unregister(std::uint32_t pid);
    // 0 when the process is not registered.
    std::int32_t level_of(std::uint32_t pid) const;
    // Forgets everything registered through a closed connection.
    void drop_connection(std::uint64_t connection);
    // The process holding write, 0 = none (a dead holder is dropped first).
    std::uint32_t write_holder();

private:
    struct Entry {
        std::int32_t level;
        std::uint64_t connection;
    };
    ProcessAlive alive_;
    std::map<std::uint32_t, Entry> entries_;
};

}  // namespace cardhost
