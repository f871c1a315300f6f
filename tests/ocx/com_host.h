#pragma once

// A test container for the control: a host window, a strict recording client site with in-place
// site and ambient properties, a frame, a recording property bag and an event sink. Every call
// the control makes on them is recorded, so tests can assert order and content.

#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "com_check.h"
#include "ocx/guids.h"
#include "ocx/handles.h"
#include "ocx/tolvak_interface.h"

namespace tolvak::wintest {

using com::ComPtr;

// IUnknown for a test object: answers IUnknown and the IIDs listed, nothing else.
template <typename Primary> class TestUnknown : public Primary {
  public:
    virtual ~TestUnknown() = default;
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = riid == IID_IUnknown ? static_cast<Primary*>(this) : find(riid);
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

  protected:
    virtual void* find(REFIID riid) = 0;

  private:
    ULONG m_refs = 1;
};

// Every call a test object gets, in order ("Site.OnInPlaceActivate", ...).
struct CallLog {
    std::vector<std::string> calls;
    void add(std::string call) { calls.push_back(std::move(call)); }
    size_t count(const std::string& call) const {
        size_t n = 0;
        for (const auto& c : calls)
            n += c == call;
        return n;
    }
    // True when the calls appear in this order (others may come between).
    bool inOrder(const std::vector<std::string>& expected) const {
        size_t next = 0;
        for (const auto& c : calls)
            if (next < expected.size() && c == expected[next]) ++next;
        return next == expected.size();
    }
    std::string joined() const {
        std::string all;
        for (const auto& c : calls)
            all += c + " ";
        return all;
    }
};

struct AmbientFont {
    std::wstring face = L"Arial";
    double size = 10;
    short weight = FW_NORMAL;
};

class TestFrame final : public TestUnknown<IOleInPlaceFrame> {
  public:
    TestFrame(HWND window, CallLog& log) : m_window(window), m_log(log) {}
    STDMETHODIMP GetWindow(HWND* w) override {
        *w = m_window;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
        m_log.add(object ? "Frame.SetActiveObject" : "Frame.SetActiveObject(null)");
        m_active = object;
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  private:
    void* find(REFIID riid) override {
        if (riid == IID_IOleWindow || riid == IID_IOleInPlaceUIWindow ||
            riid == IID_IOleInPlaceFrame)
            return static_cast<IOleInPlaceFrame*>(this);
        return nullptr;
    }
    HWND m_window;
    CallLog& m_log;
    ComPtr<IOleInPlaceActiveObject> m_active;
};

// The client site: IOleClientSite, IOleInPlaceSite and the ambient properties (IDispatch).
class TestSite final : public TestUnknown<IOleClientSite>,
                       public IOleInPlaceSite,
                       public IDispatch {
  public:
    TestSite(HWND window, RECT position, CallLog& log, AmbientFont font = {})
        : m_window(window), m_position(position), m_log(log), m_font(std::move(font)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** o) override {
        return TestUnknown::QueryInterface(riid, o);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return TestUnknown::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return TestUnknown::Release(); }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return record("Site.SaveObject", E_NOTIMPL); }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override {
        *m = nullptr;
        return record("Site.GetMoniker", E_NOTIMPL);
    }
    STDMETHODIMP GetContainer(IOleContainer** c) override {
        *c = nullptr;
        return record("Site.GetContainer", E_NOINTERFACE);
    }
    STDMETHODIMP ShowObject() override { return record("Site.ShowObject", S_OK); }
    STDMETHODIMP OnShowWindow(BOOL) override { return record("Site.OnShowWindow", S_OK); }
    STDMETHODIMP RequestNewObjectLayout() override {
        return record("Site.RequestNewObjectLayout", E_NOTIMPL);
    }

    // IOleWindow, IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* w) override {
        *w = m_window;
        return record("Site.GetWindow", S_OK);
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override {
        return record("Site.ContextSensitiveHelp", E_NOTIMPL);
    }
    STDMETHODIMP CanInPlaceActivate() override { return record("Site.CanInPlaceActivate", S_OK); }
    STDMETHODIMP OnInPlaceActivate() override { return record("Site.OnInPlaceActivate", S_OK); }
    STDMETHODIMP OnUIActivate() override { return record("Site.OnUIActivate", S_OK); }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        m_frame = ComPtr<IOleInPlaceFrame>();
        *frame = new TestFrame(m_window, m_log);
        *doc = nullptr;
        *pos = m_position;
        *clip = m_position;
        info->fMDIApp = FALSE;
        info->hwndFrame = m_window;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return record("Site.GetWindowContext", S_OK);
    }
    STDMETHODIMP Scroll(SIZE) override { return record("Site.Scroll", E_NOTIMPL); }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return record("Site.OnUIDeactivate", S_OK); }
    STDMETHODIMP OnInPlaceDeactivate() override { return record("Site.OnInPlaceDeactivate", S_OK); }
    STDMETHODIMP DiscardUndoState() override { return record("Site.DiscardUndoState", E_NOTIMPL); }
    STDMETHODIMP DeactivateAndUndo() override {
        return record("Site.DeactivateAndUndo", E_NOTIMPL);
    }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return record("Site.OnPosRectChange", S_OK); }

    // IDispatch: the ambient properties. Only the font is offered.
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
        m_log.add("Ambient." + std::to_string(id));
        if (id != DISPID_AMBIENT_FONT || !(flags & DISPATCH_PROPERTYGET) || !result)
            return DISP_E_MEMBERNOTFOUND;
        FONTDESC fd{};
        fd.cbSizeofstruct = sizeof fd;
        fd.lpstrName = m_font.face.data();
        fd.cySize.int64 = static_cast<LONGLONG>(m_font.size * 10000);
        fd.sWeight = m_font.weight;
        VariantInit(result);
        V_VT(result) = VT_DISPATCH;
        return OleCreateFontIndirect(&fd, IID_IFontDisp,
                                     reinterpret_cast<void**>(&V_DISPATCH(result)));
    }

    CallLog& log() { return m_log; }

  private:
    void* find(REFIID riid) override {
        if (riid == IID_IOleClientSite) return static_cast<IOleClientSite*>(this);
        if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            return static_cast<IOleInPlaceSite*>(this);
        if (riid == IID_IDispatch) return static_cast<IDispatch*>(this);
        m_log.add("Site.QueryInterface(other)");
        return nullptr;
    }
    HRESULT record(const char* call, HRESULT hr) {
        m_log.add(call);
        return hr;
    }

    HWND m_window;
    RECT m_position;
    CallLog& m_log;
    AmbientFont m_font;
    ComPtr<IOleInPlaceFrame> m_frame;
};

// A property bag that keeps what it is given, in order, and can refuse one name.
class RecordingBag final : public TestUnknown<IPropertyBag> {
  public:
    struct Entry {
        std::wstring name;
        VARTYPE type;
        LONG number;        // VT_I2, VT_I4
        ComPtr<IFont> font; // VT_DISPATCH
    };
    std::vector<Entry> written;
    int reads = 0;
    std::wstring refuse; // Write of this name fails

    STDMETHODIMP Read(LPCOLESTR, VARIANT*, IErrorLog*) override {
        ++reads;
        return E_INVALIDARG;
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override {
        if (refuse == name) return E_ACCESSDENIED;
        Entry e{name, V_VT(value), 0, {}};
        if (V_VT(value) == VT_I2) e.number = V_I2(value);
        if (V_VT(value) == VT_I4) e.number = V_I4(value);
        if (V_VT(value) == VT_DISPATCH && V_DISPATCH(value))
            V_DISPATCH(value)->QueryInterface(IID_IFont,
                                              reinterpret_cast<void**>(e.font.GetAddressOf()));
        written.push_back(std::move(e));
        return S_OK;
    }

  private:
    void* find(REFIID riid) override {
        return riid == IID_IPropertyBag ? static_cast<IPropertyBag*>(this) : nullptr;
    }
};

// A sink for __Tolvak that counts every call it gets.
class RecordingSink final : public TestUnknown<IDispatch> {
  public:
    int calls = 0;
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        ++calls;
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override {
        ++calls;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        ++calls;
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        ++calls;
        return S_OK;
    }

  private:
    void* find(REFIID riid) override {
        return riid == IID_IDispatch || riid == com::kIidEvents ? static_cast<IDispatch*>(this)
                                                                : nullptr;
    }
};

// A plain top-level window to host the control.
// The control created by its class ID, sited on a recording site and activated in place at
// position, as a form's container does it; closed and unsited again when it goes.
class InPlaceControl {
  public:
    InPlaceControl(Checker& check, HWND host, const RECT& position, CallLog& log) {
        check.expectHr(
            CoCreateInstance(com::kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &unknown),
            "create");
        if (!unknown) return;
        unknown->QueryInterface(IID_IOleObject, &object);
        unknown->QueryInterface(com::kIidTolvak, reinterpret_cast<void**>(control.GetAddressOf()));
        if (!ready()) return;
        ComPtr<TestSite> site;
        site.Attach(new TestSite(host, position, log));
        object->SetClientSite(site.Get());
        check.expectHr(
            object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, host, &position),
            "in-place activation");
    }
    ~InPlaceControl() {
        if (!ready()) return;
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
    }
    InPlaceControl(const InPlaceControl&) = delete;
    InPlaceControl& operator=(const InPlaceControl&) = delete;

    bool ready() const { return object && control; }

    ComPtr<IUnknown> unknown;
    ComPtr<IOleObject> object;
    ComPtr<com::ITolvak> control;
};

inline HWND createHostWindow(int width, int height) {
    static ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = L"TolvakTestHost";
        return RegisterClassW(&wc);
    }();
    (void)atom;
    HWND w =
        CreateWindowW(L"TolvakTestHost", L"Tolvak test host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                      0, 0, width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (w) ShowWindow(w, SW_SHOW);
    return w;
}

// Delivers the thread's messages (the serial receive event, timer ticks) for about ms.
inline void pumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

inline std::wstring windowText(HWND w) {
    wchar_t buffer[256] = {};
    GetWindowTextW(w, buffer, 256);
    return buffer;
}

inline std::wstring call(com::ITolvak* control,
                         HRESULT (STDMETHODCALLTYPE com::ITolvak::*getter)(BSTR*)) {
    BSTR text = nullptr;
    if (FAILED((control->*getter)(&text))) return L"<failed>";
    std::wstring result = text ? text : L"";
    SysFreeString(text);
    return result;
}

} // namespace tolvak::wintest
