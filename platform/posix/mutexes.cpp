// Mutex objects. Unnamed ones are local to the process; a named one is a
// robust, process-shared, recursive pthread mutex in POSIX shared memory, so
// that a holder's death is seen as abandonment by the next waiter.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

// One mapping of each shared object per process, shared by all its handles
// (every thread locks the mutex at the same address) and kept until the
// process ends: a thread may still own the mutex after closing its handle,
// and its death must then still mark the mutex abandoned.
// Which thread of this process owns it, and how often.
struct SharedMapping {
    SharedMutexBlock *block = nullptr;
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

// Opens or creates the shared object. Every opener holds a file lock on the
// object while it checks and, when needed, sizes and initialises it: of two
// processes only one initialises it, the other never sees it half made, and
// a process that dies meanwhile drops the lock with it.
SharedMutexBlock *map_object(const std::string &name) {
    posix::UniqueFd object(shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kObjectMode));
    if (!object.valid()) return nullptr;
    while (flock(object.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return nullptr;
    }
    // The mapping keeps the open file alive, so closing would not drop the lock.
    struct Unlock {
        int fd;
        ~Unlock() { flock(fd, LOCK_UN); }
    } unlock{object.get()};
    struct stat info{};
    if (fstat(object.get(), &info) != 0) return nullptr;
    if (static_cast<std::size_t>(info.st_size) < sizeof(SharedMutexBlock) &&
        ftruncate(object.get(), static_cast<off_t>(sizeof(SharedMutexBlock))) != 0) {
        return nullptr;
    }
    void *address = mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, object.get(), 0);
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

class NamedMutex final : public MutexObject {
public:
    explicit NamedMutex(SharedMapping *mapping) : mapping_(mapping) {}

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
    std::lock_guard lock(known.guard);
    std::unique_ptr<SharedMapping> &mapping = known.by_name[object];
    if (!mapping) {
        SharedMutexBlock *block = map_object(object);
        if (block == nullptr) {
            posix::set_error_from_errno();
            known.by_name.erase(object);
            return nullptr;
        }
        mapping = std::make_unique<SharedMapping>();
        mapping->block = block;
    }
    return std::make_shared<NamedMutex>(mapping.get());
}

}  // namespace platform::detail
