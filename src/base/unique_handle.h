#pragma once

#include <utility>

namespace tolvak {

// One owner for every kind of platform handle (file descriptors, Win32 handles, windows, GDI
// objects, registry keys...): Traits give the invalid value and how to let one go.
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
    bool valid() const { return m_handle != Traits::invalid(); }
    explicit operator bool() const { return valid(); }

    Handle release() { return std::exchange(m_handle, Traits::invalid()); }
    void reset(Handle handle = Traits::invalid()) {
        Handle old = std::exchange(m_handle, handle);
        if (old != Traits::invalid()) Traits::close(old);
    }

  private:
    Handle m_handle = Traits::invalid();
};

} // namespace tolvak
