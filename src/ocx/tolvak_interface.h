#pragma once

#include <windows.h>

#include <oaidl.h>

#include "ocx/guids.h"

namespace tolvak::com {

// The _Tolvak dual interface as early-bound callers see it: its own methods in vtable order,
// getRawData last. Every argument is by reference and left as it was; the last parameter of a
// method with a result is its [out, retval].
struct ITolvak : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE getLocalHostName(BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLocalIPAddress(BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE getLocalMacAddress(BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setWinFontSize(short* winFontSize, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setWinWidth(short* winWidth, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setWinHeight(short* winHeight, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE RndStart() = 0;
    virtual HRESULT STDMETHODCALLTYPE RndEnd() = 0;
    virtual HRESULT STDMETHODCALLTYPE setDecimals(short* lcDecimals, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setEloadPrebits(short* lcEloadprebits, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setEloadbits(short* lcEloadbits, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setBufferLength(short* lcBufferLength, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setNewLineSepChar(short* lcNewLineSepChar,
                                                        VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setEnterkeySepChar(short* lcEnterkeySepChar,
                                                         VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setOtherSepChar(BSTR* lcOtherSepChar, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setIsReservChar(short* lcIsReservChar, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setPortNum(short* lcPortNum, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setBandRate(BSTR* lcBandRate, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setDataBit(short* lcDataBit, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setParity(BSTR* lcParity, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE setStopBit(short* lcStopBit, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE getTolvakValue(BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE getDebugInfo(BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenComm() = 0;
    virtual HRESULT STDMETHODCALLTYPE CloseComm() = 0;
    virtual HRESULT STDMETHODCALLTYPE getRawData(BSTR* result) = 0;
};

} // namespace tolvak::com

__CRT_UUID_DECL(tolvak::com::ITolvak, 0x5BA05C61, 0x1E87, 0x4A62, 0x8C, 0xBE, 0x74, 0x5B, 0x36,
                0x01, 0x12, 0xD9)
