// Single and block register access.
#include <cstring>
#include <memory>
#include <new>

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

// The block record is 98 KB: one per thread, reused, zero-filled before each use.
WdfMultiRegRecord *block_record() {
    thread_local std::unique_ptr<WdfMultiRegRecord> record;
    if (!record) {
        record.reset(new (std::nothrow) WdfMultiRegRecord);
    }
    if (record) {
        std::memset(record.get(), 0, sizeof(WdfMultiRegRecord));
    }
    return record.get();
}

enum class Direction { read, write };

// One block request of `count` (1..limit) registers of `width` bytes each.
int block_request(std::uint32_t code, Direction direction, const std::uint32_t *indices, void *read_values,
                  const void *write_values, int count, std::size_t width) {
    const std::size_t entries = static_cast<std::size_t>(count);
    if (indices == nullptr || (direction == Direction::read ? read_values == nullptr : write_values == nullptr)) {
        return kRegisterFailed;
    }
    WdfMultiRegRecord *record = block_record();
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
