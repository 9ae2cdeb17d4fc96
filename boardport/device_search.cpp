// The device search, with the messages it prints on standard output.
#include "device_search.h"

#include <cstdio>

#include "constants.h"

namespace boardport {
namespace {

void print_failure(const char *format) {
    const std::uint32_t error = platform::last_error();
    if (error == platform::kErrorNotEnoughMemory) {
        std::fputs(kTextNoMemory, stdout);
    } else {
        std::printf(format, static_cast<unsigned>(error));
    }
    std::fflush(stdout);
}

}  // namespace

void forget_search(DriverState &state) {
    state.device_info.reset();
    state.device_path.clear();
    state.device_path.shrink_to_fit();
}

bool search_device(DriverState &state) {
    forget_search(state);
    std::unique_ptr<platform::DeviceInfoSet> set = platform::list_device_interfaces(platform::kBoardInterfaceClass);
    if (!set) {
        std::fputs(kTextNoDevices, stdout);
        std::fflush(stdout);
        return false;
    }
    std::uint32_t index = 0;
    for (;; ++index) {
        const platform::DeviceInfoSet::Enum listed = set->enumerate(index);
        if (listed == platform::DeviceInfoSet::Enum::no_more_items) {
            break;
        }
        if (listed == platform::DeviceInfoSet::Enum::failed) {
            print_failure(kTextEnumFailed);
            return false;
        }
        // Each interface's detail and description are read and dropped.
        std::string path;
        if (!set->interface_path(index, path)) {
            print_failure(kTextDetailFailed);
            return false;
        }
        std::string description;
        if (!set->device_description(index, description)) {
            print_failure(kTextPropertyFailed);
            return false;
        }
    }
    if (index == 0) {
        std::fputs(kTextNoDevices, stdout);
        std::fflush(stdout);
        return false;
    }
    // The first board found is always the one opened.
    std::string first_path;
    if (!set->interface_path(0, first_path)) {
        print_failure(kTextDetailFailed);
        return false;
    }
    state.device_info = std::move(set);
    state.device_path = std::move(first_path);
    return true;
}

}  // namespace boardport
