#pragma once

#include <windows.h>

#include "base/unique_handle.h"

namespace tolvak::win32 {

// CreateFile's failure value.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { CloseHandle(h); }
};

// Events, threads and the like: their failure value is NULL.
struct KernelObjectTraits {
    using Handle = HANDLE;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { CloseHandle(h); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { RegCloseKey(h); }
};

struct WindowTraits {
    using Handle = HWND;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { DestroyWindow(h); }
};

struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { DeleteObject(h); }
};

struct HookTraits {
    using Handle = HHOOK;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { UnhookWindowsHookEx(h); }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueKernelObject = UniqueHandle<KernelObjectTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueHook = UniqueHandle<HookTraits>;

} // namespace tolvak::win32
