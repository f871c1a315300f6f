#pragma once

#include <windows.h>

#include <setupapi.h>

#include "platform/win32/unique_handle.h"

namespace tolvak::win32 {

// Handles of the device installer and the service manager.
struct DevInfoTraits {
    using Handle = HDEVINFO;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { SetupDiDestroyDeviceInfoList(h); }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { CloseServiceHandle(h); }
};

// What the security functions allocate for their caller (descriptors, SID texts).
struct LocalTraits {
    using Handle = void*;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { LocalFree(h); }
};

using UniqueDevInfo = UniqueHandle<DevInfoTraits>;
using UniqueLocal = UniqueHandle<LocalTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;

} // namespace tolvak::win32
