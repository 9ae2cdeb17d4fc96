// The mutex handles. A handle is a never-reused number looking up a shared
// object, so a stale handle fails cleanly and a wait that is under way keeps
// its object alive while another thread closes the handle.
#include <mutex>
#include <unordered_map>

#include "platform_internal.h"

namespace platform {
namespace {

struct MutexTable {
    std::mutex guard;
    std::unordered_map<MutexHandle, std::shared_ptr<detail::MutexObject>> objects;
    MutexHandle next = 1;
};

// Never destroyed: a thread left running at exit may still use a handle.
MutexTable &table() {
    static MutexTable *instance = new MutexTable;
    return *instance;
}

MutexHandle add(std::shared_ptr<detail::MutexObject> object) {
    if (!object) return kNoMutex;
    MutexTable &t = table();
    std::lock_guard lock(t.guard);
    const MutexHandle handle = t.next++;
    t.objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<detail::MutexObject> find(MutexHandle handle) {
    MutexTable &t = table();
    std::lock_guard lock(t.guard);
    auto it = t.objects.find(handle);
    if (it == t.objects.end()) return nullptr;
    return it->second;
}

}  // namespace

MutexHandle create_mutex() { return add(detail::make_unnamed_mutex()); }

MutexHandle create_named_mutex(const char *name) {
    if (name == nullptr || *name == '\0') {
        set_last_error(kErrorInvalidParameter);
        return kNoMutex;
    }
    return add(detail::make_named_mutex(name));
}

WaitResult wait_mutex(MutexHandle mutex, std::uint32_t timeout_ms) {
    std::shared_ptr<detail::MutexObject> object = find(mutex);
    if (!object) {
        set_last_error(kErrorInvalidHandle);
        return WaitResult::failed;
    }
    if (timeout_ms == kInfinite) return object->wait(kInfinite);
    Clock &time = clock();
    std::uint32_t real = time.lock_wait_ms(timeout_ms);
    if (real == kInfinite) real = kInfinite - 1;  // a bounded wait stays bounded
    const WaitResult result = object->wait(real);
    if (result == WaitResult::timed_out) time.lock_wait_timed_out(timeout_ms);
    return result;
}

bool release_mutex(MutexHandle mutex) {
    std::shared_ptr<detail::MutexObject> object = find(mutex);
    if (!object) {
        set_last_error(kErrorInvalidHandle);
        return false;
    }
    return object->release();
}

void close_mutex(MutexHandle mutex) {
    std::shared_ptr<detail::MutexObject> removed;
    {
        MutexTable &t = table();
        std::lock_guard lock(t.guard);
        auto it = t.objects.find(mutex);
        if (it == t.objects.end()) {
            set_last_error(kErrorInvalidHandle);
            return;
        }
        removed = std::move(it->second);
        t.objects.erase(it);
    }
    // The object goes when the last wait on it has returned.
}

}  // namespace platform
