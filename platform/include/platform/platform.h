// The operating-system layer. The libraries of the stack call these
// functions instead of the OS, so that the same code runs on Windows and
// POSIX and so that tests can drive time through the clock seam.
//
// Error numbers: a failing call sets the calling thread's last error. The
// numbers the libraries test for are the ones below, on every OS; any other
// value is the OS's own error number and is only printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// ---------------------------------------------------------------- errors

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorBrokenPipe = 109;
inline constexpr std::uint32_t kErrorSemTimeout = 121;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorNotOwner = 288;  // release of a mutex not owned
inline constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kErrorServiceExists = 1073;

std::uint32_t last_error();
void set_last_error(std::uint32_t error);

// ---------------------------------------------------------------- clock seam

// Time as the libraries see it. The system clock is used unless a test
// installs its own; a test clock can make sleeps and bounded lock waits
// return at once while its own time moves on.
class Clock {
public:
    virtual ~Clock() = default;
    // Performance counter and its frequency (ticks per second, never 0 for
    // a working clock).
    virtual std::uint64_t counter() = 0;
    virtual std::uint64_t counter_frequency() = 0;
    virtual void sleep_ms(std::uint32_t ms) = 0;
    // The real time a bounded lock wait of `requested` ms may block. A test
    // clock shortens long waits; it is told the whole requested time passed
    // when such a wait times out.
    virtual std::uint32_t lock_wait_ms(std::uint32_t requested) { return requested; }
    virtual void lock_wait_timed_out(std::uint32_t /*requested*/) {}
    // The real time a device exchange waits for its device to make progress
    // (POSIX), likewise shortened by a test clock and reported when it ran out.
    virtual std::uint32_t io_wait_ms(std::uint32_t requested) { return requested; }
    virtual void io_wait_timed_out(std::uint32_t /*requested*/) {}
};

// Installs `clock` for the whole process (nullptr: the system clock again).
// The caller keeps ownership and must keep it alive while installed.
void set_clock(Clock *clock);
Clock &clock();

void sleep_ms(std::uint32_t ms);
std::uint64_t performance_counter();
std::uint64_t performance_frequency();

// ---------------------------------------------------------------- mutexes

enum class WaitResult { obtained, abandoned, timed_out, failed };

// A mutex handle; 0 is never a valid handle. Mutexes are recursive and owned
// by the thread that obtained them, as on Windows. A wait or release on a
// handle that was closed (or never valid) fails with kErrorInvalidHandle and
// never crashes, even when another thread closes it meanwhile.
using MutexHandle = std::uint64_t;
inline constexpr MutexHandle kNoMutex = 0;
// A wait time without limit.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

// An unnamed mutex of this process. 0 on failure.
MutexHandle create_mutex();
// The mutex `name` shared by every process of the user (POSIX: of the user
// and the run directory, so that tests with their own run directories do not
// share it): created when it does not exist, opened otherwise. A holder that dies leaves it abandoned: the
// next wait obtains it and reports `abandoned`. 0 on failure.
MutexHandle create_named_mutex(const char *name);
// Waits at most timeout_ms (through the clock's lock_wait_ms; kInfinite
// waits without limit and bypasses the clock).
WaitResult wait_mutex(MutexHandle mutex, std::uint32_t timeout_ms);
// false with kErrorNotOwner when the calling thread does not own it.
bool release_mutex(MutexHandle mutex);
void close_mutex(MutexHandle mutex);

// ---------------------------------------------------------------- threads

class Thread {
public:
    virtual ~Thread() = default;  // joins when still joinable
    virtual void join() = 0;
};
// Starts `body` on a new thread, at the highest priority when `time_critical`
// (a failure to raise the priority is ignored). nullptr when no thread could
// be started.
std::unique_ptr<Thread> start_thread(std::function<void()> body, bool time_critical);

// ---------------------------------------------------------------- process

std::uint32_t process_id();
// Full path of the running executable ("" when unknown).
std::string executable_path();
std::optional<std::string> get_env(const char *name);
bool file_exists(const std::string &path);
// POSIX: $QAX_RUN_DIR or /tmp/qax-<uid>, created with mode 0700. Windows: "".
std::string run_directory();
// The name under which the system knows the named object `name` (a mutex, a
// pipe "\\.\Pipe\NAME", a service). POSIX: `name` (the run directory keeps
// runs apart). Windows: `name` itself, or, while QAX_RUN_DIR names a run
// directory (tests), `name` with a suffix made from that directory, so that
// runs side by side do not share "SyncMutex", the server's pipe or its service.
std::string scoped_object_name(const std::string &name);

// ---------------------------------------------------------------- devices

// The board's device-interface class.
inline constexpr char kBoardInterfaceClass[] = "{3C5E8A21-9B47-4D10-A6F2-7E18C04B93D5}";

// A listed set of the present device interfaces of one class, as by SetupAPI.
class DeviceInfoSet {
public:
    virtual ~DeviceInfoSet() = default;
    enum class Enum { ok, no_more_items, failed };
    // Whether interface `index` exists (failed: last error set).
    virtual Enum enumerate(std::uint32_t index) = 0;
    // The device path of interface `index` (false: last error set;
    // kErrorNotEnoughMemory when the detail could not be allocated).
    virtual bool interface_path(std::uint32_t index, std::string &path) = 0;
    // The device-description property of interface `index`.
    virtual bool device_description(std::uint32_t index, std::string &text) = 0;
};
// nullptr when the class cannot be listed (last error set).
std::unique_ptr<DeviceInfoSet> list_device_interfaces(const char *class_guid);

// A device handle; 0 and kInvalidDevice are never valid.
using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kInvalidDevice = -1;
inline constexpr std::uint32_t kDeviceProgressLimitMs = 3000;

// Opens a device path for reading and writing, shared, open-existing.
// kInvalidDevice on failure, last error kErrorAccessDenied when refused.
DeviceHandle open_device(const std::string &path);
// One buffered I/O-control request. true when the request succeeded; the
// bytes the driver reported go to *returned either way (0 when nothing came
// back). A failure sets the last error to the driver's error number.
// POSIX: the exchange fails with kErrorSemTimeout when the device makes no
// progress for kDeviceProgressLimitMs (through the clock's io_wait_ms); after
// a broken exchange (time-out, hang-up, a reply out of step) the connection
// is dropped, and the next request connects to the device again.
bool device_io_control(DeviceHandle device, std::uint32_t code, const void *in, std::uint32_t in_len,
                       void *out, std::uint32_t out_len, std::uint32_t *returned);
void close_device(DeviceHandle device);

// ---------------------------------------------------------------- device seam

// The device interfaces as the libraries see them: the OS's (above) unless a
// program installs its own, e.g. a board answering each request at once in
// the calling process. Installed devices get every call of the four
// functions above, with their meaning and their error numbers.
class Devices {
public:
    virtual ~Devices() = default;
    virtual std::unique_ptr<DeviceInfoSet> list(const char *class_guid) = 0;
    virtual DeviceHandle open(const std::string &path) = 0;
    virtual bool io_control(DeviceHandle device, std::uint32_t code, const void *in, std::uint32_t in_len, void *out,
                            std::uint32_t out_len, std::uint32_t *returned) = 0;
    virtual void close(DeviceHandle device) = 0;
};

// Installs `devices` for the whole process (nullptr: the OS's again). The
// caller keeps ownership and keeps it alive while installed; install it
// before the libraries open a device and remove it after they closed it,
// since a handle belongs to the devices that opened it.
void set_devices(Devices *devices);

// ---------------------------------------------------------------- services

// Service states as the service manager reports them.
enum ServiceState : std::uint32_t {
    kServiceStopped = 1,
    kServiceStartPending = 2,
    kServiceStopPending = 3,
    kServiceRunning = 4,
};

class Service {
public:
    virtual ~Service() = default;  // closes the handle
    virtual bool query_state(std::uint32_t &state) = 0;
    // Starts the service with no arguments.
    virtual bool start() = 0;
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;  // closes the handle
    // nullptr with last error kErrorServiceDoesNotExist when not installed.
    virtual std::unique_ptr<Service> open(const char *name) = 0;
    // Installs `name` to start automatically in its own process under the
    // local system account. nullptr on failure (last error set).
    virtual std::unique_ptr<Service> create(const char *name, const char *display_name,
                                            const char *executable_path) = 0;
};
// Opens the service manager with full access; nullptr on failure.
std::unique_ptr<ServiceManager> open_service_manager();

// ---------------------------------------------------------------- pipes

// A connected byte stream: a client of a named pipe or a device socket, or a
// server's side of one connection.
class Stream {
public:
    virtual ~Stream() = default;  // closes
    // Writes or reads exactly `len` bytes, completing short transfers. false
    // on failure or end of stream (last error set); *done gets what moved.
    virtual bool write(const void *data, std::uint32_t len, std::uint32_t *done) = 0;
    virtual bool read(void *data, std::uint32_t len, std::uint32_t *done) = 0;
};

// Pipe names are "\\.\Pipe\NAME"; on POSIX the Unix socket
// run_directory()/pipe/NAME.
// Waits until the pipe has a listener, at most timeout_ms. false on time-out
// (kErrorSemTimeout) or failure. POSIX: polls through the clock's sleep; a
// listener sees each probe as a connection that closes at once.
bool wait_named_pipe(const char *name, std::uint32_t timeout_ms);
// Opens the pipe for reading and writing; nullptr on failure.
std::unique_ptr<Stream> open_named_pipe(const char *name);

// The server side of a pipe (used by the stand-in programs).
class StreamListener {
public:
    virtual ~StreamListener() = default;
    // Blocks until a client connects; nullptr once closed or on failure.
    virtual std::unique_ptr<Stream> accept() = 0;
    // Makes a pending and every later accept return nullptr.
    virtual void close() = 0;
};
// Listens on the pipe `name` ("\\.\Pipe\NAME").
std::unique_ptr<StreamListener> listen_named_pipe(const char *name);
// Listens on a Unix socket at `path` (POSIX), or on the named pipe `path`
// (Windows); used for device interfaces of the virtual board.
std::unique_ptr<StreamListener> listen_stream(const std::string &path);

}  // namespace platform
