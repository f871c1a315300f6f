#pragma once

#include <windows.h>

#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <string_view>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"

namespace tolvak::com {

using Microsoft::WRL::ComPtr;
using win32::fromWide;
using win32::UniqueGdiObject;
using win32::UniqueRegKey;

struct BstrTraits {
    using Handle = BSTR;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { SysFreeString(h); }
};

using UniqueBstr = UniqueHandle<BstrTraits>;

// Lends a raw slot to a function that returns a handle through a pointer; the owner takes it when
// the call's full expression ends.
template <typename Owner> class OutSlot {
  public:
    explicit OutSlot(Owner& owner) : m_owner(owner) {}
    ~OutSlot() { m_owner.reset(m_raw); }
    operator typename Owner::Handle *() { return &m_raw; }

  private:
    Owner& m_owner;
    typename Owner::Handle m_raw = nullptr;
};
template <typename Owner> OutSlot<Owner> out(Owner& owner) {
    owner.reset();
    return OutSlot<Owner>(owner);
}

// The core's UTF-16 and Windows' wide strings are the same code units.
inline std::wstring toWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}
// A null BSTR counts as empty.
inline std::u16string fromBstr(BSTR text) {
    return text ? fromWide(text, SysStringLen(text)) : std::u16string();
}
inline BSTR toBstr(std::u16string_view text) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                             static_cast<UINT>(text.size()));
}

} // namespace tolvak::com
