// Mutex objects. Unnamed ones are local to the process; a named one is a
// robust, process-shared, recursive pthread mutex in POSIX shared memory, so
// that a holder's death is seen as abandonment by the next waiter.
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

#include "local_mutex.h"
#include "posix_internal.h"
#include "shm_name.h"

namespace platform::detail {
namespace {
constexpr std::uint32_t kBlockReady = 0x51A3D001;  // layout version 1 initialised
constexpr mode_t kObjectMode = 0600;
constexpr long kNanosPerSecond = 1'000'000'000;
constexpr long kNanosPerMilli = 1'000'000;

struct SharedMutexBlock {
    std::atomic<std::uint32_t> ready;
    std::uint32_t reserved;
    pthread_mutex_t mutex;
};

// Who has a shared object open is kept on the object itself, as locks of
// its open file descriptions: every opener holds a shared lock on
// kOpenersByte for as long as it has the object open, and openers and
// closers take kGuardByte exclusively while they open or close. A closer that
// can then lock kOpenersByte exclusively is the last one and removes the
// name, as Windows drops a named mutex with its last handle. The kernel drops
// the locks of a process that dies, so an opener that never closes does not
// keep the object alive for ever: the next last closer removes it.
constexpr off_t kGuardByte = 0;
constexpr off_t kOpenersByte = 1;

bool lock_byte(int fd, off_t byte, short type, bool wait) {
    struct flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    while (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// One mapping of each shared object per process, shared by all its handles
// (every thread locks the mutex at the same address). It is given up when
// the last handle is closed while no thread of this process owns the mutex;
// otherwise it is kept until the process ends, so that the owner's death
// still marks the mutex abandoned. Which thread owns it, and how often, is
// kept here.
struct SharedMapping {
    std::string name;
    SharedMutexBlock *block = nullptr;
    posix::UniqueFd object;  // holds this opener's lock on kOpenersByte
    pid_t opener = 0;        // a forked child must not give up its parent's mapping
    std::uint32_t handles = 0;  // guarded by Mappings::guard
    std::mutex owner_guard;
    std::thread::id owner;
    std::uint32_t depth = 0;
};

struct Mappings {
    std::mutex guard;
    std::map<std::string, std::unique_ptr<SharedMapping>> by_name;
};

// Never destroyed: a thread left running at exit may still use a mutex.
Mappings &mappings() {
    static Mappings *instance = new Mappings;
    return *instance;
}

std::string object_name(const std::string &run_dir, const char *name) {
    std::string part(name);
    if (part.size() > posix::kMaxMutexNameInObject) {
        part = "h" + std::to_string(posix::name_hash(part));
    }
    for (char &c : part) {
        if (c == '/') c = '_';
    }
    return "/" + posix::shm_object_prefix(static_cast<unsigned long>(getuid()), run_dir) + part;
}

bool init_block(SharedMutexBlock *block) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0;
    int error = ok ? pthread_mutex_init(&block->mutex, &attributes) : EINVAL;
    pthread_mutexattr_destroy(&attributes);
    if (error != 0) {
        errno = error;
        return false;
    }
    block->ready.store(kBlockReady, std::memory_order_release);
    return true;
}

// Sizes, maps and when needed initialises the object, holding its guard:
// of two processes only one initialises it and the other never sees it half
// made. nullptr with errno set on failure.
SharedMutexBlock *map_block(int fd) {
    struct stat info{};
    if (fstat(fd, &info) != 0) return nullptr;
    if (static_cast<std::size_t>(info.st_size) < sizeof(SharedMutexBlock) &&
        ftruncate(fd, static_cast<off_t>(sizeof(SharedMutexBlock))) != 0) {
        return nullptr;
    }
    void *address = mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) return nullptr;
    auto *block = static_cast<SharedMutexBlock *>(address);
    if (block->ready.load(std::memory_order_acquire) != kBlockReady && !init_block(block)) {
        const int error = errno;
        munmap(address, sizeof(SharedMutexBlock));
        errno = error;
        return nullptr;
    }
    return block;
}

// Opens or creates the shared object and registers this opener on it.
std::unique_ptr<SharedMapping> open_mapping(const std::string &name) {
    for (;;) {
        posix::UniqueFd object(shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kObjectMode));
        if (!object.valid() || !lock_byte(object.get(), kGuardByte, F_WRLCK, true)) return nullptr;
        struct stat info{};
        if (fstat(object.get(), &info) != 0) return nullptr;
        // The last closer removed the name after this open: open it afresh.
        if (info.st_nlink == 0) continue;
        SharedMutexBlock *block = map_block(object.get());
        if (block == nullptr || !lock_byte(object.get(), kOpenersByte, F_RDLCK, false)) {
            const int error = errno;
            if (block != nullptr) munmap(block, sizeof(SharedMutexBlock));
            errno = error;
            return nullptr;
        }
        lock_byte(object.get(), kGuardByte, F_UNLCK, false);
        auto mapping = std::make_unique<SharedMapping>();
        mapping->name = name;
        mapping->block = block;
        mapping->object = std::move(object);
        mapping->opener = getpid();
        return mapping;
    }
}

// Drops this opener's registration and removes the name when no other
// opener is left. The memory stays mapped when `unmap` is false.
void leave_mapping(SharedMapping &mapping, bool unmap) {
    const int fd = mapping.object.get();
    if (fd < 0 || mapping.opener != getpid()) return;
    if (lock_byte(fd, kGuardByte, F_WRLCK, true)) {
        lock_byte(fd, kOpenersByte, F_UNLCK, false);
        struct stat info{};
        if (lock_byte(fd, kOpenersByte, F_WRLCK, false) && fstat(fd, &info) == 0 && info.st_nlink > 0) {
            shm_unlink(mapping.name.c_str());
        }
    }
    if (unmap) {
        munmap(mapping.block, sizeof(SharedMutexBlock));
        mapping.block = nullptr;
    }
    mapping.object.reset();  // drops every lock it holds
}

// At exit every mapping of this process is given up, as the OS closes the
// handles of a Windows process; the memory stays for threads still running.
void leave_all_at_exit() {
    Mappings &known = mappings();
    std::lock_guard lock(known.guard);
    for (auto &[name, mapping] : known.by_name) leave_mapping(*mapping, false);
}

// Called with Mappings::guard held, when a handle of `mapping` goes.
void handle_closed(Mappings &known, SharedMapping *mapping) {
    if (--mapping->handles > 0 || mapping->opener != getpid()) return;
    {
        std::lock_guard owner(mapping->owner_guard);
        if (mapping->depth > 0) return;  // owned: kept, see SharedMapping
    }
    leave_mapping(*mapping, true);
    const auto it = known.by_name.find(mapping->name);
    if (it != known.by_name.end() && it->second.get() == mapping) known.by_name.erase(it);
}

timespec deadline_after(std::uint32_t ms) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * kNanosPerMilli;
    if (deadline.tv_nsec >= kNanosPerSecond) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= kNanosPerSecond;
    }
    return deadline;
}

WaitResult wait_result(int error) {
    switch (error) {
    case 0:
        return WaitResult::obtained;
    case EOWNERDEAD:
        return WaitResult::abandoned;
    case ETIMEDOUT:
    case EBUSY:
        return WaitResult::timed_out;
    default:
        posix::set_error_from_errno(error);
        return WaitResult::failed;
    }
}

// One handle's object. Made and destroyed with Mappings::guard free; the
// handle count of its mapping is changed under it.
class NamedMutex final : public MutexObject {
public:
    explicit NamedMutex(SharedMapping *mapping) : mapping_(mapping) {}
    ~NamedMutex() override {
        Mappings &known = mappings();
        std::lock_guard lock(known.guard);
        handle_closed(known, mapping_);
    }

    WaitResult wait(std::uint32_t real_timeout_ms) override {
        pthread_mutex_t *mutex = &mapping_->block->mutex;
        // A free or abandoned mutex is taken by the first try, which also
        // tells thread-checking tools about an abandoned one.
        int error = pthread_mutex_trylock(mutex);
        if (error == EBUSY && real_timeout_ms > 0) {
            if (real_timeout_ms == kInfinite) {
                error = pthread_mutex_lock(mutex);
            } else {
                const timespec deadline = deadline_after(real_timeout_ms);
                error = pthread_mutex_timedlock(mutex, &deadline);
            }
        }
        const WaitResult result = wait_result(error);
        if (result == WaitResult::abandoned) {
            // The owner died holding it: this waiter owns it now.
            pthread_mutex_consistent(mutex);
        }
        if (result == WaitResult::obtained || result == WaitResult::abandoned) {
            std::lock_guard lock(mapping_->owner_guard);
            const std::thread::id self = std::this_thread::get_id();
            mapping_->depth = (result == WaitResult::obtained && mapping_->owner == self) ? mapping_->depth + 1 : 1;
            mapping_->owner = self;
        }
        return result;
    }

    bool release() override {
        {
            // Only the owner unlocks: the pthread call is never made for another thread.
            std::lock_guard lock(mapping_->owner_guard);
            if (mapping_->depth == 0 || mapping_->owner != std::this_thread::get_id()) {
                set_last_error(kErrorNotOwner);
                return false;
            }
            if (--mapping_->depth == 0) mapping_->owner = std::thread::id();
        }
        const int error = pthread_mutex_unlock(&mapping_->block->mutex);
        if (error == 0) return true;
        set_last_error(error == EPERM ? kErrorNotOwner : posix::error_from_errno(error));
        return false;
    }

private:
    SharedMapping *mapping_;
};
}  // namespace

std::shared_ptr<MutexObject> make_unnamed_mutex() { return std::make_shared<LocalMutex>(); }

std::shared_ptr<MutexObject> make_named_mutex(const char *name) {
    const std::string object = object_name(run_directory(), name);

    Mappings &known = mappings();
    SharedMapping *mapping = nullptr;
    {
        std::lock_guard lock(known.guard);
        static const bool leaves_at_exit = std::atexit(leave_all_at_exit) == 0;
        (void)leaves_at_exit;
        std::unique_ptr<SharedMapping> &slot = known.by_name[object];
        if (!slot) {
            slot = open_mapping(object);
            if (!slot) {
                posix::set_error_from_errno();
                known.by_name.erase(object);
                return nullptr;
            }
        }
        mapping = slot.get();
        ++mapping->handles;
    }
    try {
        return std::make_shared<NamedMutex>(mapping);
    } catch (...) {
        std::lock_guard lock(known.guard);
        handle_closed(known, mapping);
        set_last_error(kErrorNotEnoughMemory);
        return nullptr;
    }
}

}  // namespace platform::detail
