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

// IUnknown's three and IDispatch's four slots come first. Offsets are in the pointer size of the
// library's target, which need not be that of the process writing or reading it.
inline constexpr int kInheritedSlots = 7;
inline constexpr int vtableOffset(int position, int pointerSize = sizeof(void*)) {
    return (kInheritedSlots + position - 1) * pointerSize;
}
inline constexpr int pointerSizeOf(SYSKIND kind) {
    return kind == SYS_WIN64 ? 8 : 4;
}

} // namespace tolvak::com
