#pragma once

#include <windows.h>

#include <oaidl.h>

#include "ocx/guids.h"

// The early-bound parameters of each shape of method (control/methods.def).
#define TOLVAK_COM_PARAMETERS_Getter BSTR* result
#define TOLVAK_COM_PARAMETERS_ConstGetter BSTR* result
#define TOLVAK_COM_PARAMETERS_Action
#define TOLVAK_COM_PARAMETERS_ShortSetter short *argument, VARIANT *result
#define TOLVAK_COM_PARAMETERS_TextSetter BSTR *argument, VARIANT *result

namespace tolvak::com {

// The _Tolvak dual interface as early-bound callers see it: its own methods in vtable order,
// getRawData last. Every argument is by reference and left as it was; the last parameter of a
// method with a result is its [out, retval].
struct ITolvak : public IDispatch {
#define TOLVAK_METHOD(name, dispid, place, shape, param)                                           \
    virtual HRESULT STDMETHODCALLTYPE name(TOLVAK_COM_PARAMETERS_##shape) = 0;
#define TOLVAK_METHOD_VTABLE_LAST(...)
#include "control/methods.def"
#define TOLVAK_METHOD(...)
#define TOLVAK_METHOD_VTABLE_LAST(name, dispid, place, shape, param)                               \
    virtual HRESULT STDMETHODCALLTYPE name(TOLVAK_COM_PARAMETERS_##shape) = 0;
#include "control/methods.def"
};

} // namespace tolvak::com

__CRT_UUID_DECL(tolvak::com::ITolvak, 0x5BA05C61, 0x1E87, 0x4A62, 0x8C, 0xBE, 0x74, 0x5B, 0x36,
                0x01, 0x12, 0xD9)
