#include "file_store.h"

#include <fstream>
#include <random>
#include <string_view>
#include <system_error>

#include "vboard/vboard.h"

namespace vboard {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxNameBytes = 64;
constexpr int kTempDirAttempts = 100;

fs::path make_temporary_directory() {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error) return {};
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < kTempDirAttempts; ++attempt) {
        fs::path candidate = base / ("vboard-store-" + std::to_string(random() % 1000000000000ull));
        if (fs::create_directory(candidate, error)) return candidate;
    }
    return {};
}

// true when `path` is `root` or lies below it (both canonical).
bool within(const fs::path &root, const fs::path &path) {
    auto r = root.begin();
    auto p = path.begin();
    for (; r != root.end(); ++r, ++p) {
        if (p == path.end() || *r != *p) return false;
    }
    return true;
}

}  // namespace

FileStore::FileStore(const std::string &root) {
    std::error_code error;
    if (root.empty()) {
        root_ = make_temporary_directory();
        owns_root_ = !root_.empty();
    } else {
        root_ = root;
        fs::create_directories(root_, error);
    }
    fs::path canonical = fs::weakly_canonical(root_, error);
    if (!error) root_ = canonical;
    current_ = root_;
    // The board's storage volume is always there.
    if (!root_.empty()) fs::create_directory(root_ / kStorageVolumeDirectory, error);
}

FileStore::~FileStore() {
    if (owns_root_) {
        std::error_code error;
        fs::remove_all(root_, error);
    }
}

std::optional<fs::path> FileStore::resolve(std::string_view name) const {
    if (name.empty() || name.size() > kMaxNameBytes) return std::nullopt;
    std::string text(name);
    for (char &c : text) {
        if (c == '\\') c = '/';
    }
    // The volume's name is the one absolute name: it stands for its
    // directory of the store, and the rest of the name resolves below it.
    fs::path base = current_;
    const std::string_view volume = kStorageVolume;
    if (text.compare(0, volume.size(), volume) == 0 && (text.size() == volume.size() || text[volume.size()] == '/')) {
        base = root_ / kStorageVolumeDirectory;
        text.erase(0, volume.size());
        while (!text.empty() && text.front() == '/') text.erase(0, 1);
    } else if (text.front() == '/') {
        return std::nullopt;
    }
    if (text.find(':') != std::string::npos) return std::nullopt;
    const fs::path relative(text);
    if (relative.has_root_path()) return std::nullopt;
    for (const fs::path &part : relative) {
        if (part == "..") return std::nullopt;
    }
    std::error_code error;
    fs::path full = fs::weakly_canonical(text.empty() ? base : base / relative, error);
    if (error || !within(root_, full) || full == root_) return std::nullopt;
    return full;
}

bool FileStore::change_directory(std::string_view name) {
    if (name.empty()) {
        current_ = root_;
        return true;
    }
    std::optional<fs::path> target = resolve(name);
    std::error_code error;
    if (!target || !fs::is_directory(*target, error)) return false;
    current_ = *target;
    return true;
}

bool read_whole_file(const fs::path &path, std::vector<std::uint8_t> &data) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return false;
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

bool write_whole_file(const fs::path &path, const std::vector<std::uint8_t> &data) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
    file.close();
    return !file.fail();
}

}  // namespace vboard
