// The driver parameter and the driver version record.
#include <algorithm>
#include <cstring>

#include "boardport.h"
#include "driver.h"
#include "records.h"

using namespace boardport;

extern "C" BOARDPORT_API int QAX_CALL WDF_SetParameter(uint32_t /*id*/, uint64_t value) {
    if (!device_open()) {
        return kNotOpen;
    }
    WdfParameterRecord record{};
    record.value = value;
    std::uint32_t returned = 0;
    const bool ok = device_request(kReqParameter, &record, sizeof record, nullptr, 0, &returned);
    return ok && returned == sizeof record ? kOk : kLockOrRequest;
}

extern "C" BOARDPORT_API int QAX_CALL WDF_GetDriverVersion(char *name, size_t nameLen, void *version,
                                                           size_t versionLen, char *text, size_t textLen) {
    if (!device_open()) {
        return kNotOpen;
    }
    // A buffer is needed for every part asked for (a length above 0).
    if ((name == nullptr && nameLen > 0) || (version == nullptr && versionLen > 0) ||
        (text == nullptr && textLen > 0)) {
        return kLockOrRequest;
    }
    WdfDriverVersionRecord record{};
    std::uint32_t returned = 0;
    const bool ok = device_request(kReqDriverVersion, nullptr, 0, &record, sizeof record, &returned);
    if (!ok || returned != sizeof record) {
        return kLockOrRequest;
    }
    if (version != nullptr) {
        std::memcpy(version, record.version, std::min(versionLen, sizeof record.version));
    }
    if (name != nullptr) {
        std::memcpy(name, record.name, std::min(nameLen, sizeof record.name));
    }
    if (text != nullptr) {
        std::memcpy(text, record.text, std::min(textLen, sizeof record.text));
    }
    return kOk;
}
