// Device interfaces through SetupAPI and requests through DeviceIoControl.
// When QAX_VIRTUAL_BOARD names a pipe, that pipe is the board's one device
// interface and each request is one exchange over it, as with the device
// socket on POSIX.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform_internal.h"
#include "win32_internal.h"

#include <setupapi.h>

namespace platform {
namespace {

constexpr char kVirtualBoardVariable[] = "QAX_VIRTUAL_BOARD";
constexpr char kVirtualBoardDescription[] = "Virtual motion board";
// The largest request input the pipe exchange carries (the register block
// record is about 96 KiB).
constexpr std::uint32_t kMaxExchangeInput = 16 * 1024 * 1024;
// The most reply bytes beyond the caller's buffer that are read and dropped.
constexpr std::uint32_t kMaxDroppedOutput = 1024 * 1024;

// The exchange records, little-endian as on the device socket.
struct DeviceRequestHeader {
    std::uint32_t code;
    std::uint32_t input_length;
    std::uint32_t output_capacity;
};
static_assert(sizeof(DeviceRequestHeader) == 12);
static_assert(offsetof(DeviceRequestHeader, input_length) == 4);
static_assert(offsetof(DeviceRequestHeader, output_capacity) == 8);

struct DeviceReplyHeader {
    std::int32_t status;
    std::uint32_t bytes_reported;
};
static_assert(sizeof(DeviceReplyHeader) == 8);
static_assert(offsetof(DeviceReplyHeader, bytes_reported) == 4);

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equal_ignoring_case(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (upper(*a) != upper(*b)) return false;
    }
    return *a == *b;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" -> GUID.
bool parse_guid(const char *text, GUID &guid) {
    static constexpr char kPattern[] = "{........-....-....-....-............}";
    if (std::strlen(text) != sizeof kPattern - 1) return false;
    std::uint8_t bytes[16] = {};
    std::size_t nibble = 0;
    for (std::size_t i = 0; kPattern[i] != '\0'; ++i) {
        if (kPattern[i] != '.') {
            if (text[i] != kPattern[i]) return false;
            continue;
        }
        const int value = hex_digit(text[i]);
        if (value < 0) return false;
        bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] | (value << ((nibble % 2) != 0 ? 0 : 4)));
        ++nibble;
    }
    guid.Data1 = (static_cast<unsigned long>(bytes[0]) << 24) | (static_cast<unsigned long>(bytes[1]) << 16) |
                 (static_cast<unsigned long>(bytes[2]) << 8) | bytes[3];
    guid.Data2 = static_cast<unsigned short>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<unsigned short>((bytes[6] << 8) | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    return true;
}

// The interfaces of one class as SetupAPI lists them.
class SetupDeviceSet final : public DeviceInfoSet {
public:
    SetupDeviceSet(HDEVINFO set, const GUID &guid) : set_(set), guid_(guid) {}
    ~SetupDeviceSet() override { SetupDiDestroyDeviceInfoList(set_); }

    Enum enumerate(std::uint32_t index) override {
        SP_DEVICE_INTERFACE_DATA data{};
        if (interface_data(index, data)) return Enum::ok;
        return last_error() == ERROR_NO_MORE_ITEMS ? Enum::no_more_items : Enum::failed;
    }

    bool interface_path(std::uint32_t index, std::string &path) override {
        SP_DEVINFO_DATA device{};
        std::vector<std::byte> detail;
        if (!interface_detail(index, detail, device)) return false;
        path = win32::narrow(reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(detail.data())->DevicePath);
        return true;
    }

    bool device_description(std::uint32_t index, std::string &text) override {
        SP_DEVINFO_DATA device{};
        std::vector<std::byte> detail;
        if (!interface_detail(index, detail, device)) return false;
        DWORD size = 0;
        if (!SetupDiGetDeviceRegistryPropertyW(set_, &device, SPDRP_DEVICEDESC, nullptr, nullptr, 0, &size) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            win32::set_error_from_system();
            return false;
        }
        std::vector<wchar_t> buffer;
        if (!allocate(buffer, size / sizeof(wchar_t) + 1)) return false;
        if (!SetupDiGetDeviceRegistryPropertyW(set_, &device, SPDRP_DEVICEDESC, nullptr,
                                               reinterpret_cast<PBYTE>(buffer.data()),
                                               static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), nullptr)) {
            win32::set_error_from_system();
            return false;
        }
        buffer.back() = L'\0';
        text = win32::narrow(buffer.data());
        return true;
    }

private:
    template <typename T>
    static bool allocate(std::vector<T> &buffer, std::size_t count) {
        try {
            buffer.assign(count, T{});
            return true;
        } catch (const std::bad_alloc &) {
            set_last_error(kErrorNotEnoughMemory);
            return false;
        }
    }

    bool interface_data(std::uint32_t index, SP_DEVICE_INTERFACE_DATA &data) {
        data.cbSize = sizeof data;
        if (SetupDiEnumDeviceInterfaces(set_, nullptr, &guid_, index, &data)) return true;
        win32::set_error_from_system();
        return false;
    }

    // The interface detail (size query, allocation, read) and its device.
    bool interface_detail(std::uint32_t index, std::vector<std::byte> &detail, SP_DEVINFO_DATA &device) {
        SP_DEVICE_INTERFACE_DATA data{};
        if (!interface_data(index, data)) return false;
        DWORD size = 0;
        if (!SetupDiGetDeviceInterfaceDetailW(set_, &data, nullptr, 0, &size, nullptr) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            win32::set_error_from_system();
            return false;
        }
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) size = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        // Room for one more character, so the path always ends.
        if (!allocate(detail, size + sizeof(wchar_t))) return false;
        auto *record = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(detail.data());
        record->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        device.cbSize = sizeof device;
        if (!SetupDiGetDeviceInterfaceDetailW(set_, &data, record, size, nullptr, &device)) {
            win32::set_error_from_system();
            return false;
        }
        return true;
    }

    HDEVINFO set_;
    GUID guid_;
};

// The virtual board's pipe as the one interface of the board's class.
class VirtualBoardSet final : public DeviceInfoSet {
public:
    explicit VirtualBoardSet(std::string pipe) : pipe_(std::move(pipe)) {}
    Enum enumerate(std::uint32_t index) override {
        if (index == 0) return Enum::ok;
        set_last_error(kErrorNoMoreItems);
        return Enum::no_more_items;
    }
    bool interface_path(std::uint32_t index, std::string &path) override {
        if (enumerate(index) != Enum::ok) return false;
        path = pipe_;
        return true;
    }
    bool device_description(std::uint32_t index, std::string &text) override {
        if (enumerate(index) != Enum::ok) return false;
        text = kVirtualBoardDescription;
        return true;
    }

private:
    std::string pipe_;
};

// An open device: a driver handle, or the client end of a virtual board's
// pipe. Requests on one device are serialised.
struct DeviceObject {
    win32::UniqueHandle handle;
    bool pipe = false;
    bool broken = false;  // the exchange lost its framing; no further requests
    std::mutex exchange;
};

struct DeviceTable {
    std::mutex guard;
    std::unordered_map<DeviceHandle, std::shared_ptr<DeviceObject>> devices;
    DeviceHandle next = 1;
};

DeviceTable &devices() {
    static DeviceTable table;
    return table;
}

std::shared_ptr<DeviceObject> find_device(DeviceHandle device) {
    DeviceTable &table = devices();
    std::lock_guard lock(table.guard);
    const auto it = table.devices.find(device);
    return it == table.devices.end() ? nullptr : it->second;
}

bool write_all(HANDLE pipe, const void *data, std::uint32_t len) {
    const auto *at = static_cast<const unsigned char *>(data);
    while (len > 0) {
        DWORD moved = 0;
        if (!WriteFile(pipe, at, len, &moved, nullptr) || moved == 0) return false;
        at += moved;
        len -= moved;
    }
    return true;
}

bool read_all(HANDLE pipe, void *data, std::uint32_t len) {
    auto *at = static_cast<unsigned char *>(data);
    while (len > 0) {
        DWORD moved = 0;
        if (!ReadFile(pipe, at, len, &moved, nullptr)) return false;
        if (moved == 0) {
            SetLastError(ERROR_BROKEN_PIPE);
            return false;
        }
        at += moved;
        len -= moved;
    }
    return true;
}

bool drop_bytes(HANDLE pipe, std::uint32_t count) {
    unsigned char scratch[4096];
    while (count > 0) {
        const std::uint32_t step = std::min<std::uint32_t>(count, sizeof scratch);
        if (!read_all(pipe, scratch, step)) return false;
        count -= step;
    }
    return true;
}

// One request as an exchange over the virtual board's pipe.
bool pipe_request(DeviceObject &device, std::uint32_t code, const void *in, std::uint32_t in_len, void *out,
                  std::uint32_t out_len, std::uint32_t *returned) {
    std::lock_guard lock(device.exchange);
    if (device.broken) {
        set_last_error(kErrorBrokenPipe);
        return false;
    }
    const DeviceRequestHeader request{code, in_len, out_len};
    DeviceReplyHeader reply{};
    if (!write_all(device.handle.get(), &request, sizeof request) ||
        (in_len > 0 && !write_all(device.handle.get(), in, in_len)) ||
        !read_all(device.handle.get(), &reply, sizeof reply)) {
        win32::set_error_from_system();
        device.broken = true;
        return false;
    }
    // A request may report more bytes than the caller's buffer takes (the
    // parameter request reports 16 into no buffer at all): the caller keeps
    // what fits, the rest is read and dropped, and the count is the driver's.
    const std::uint32_t kept = std::min(reply.bytes_reported, out_len);
    const std::uint32_t excess = reply.bytes_reported - kept;
    if (excess > kMaxDroppedOutput) {
        set_last_error(win32::kErrorInvalidData);  // the stream cannot be trusted
        device.broken = true;
        return false;
    }
    if ((kept > 0 && !read_all(device.handle.get(), out, kept)) || !drop_bytes(device.handle.get(), excess)) {
        win32::set_error_from_system();
        device.broken = true;
        return false;
    }
    if (returned != nullptr) *returned = reply.bytes_reported;
    if (reply.status != 0) {
        set_last_error(static_cast<std::uint32_t>(reply.status));
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<DeviceInfoSet> detail::os_list_device_interfaces(const char *class_guid) {
    if (class_guid == nullptr) {
        set_last_error(kErrorInvalidParameter);
        return nullptr;
    }
    if (equal_ignoring_case(class_guid, kBoardInterfaceClass)) {
        std::optional<std::string> pipe = get_env(kVirtualBoardVariable);
        if (pipe && !pipe->empty()) return std::make_unique<VirtualBoardSet>(std::move(*pipe));
    }
    GUID guid{};
    if (!parse_guid(class_guid, guid)) {
        set_last_error(kErrorInvalidParameter);
        return nullptr;
    }
    HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        win32::set_error_from_system();
        return nullptr;
    }
    return std::make_unique<SetupDeviceSet>(set, guid);
}

DeviceHandle detail::os_open_device(const std::string &path) {
    const std::wstring wide = win32::widen(path);
    if (wide.empty()) {
        set_last_error(kErrorFileNotFound);
        return kInvalidDevice;
    }
    auto device = std::make_shared<DeviceObject>();
    device->handle = win32::open_pipe_client(wide, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!device->handle.valid()) return kInvalidDevice;
    device->pipe = GetFileType(device->handle.get()) == FILE_TYPE_PIPE;
    DeviceTable &table = devices();
    std::lock_guard lock(table.guard);
    const DeviceHandle handle = table.next++;
    table.devices.emplace(handle, std::move(device));
    return handle;
}

bool detail::os_device_io_control(DeviceHandle device, std::uint32_t code, const void *in, std::uint32_t in_len, void *out,
                       std::uint32_t out_len, std::uint32_t *returned) {
    if (returned != nullptr) *returned = 0;
    const std::shared_ptr<DeviceObject> object = find_device(device);
    if (!object) {
        set_last_error(kErrorInvalidHandle);
        return false;
    }
    if ((in == nullptr && in_len > 0) || (out == nullptr && out_len > 0) || in_len > kMaxExchangeInput) {
        set_last_error(kErrorInvalidParameter);
        return false;
    }
    if (object->pipe) return pipe_request(*object, code, in, in_len, out, out_len, returned);
    DWORD bytes = 0;
    const BOOL ok = DeviceIoControl(object->handle.get(), code, const_cast<void *>(in), in_len, out, out_len, &bytes,
                                    nullptr);
    if (returned != nullptr) *returned = bytes;
    if (!ok) win32::set_error_from_system();
    return ok != FALSE;
}

void detail::os_close_device(DeviceHandle device) {
    std::shared_ptr<DeviceObject> removed;
    DeviceTable &table = devices();
    std::lock_guard lock(table.guard);
    const auto it = table.devices.find(device);
    if (it == table.devices.end()) {
        set_last_error(kErrorInvalidHandle);
        return;
    }
    removed = std::move(it->second);  // closed when the last request on it ends
    table.devices.erase(it);
}

}  // namespace platform
