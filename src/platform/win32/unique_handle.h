#pragma once

#include <windows.h>

#include <utility>

namespace tolvak::win32 {

// One owner for every kind of Win32 handle; Traits give the invalid value and how to free it.
template <typename Traits> class UniqueHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : m_handle(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Traits::invalid(); }
    Handle release() { return std::exchange(m_handle, Traits::invalid()); }
    void reset(Handle handle = Traits::invalid()) {
        Handle old = std::exchange(m_handle, handle);
        if (old != Traits::invalid()) Traits::close(old);
    }

  private:
    Handle m_handle = Traits::invalid();
};

// CreateFile's failure value.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { CloseHandle(h); }
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
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueHook = UniqueHandle<HookTraits>;

} // namespace tolvak::win32
