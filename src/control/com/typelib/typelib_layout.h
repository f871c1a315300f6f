#pragma once

#include <windows.h>

#include <oleauto.h>

// What the library says of its types, shared by the builder and the tests that read it back.
namespace tolvak::com {

inline constexpr WORD kInterfaceFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL |
                                        TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION |
                                        TYPEFLAG_FDISPATCHABLE;
inline constexpr WORD kCoclassFlags = TYPEFLAG_FCONTROL; // not creatable from the library
inline constexpr WORD kEventsFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE;

// IUnknown's three and IDispatch's four slots come first.
inline constexpr int kInheritedSlots = 7;
inline constexpr int vtableOffset(int position) {
    return (kInheritedSlots + position - 1) * static_cast<int>(sizeof(void*));
}

} // namespace tolvak::com
