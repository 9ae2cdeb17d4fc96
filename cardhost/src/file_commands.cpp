#include "file_commands.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "cardhost/constants.h"
#include "cardhost/params.h"

namespace fs = std::filesystem;

namespace cardhost {
namespace {

// "a\nb\n...\n": exactly `count` fields, each ended by a line end.
std::optional<std::vector<std::string>> split_fields(std::string_view text, std::size_t count) {
    std::vector<std::string> fields;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        fields.emplace_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    if (fields.size() != count) return std::nullopt;
    return fields;
}

// The path of `relative` inside `base`; nullopt when it is absolute or
// climbs out (also through a link inside the directory).
std::optional<fs::path> inside(const fs::path &base, std::string relative) {
    for (char &c : relative) {
        if (c == '\\') c = '/';
    }
    const fs::path rel(relative);
    if (rel.is_absolute() || rel.has_root_name() || rel.has_root_directory()) return std::nullopt;
    for (const fs::path &part : rel) {
        if (part == "..") return std::nullopt;
        const std::string name = part.string();
        if (name.size() >= 2 && name[1] == ':') return std::nullopt;  // a drive letter
    }
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(base, ec);
    if (ec) return std::nullopt;
    const fs::path full = fs::weakly_canonical(root / rel, ec);
    if (ec) return std::nullopt;
    const auto mismatch = std::mismatch(root.begin(), root.end(), full.begin(), full.end());
    if (mismatch.first != root.end()) return std::nullopt;
    return full;
}

std::optional<fs::path> join(const fs::path &base, const std::string &folder, const std::string &name) {
    if (name.empty()) return std::nullopt;
    return inside(base, folder.empty() ? name : folder + "/" + name);
}

std::string copy_file(const fs::path &from, const fs::path &to, std::int32_t overwrite) {
    std::error_code ec;
    if (!fs::is_regular_file(from, ec)) return kFileNotFound;
    if (fs::exists(to, ec) && overwrite == 0) return kFileExists;
    fs::create_directories(to.parent_path(), ec);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return ec ? std::string(kFileFailed) + ": " + ec.message() : std::string(kFileSuccess);
}

}  // namespace

std::string run_file_command(std::int32_t command, const std::string &base_dir, std::string_view text) {
    const fs::path base(base_dir);
    std::error_code ec;
    fs::create_directories(base, ec);
    const bool transfer = command == kCmdFileSend || command == kCmdFileRecv;
    const auto fields = split_fields(text, transfer ? 4 : 2);
    if (!fields) return kFileBadRequest;
    const std::vector<std::string> &f = *fields;

    if (transfer) {
        const auto overwrite = parse_int32(f[3]);
        if (!overwrite) return kFileBadRequest;
        // Send: source file, target folder, target name. Receive: source
        // folder, source name, target file.
        const auto from = command == kCmdFileSend ? inside(base, f[0]) : join(base, f[0], f[1]);
        const auto to = command == kCmdFileSend ? join(base, f[1], f[2]) : inside(base, f[2]);
        if (!from || !to || *from == fs::weakly_canonical(base, ec) || *to == fs::weakly_canonical(base, ec)) {
            return kFilePathRefused;
        }
        return copy_file(*from, *to, *overwrite);
    }
    const auto target = join(base, f[0], f[1]);
    if (!target) return kFilePathRefused;
    if (command == kCmdFileDelete) {
        if (!fs::exists(fs::symlink_status(*target, ec))) return kFileNotFound;
        fs::remove(*target, ec);
    } else {
        if (fs::exists(*target, ec)) return kFileExists;
        fs::create_directories(*target, ec);
    }
    return ec ? std::string(kFileFailed) + ": " + ec.message() : std::string(kFileSuccess);
}

}  // namespace cardhost
