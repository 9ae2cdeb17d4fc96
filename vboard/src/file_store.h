// The board's file store: a directory on the host, with a current directory
// inside it. Board names are relative paths within the store; names that are
// absolute, hold a ".." part or lead out of the store are refused, except
// those that start with the board's storage volume (kStorageVolume), which
// name the volume's directory of the store (kStorageVolumeDirectory) and
// what lies below it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vboard {

class FileStore {
public:
    // `root` "" makes a fresh temporary directory, removed by the destructor.
    explicit FileStore(const std::string &root);
    ~FileStore();
    FileStore(const FileStore &) = delete;
    FileStore &operator=(const FileStore &) = delete;

    const std::filesystem::path &root() const { return root_; }
    // The store path of a board name, nullopt when the name is refused.
    std::optional<std::filesystem::path> resolve(std::string_view name) const;
    // "" goes back to the store's root. false: refused or no such directory.
    bool change_directory(std::string_view name);
    void reset_directory() { current_ = root_; }

private:
    std::filesystem::path root_;
    std::filesystem::path current_;
    bool owns_root_ = false;
};

// Whole-file helpers; false on any failure.
bool read_whole_file(const std::filesystem::path &path, std::vector<std::uint8_t> &data);
bool write_whole_file(const std::filesystem::path &path, const std::vector<std::uint8_t> &data);

}  // namespace vboard
