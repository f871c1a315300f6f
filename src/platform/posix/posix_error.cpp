#include "platform/posix/posix_error.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "text/utf8.h"

namespace tolvak::posix {

namespace {

int32_t numberFor(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ENOTTY:
        return errors::kInvalidPortNumber; // nothing usable as a serial port at that path
    case EINVAL:
        return errors::kInvalidPropertyValue; // the driver refused the line settings
    default:
        return errors::kPortNotAvailable; // busy, forbidden, unplugged, ...
    }
}

} // namespace

AutomationError fromErrno(int error, std::string_view device) {
    std::string text(device);
    text += ": ";
    text += std::strerror(error);
    return AutomationError(numberFor(error), fromUtf8(text),
                           std::error_code(error, std::system_category()));
}

} // namespace tolvak::posix
