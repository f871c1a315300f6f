#include "platform/win32/win32_error.h"

#include "platform/win32/wide_text.h"
#include "text/number_text.h"

namespace tolvak::win32 {

namespace {

struct ErrorKind {
    int32_t number;
    const char16_t* text;
};

constexpr ErrorKind kInvalidPort{errors::kInvalidPortNumber, u"Invalid port number"};
constexpr ErrorKind kAlreadyOpen{errors::kPortAlreadyOpen, u"Port already open"};
constexpr ErrorKind kNotAvailable{errors::kPortNotAvailable,
                                  u"The port is not available (in use or access denied)"};
constexpr ErrorKind kNotOpen{errors::kPortNotOpen, u"The port is not open"};
constexpr ErrorKind kBadValue{errors::kInvalidPropertyValue, u"Invalid property value"};
constexpr ErrorKind kNoMemory{errors::kOutOfMemory, u"Out of memory"};
constexpr ErrorKind kInternal{51, u"Internal error"};

ErrorKind kindOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_PATHNAME:
        return kInvalidPort;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
        return kNotAvailable;
    case ERROR_INVALID_HANDLE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_OPERATION_ABORTED:
        return kNotOpen;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
        return kBadValue;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return kNoMemory;
    default:
        return kInternal;
    }
}

ErrorKind kindOf(int32_t number) {
    for (const ErrorKind& kind : {kInvalidPort, kAlreadyOpen, kNotAvailable, kNotOpen, kBadValue})
        if (kind.number == number) return kind;
    return kInternal;
}

std::u16string describe(const ErrorKind& kind, const std::u16string& context,
                        const std::u16string& reason) {
    std::u16string text = kind.text;
    if (context.empty() && reason.empty()) return text;
    text += u" (";
    text += context;
    if (!context.empty() && !reason.empty()) text += u": ";
    text += reason;
    text += u')';
    return text;
}

} // namespace

std::u16string systemMessage(DWORD error) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) return u"system error " + decimalText(error);
    std::u16string text = fromWide(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    return text;
}

AutomationError fromWin32(DWORD error, const std::u16string& context) {
    ErrorKind kind = kindOf(error);
    // The code goes along so that a program can tell causes the number lumps together.
    return {kind.number, describe(kind, context, systemMessage(error)),
            std::error_code(static_cast<int>(error), std::system_category())};
}

AutomationError serialError(int32_t number, const std::u16string& context) {
    ErrorKind kind = kindOf(number);
    return {kind.number, describe(kind, context, {})};
}

} // namespace tolvak::win32
