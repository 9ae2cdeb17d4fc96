// Single and block register access.
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "boardport.h"
#include "driver.h"
#include "records.h"

namespace boardport {
namespace {

int single_request(std::uint32_t code, WdfRegRecord &record) {
    std::uint32_t returned = 0;
    const bool ok = device_request(code, &record, sizeof record, &record, sizeof record, &returned);
    if (!ok) {
        // Whatever the driver left in a failed record is not a value.
        record.value = 0;
        return kRegisterFailed;
    }
    return returned == sizeof record ? kOk : kRegisterFailed;
}

// The block record is 98 KB: records are kept for reuse, one per request in
// flight, and zero-filled before each use. They are shared through a pool,
// not held per thread: a thread_local object with a destructor in a DLL is
// destroyed at thread exit after the runtime has freed its storage (MinGW),
// so a thread that had made block requests freed a stale pointer when it
// ended and corrupted the heap.
class BlockRecordLease {
public:
    BlockRecordLease() {
        {
            std::lock_guard lock(pool_lock());
            if (!pool().empty()) {
                record_ = std::move(pool().back());
                pool().pop_back();
            }
        }
        if (!record_) {
            record_.reset(new (std::nothrow) WdfMultiRegRecord);
        }
        if (record_) {
            std::memset(record_.get(), 0, sizeof(WdfMultiRegRecord));
        }
    }
    ~BlockRecordLease() {
        if (!record_) {
            return;
        }
        std::lock_guard lock(pool_lock());
        try {
            pool().push_back(std::move(record_));
        } catch (const std::bad_alloc &) {
            // No room to keep it: the record is freed with the lease.
        }
    }
    BlockRecordLease(const BlockRecordLease &) = delete;
    BlockRecordLease &operator=(const BlockRecordLease &) = delete;

    WdfMultiRegRecord *get() const { return record_.get(); }

private:
    static std::mutex &pool_lock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<std::unique_ptr<WdfMultiRegRecord>> &pool() {
        static std::vector<std::unique_ptr<WdfMultiRegRecord>> records;
        return records;
    }

    std::unique_ptr<WdfMultiRegRecord> record_;
};

enum class Direction { read, write };

// One block request of `count` (1..limit) registers of `width` bytes each.
int block_request(std::uint32_t code, Direction direction, const std::uint32_t *indices, void *read_values,
                  const void *write_values, int count, std::size_t width) {
    const std::size_t entries = static_cast<std::size_t>(count);
    if (indices == nullptr || (direction == Direction::read ? read_values == nullptr : write_values == nullptr)) {
        return kRegisterFailed;
    }
    const BlockRecordLease lease;
    WdfMultiRegRecord *record = lease.get();
    if (record == nullptr) {
        return kRegisterFailed;
    }
    std::memcpy(record->indices, indices, entries * sizeof(std::uint32_t));
    if (direction == Direction::write) {
        std::memcpy(record->values, write_values, entries * width);
    }
    record->count = count;
    std::uint32_t returned = 0;
    const bool ok = device_request(code, record, sizeof(WdfMultiRegRecord), record, sizeof(WdfMultiRegRecord),
                                   &returned);
    if (!ok || returned != sizeof(WdfMultiRegRecord)) {
        return kRegisterFailed;
    }
    if (direction == Direction::read) {
        std::memcpy(read_values, record->values, entries * width);
    }
    return kOk;
}

// The 32-bit forms test the device before the count; the 64-bit forms the
// count before anything else.
int block32(std::uint32_t code, Direction direction, const std::uint32_t *indices, void *read_values,
            const void *write_values, int count) {
    if (!device_open()) {
        return kNotOpen;
    }
    if (count > kMaxBlock32) {
        return kLockOrRequest;
    }
    if (count <= 0) {
        return kOk;  // nothing to move
    }
    return block_request(code, direction, indices, read_values, write_values, count, sizeof(std::uint32_t));
}

int block64(std::uint32_t code, Direction direction, const std::uint32_t *indices, void *read_values,
            const void *write_values, int count) {
    if (count > kMaxBlock64) {
        return kLockOrRequest;
    }
    if (!device_open()) {
        return kNotOpen;
    }
    if (count <= 0) {
        return kOk;
    }
    return block_request(code, direction, indices, read_values, write_values, count, sizeof(std::uint64_t));
}

}  // namespace
}  // namespace boardport

using namespace boardport;

extern "C" BOARDPORT_API int QAX_CALL WDF_ReadRegister32(uint32_t index, uint32_t *value) {
    if (!device_open()) {
        return kNotOpen;
    }
    if (value == nullptr) {
        return kRegisterFailed;  // nowhere to put the value: nothing is asked
    }
    return with_sync_lock([&] {
        WdfRegRecord record{index, 0, 0};
        const int result = single_request(kReqRead32, record);
        *value = static_cast<std::uint32_t>(record.value);
        return result;
    });
}

extern "C" BOARDPORT_API int QAX_CALL WDF_WriteRegister32(uint32_t index, const uint32_t *value) {
    if (!device_open()) {
        return kNotOpen;
    }
    if (value == nullptr) {
        return kRegisterFailed;
    }
    return with_sync_lock([&] {
        WdfRegRecord record{index, 0, *value};
        return single_request(kReqWrite32, record);
    });
}

extern "C" BOARDPORT_API int QAX_CALL WDF_ReadRegister64(uint32_t index, uint64_t *value) {
    if (!device_open()) {
        return kNotOpen;
    }
    if (value == nullptr) {
        return kRegisterFailed;
    }
    WdfRegRecord record{index, 0, 0};
    const int result = single_request(kReqRead64, record);
    *value = record.value;
    return result;
}

extern "C" BOARDPORT_API int QAX_CALL WDF_WriteRegister64(uint32_t index, const uint64_t *value) {
    if (!device_open()) {
        return kNotOpen;
    }
    if (value == nullptr) {
        return kRegisterFailed;
    }
    WdfRegRecord record{index, 0, *value};
    return single_request(kReqWrite64, record);
}

extern "C" BOARDPORT_API int QAX_CALL WDF_ReadMultiRegister32(const uint32_t *indices, uint32_t *values, int count) {
    return block32(kReqReadBlock32, Direction::read, indices, values, nullptr, count);
}

extern "C" BOARDPORT_API int QAX_CALL WDF_WriteMultiRegister32(const uint32_t *indices, const uint32_t *values,
                                                               int count) {
    return block32(kReqWriteBlock32, Direction::write, indices, nullptr, values, count);
}

extern "C" BOARDPORT_API int QAX_CALL WDF_ReadMultiRegister64(const uint32_t *indices, uint64_t *values, int count) {
    return block64(kReqReadBlock64, Direction::read, indices, values, nullptr, count);
}

extern "C" BOARDPORT_API int QAX_CALL WDF_WriteMultiRegister64(const uint32_t *indices, const uint64_t *values,
                                                               int count) {
    return block64(kReqWriteBlock64, Direction::write, indices, nullptr, values, count);
}
