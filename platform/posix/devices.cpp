// Device interfaces: the sockets in run_directory()/devices/{CLASS}/, and
// I/O-control requests as one exchange on the connection:
//   request: u32 code, u32 input length, u32 output capacity, input bytes
//   reply:   i32 status, u32 bytes reported, that many output bytes
// Every exchange is bounded: a device that makes no progress for the limit
// fails the request. A broken exchange drops the connection; the next
// request connects again, so a device that answers again is used again.
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform_internal.h"
#include "posix_internal.h"

namespace platform {
namespace {
constexpr char kDeviceDirectory[] = "/devices/";
constexpr std::size_t kRequestHeaderSize = 12;
constexpr std::size_t kReplyHeaderSize = 8;
// Output beyond the capacity is read and dropped up to this much, which
// keeps the connection in step; a reply reporting more breaks it.
constexpr std::uint32_t kMaxDroppedOutput = 1U << 20;

void put_u32(unsigned char *at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t get_u32(const unsigned char *at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    return value;
}

class DirectoryDeviceSet final : public DeviceInfoSet {
public:
    DirectoryDeviceSet(std::string directory, std::vector<std::string> names)
        : directory_(std::move(directory)), names_(std::move(names)) {}

    Enum enumerate(std::uint32_t index) override {
        if (index < names_.size()) return Enum::ok;
        set_last_error(kErrorNoMoreItems);
        return Enum::no_more_items;
    }

    bool interface_path(std::uint32_t index, std::string &path) override {
        if (index >= names_.size()) {
            set_last_error(kErrorNoMoreItems);
            return false;
        }
        path = directory_ + "/" + names_[index];
        return true;
    }

    bool device_description(std::uint32_t index, std::string &text) override {
        if (index >= names_.size()) {
            set_last_error(kErrorNoMoreItems);
            return false;
        }
        text = names_[index];
        return true;
    }

private:
    std::string directory_;
    std::vector<std::string> names_;
};

// One open device: its path, its connection, one exchange at a time.
struct DeviceConnection {
    DeviceConnection(std::string p, posix::UniqueFd s) : path(std::move(p)), socket(std::move(s)) {}
    std::mutex exchange;
    std::string path;
    posix::UniqueFd socket;    // invalid after a broken exchange, until connected again
    std::uint32_t limit_ms = 0;  // the progress limit set on the socket, 0 = none yet
};

struct DeviceTable {
    std::mutex guard;
    std::unordered_map<DeviceHandle, std::shared_ptr<DeviceConnection>> open;
    DeviceHandle next = 1;
};

// Never destroyed: a thread left running at exit may still use a handle.
DeviceTable &devices() {
    static DeviceTable *instance = new DeviceTable;
    return *instance;
}

std::shared_ptr<DeviceConnection> find_device(DeviceHandle handle) {
    DeviceTable &table = devices();
    std::lock_guard lock(table.guard);
    auto it = table.open.find(handle);
    return it == table.open.end() ? nullptr : it->second;
}

// The progress limit in real time, as the clock gives it (never 0, which
// would mean no limit to the socket).
std::uint32_t real_progress_limit() {
    return std::clamp<std::uint32_t>(clock().io_wait_ms(kDeviceProgressLimitMs), 1, kDeviceProgressLimitMs);
}

// Connects to the device, within the progress limit; refused for
// permissions is access denied, anything else fails the open.
posix::UniqueFd connect_device(const std::string &path) {
    posix::UniqueFd fd = posix::connect_unix(path, real_progress_limit());
    if (!fd.valid()) {
        const int error = errno;
        if (error == ETIMEDOUT) clock().io_wait_timed_out(kDeviceProgressLimitMs);
        posix::set_error_from_errno(error);
        if (last_error() != kErrorAccessDenied) set_last_error(kErrorFileNotFound);
    }
    return fd;
}

// Gives the socket's sends and receives the progress limit as the clock sees
// it: a transfer that moves nothing for that long fails. Set again only when
// it changes.
bool set_progress_limit(DeviceConnection &device) {
    const std::uint32_t real = real_progress_limit();
    if (real == device.limit_ms) return true;
    timeval limit{static_cast<time_t>(real / 1000), static_cast<suseconds_t>((real % 1000) * 1000)};
    const int fd = device.socket.get();
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0) {
        posix::set_error_from_errno();
        return false;
    }
    device.limit_ms = real;
    return true;
}

// Sends or receives exactly `len` bytes; a step without progress ends at
// the socket's limit.
bool transfer(int fd, void *data, std::uint32_t len, bool sending) {
    auto *bytes = static_cast<unsigned char *>(data);
    std::uint32_t moved = 0;
    while (moved < len) {
        const std::size_t rest = len - moved;
        const ssize_t n = sending ? send(fd, bytes + moved, rest, MSG_NOSIGNAL) : recv(fd, bytes + moved, rest, 0);
        if (n > 0) {
            moved += static_cast<std::uint32_t>(n);
        } else if (n == 0) {
            set_last_error(kErrorBrokenPipe);  // the device closed
            return false;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            clock().io_wait_timed_out(kDeviceProgressLimitMs);
            set_last_error(kErrorSemTimeout);
            return false;
        } else if (errno != EINTR) {
            posix::set_error_from_errno();
            return false;
        }
    }
    return true;
}

bool send_bytes(int fd, const void *data, std::uint32_t len) {
    return transfer(fd, const_cast<void *>(data), len, true);
}

bool receive_bytes(int fd, void *data, std::uint32_t len) { return transfer(fd, data, len, false); }

bool drop_bytes(int fd, std::uint32_t count) {
    std::array<unsigned char, 4096> scratch{};
    while (count > 0) {
        const std::uint32_t step = std::min<std::uint32_t>(count, scratch.size());
        if (!receive_bytes(fd, scratch.data(), step)) return false;
        count -= step;
    }
    return true;
}

// Bytes waiting before a request is sent, or the device's hang-up, mean the
// connection is out of step or gone.
bool in_step(int fd) {
    pollfd watched{fd, POLLIN, 0};
    return poll(&watched, 1, 0) == 0;
}

// One request and its reply; false when the transport failed (last error set).
bool exchange(int fd, std::uint32_t code, const void *in, std::uint32_t in_len, void *out, std::uint32_t out_len,
              std::int32_t &status, std::uint32_t &received) {
    unsigned char header[kRequestHeaderSize];
    put_u32(header, code);
    put_u32(header + 4, in_len);
    put_u32(header + 8, out_len);
    if (!send_bytes(fd, header, sizeof header) || !send_bytes(fd, in, in_len)) return false;
    unsigned char reply[kReplyHeaderSize];
    if (!receive_bytes(fd, reply, sizeof reply)) return false;
    status = static_cast<std::int32_t>(get_u32(reply));
    const std::uint32_t reported = get_u32(reply + 4);
    const std::uint32_t kept = std::min(reported, out_len);
    const std::uint32_t excess = reported - kept;
    if (excess > kMaxDroppedOutput) {
        set_last_error(kErrorBrokenPipe);
        return false;
    }
    if (!receive_bytes(fd, out, kept) || !drop_bytes(fd, excess)) return false;
    // The count is the driver's, as on Windows: a request may report more
    // bytes than the caller's buffer took (the parameter request reports 16
    // into no buffer at all).
    received = reported;
    return true;
}
}  // namespace

std::unique_ptr<DeviceInfoSet> detail::os_list_device_interfaces(const char *class_guid) {
    if (class_guid == nullptr || !posix::is_plain_file_name(class_guid)) {
        set_last_error(kErrorInvalidParameter);
        return nullptr;
    }
    std::string run_dir;
    if (!posix::usable_run_directory(run_dir)) return nullptr;
    std::string directory = run_dir + kDeviceDirectory + class_guid;
    std::vector<std::string> names;
    if (DIR *listing = opendir(directory.c_str())) {
        while (const dirent *entry = readdir(listing)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(listing);
    } else if (errno != ENOENT) {
        posix::set_error_from_errno();
        return nullptr;
    }
    std::sort(names.begin(), names.end());
    return std::make_unique<DirectoryDeviceSet>(std::move(directory), std::move(names));
}

DeviceHandle detail::os_open_device(const std::string &path) {
    posix::UniqueFd fd = connect_device(path);
    if (!fd.valid()) return kInvalidDevice;
    auto connection = std::make_shared<DeviceConnection>(path, std::move(fd));
    DeviceTable &table = devices();
    std::lock_guard lock(table.guard);
    const DeviceHandle handle = table.next++;
    table.open.emplace(handle, std::move(connection));
    return handle;
}

bool detail::os_device_io_control(DeviceHandle device, std::uint32_t code, const void *in, std::uint32_t in_len, void *out,
                       std::uint32_t out_len, std::uint32_t *returned) {
    if (returned != nullptr) *returned = 0;
    std::shared_ptr<DeviceConnection> connection = find_device(device);
    if (!connection) {
        set_last_error(kErrorInvalidHandle);
        return false;
    }
    if ((in_len > 0 && in == nullptr) || (out_len > 0 && out == nullptr)) {
        set_last_error(kErrorInvalidParameter);
        return false;
    }
    std::lock_guard lock(connection->exchange);
    if (connection->socket.valid() && !in_step(connection->socket.get())) connection->socket.reset();
    if (!connection->socket.valid()) {
        connection->socket = connect_device(connection->path);
        connection->limit_ms = 0;
        if (!connection->socket.valid()) return false;
    }
    if (!set_progress_limit(*connection)) return false;
    std::int32_t status = 0;
    std::uint32_t received = 0;
    if (!exchange(connection->socket.get(), code, in, in_len, out, out_len, status, received)) {
        // The stream is out of step: dropped, so that the device sees the end.
        const std::uint32_t error = last_error();
        connection->socket.reset();
        set_last_error(error);
        return false;
    }
    if (returned != nullptr) *returned = received;
    if (status != 0) {
        set_last_error(static_cast<std::uint32_t>(status));
        return false;
    }
    return true;
}

void detail::os_close_device(DeviceHandle device) {
    std::shared_ptr<DeviceConnection> removed;
    DeviceTable &table = devices();
    std::lock_guard lock(table.guard);
    auto it = table.open.find(device);
    if (it == table.open.end()) {
        set_last_error(kErrorInvalidHandle);
        return;
    }
    removed = std::move(it->second);
    table.open.erase(it);
}

}  // namespace platform
