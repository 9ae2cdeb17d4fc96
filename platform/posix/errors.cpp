// errno -> the platform's error numbers. The values the libraries test for
// get their own numbers; any other errno passes as it is, unless it would
// read as one of those.
#include <cerrno>

#include "posix_internal.h"

namespace platform::posix {
namespace {
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorFilenameTooLong = 206;
constexpr std::uint32_t kErrorPipeBusy = 231;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorNoData = 232;

bool collides(std::uint32_t value) {
    switch (value) {
    case kErrorSuccess: case kErrorFileNotFound: case kErrorAccessDenied: case kErrorInvalidHandle:
    case kErrorNotEnoughMemory: case kErrorInvalidParameter: case kErrorBrokenPipe:
    case kErrorSemTimeout: case kErrorNoMoreItems: case kErrorNotOwner:
    case kErrorServiceAlreadyRunning: case kErrorServiceDoesNotExist: case kErrorServiceExists:
    case kErrorGenFailure: case kErrorDiskFull: case kErrorTooManyOpenFiles:
        return true;
    default:
        return false;
    }
}
}  // namespace

std::uint32_t error_from_errno(int error) {
    switch (error) {
    case ENOENT: case ENOTDIR: case ECONNREFUSED: case ENXIO: return kErrorFileNotFound;
    case EACCES: case EPERM: case EROFS: return kErrorAccessDenied;
    case EBADF: case ENOTSOCK: return kErrorInvalidHandle;
    case ENOMEM: case ENOBUFS: return kErrorNotEnoughMemory;
    case EINVAL: return kErrorInvalidParameter;
    case EPIPE: case ECONNRESET: case ESHUTDOWN: return kErrorBrokenPipe;
    case ETIMEDOUT: return kErrorSemTimeout;
    case EEXIST: case EADDRINUSE: return kErrorAlreadyExists;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case EAGAIN: return kErrorPipeBusy;
    case ENOSPC: return kErrorDiskFull;
    case EMFILE: case ENFILE: return kErrorTooManyOpenFiles;
    case ENODATA: return kErrorNoData;
    case EIO: return kErrorGenFailure;
    default: break;
    }
    const auto value = static_cast<std::uint32_t>(error);
    return collides(value) ? kErrorGenFailure : value;
}

void set_error_from_errno() { set_error_from_errno(errno); }

void set_error_from_errno(int error) { set_last_error(error_from_errno(error)); }

}  // namespace platform::posix
