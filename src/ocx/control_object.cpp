#include "ocx/control_object.h"

#include "ocx/server_module.h"
#include "platform/win32/surface_windows.h"
#include "platform/win32/win32_platform.h"

namespace tolvak::com {

namespace {

// Where each interface the control answers sits in the object. Base interfaces are listed with
// the interface that brings them.
struct InterfaceEntry {
    const IID* iid;
    void* (*cast)(ControlObject*);
};

template <typename I> void* as(ControlObject* o) {
    return static_cast<I*>(o);
}

const InterfaceEntry kInterfaces[] = {
    {&IID_IUnknown, as<ITolvak>},
    {&IID_IDispatch, as<ITolvak>},
    {&kIidTolvak, as<ITolvak>},
    {&kIidTolvakEarlier, as<ITolvak>},
    {&IID_IOleObject, as<IOleObject>},
    {&IID_IOleWindow, as<IOleInPlaceObject>},
    {&IID_IOleInPlaceObject, as<IOleInPlaceObject>},
    {&IID_IOleInPlaceActiveObject, as<IOleInPlaceActiveObject>},
    {&IID_IOleControl, as<IOleControl>},
    {&IID_IViewObject, as<IViewObject2>},
    {&IID_IViewObject2, as<IViewObject2>},
    {&IID_IPersist, as<IPersistStreamInit>},
    {&IID_IPersistStreamInit, as<IPersistStreamInit>},
    {&IID_IPersistPropertyBag, as<IPersistPropertyBag>},
    {&IID_IProvideClassInfo, as<IProvideClassInfo2>},
    {&IID_IProvideClassInfo2, as<IProvideClassInfo2>},
    {&IID_IConnectionPointContainer, as<IConnectionPointContainer>},
    {&IID_ISupportErrorInfo, as<ISupportErrorInfo>},
    {&IID_IQuickActivate, as<IQuickActivate>},
};

void check(HRESULT hr, const char16_t* what) {
    if (FAILED(hr)) throw AutomationError(static_cast<int32_t>(hr), what);
}

// 9840 x 480 twips in HIMETRIC (2540 per inch, 1440 twips per inch).
constexpr LONG toHimetric(int32_t twips) {
    return (twips * 2540 + 720) / 1440;
}

} // namespace

ControlObject::ControlObject()
    : m_control(std::make_unique<Tolvak>(win32::makePlatform())),
      m_extent{toHimetric(SurfaceModel::kWidth), toHimetric(SurfaceModel::kHeight)} {
    // The library is a resource of this very file, so the control works before registration.
    ComPtr<ITypeLib> lib;
    check(LoadTypeLibEx(ServerModule::path().c_str(), REGKIND_NONE, &lib),
          u"Cannot load the type library");
    check(lib->GetTypeInfoOfGuid(kIidTolvak, &m_dispatchInfo), u"Cannot find _Tolvak");
    check(lib->GetTypeInfoOfGuid(kClsid, &m_classInfo), u"Cannot find Tolvak");
    HREFTYPE vtable = 0;
    check(m_dispatchInfo->GetRefTypeOfImplType(-1, &vtable), u"_Tolvak is not dual");
    check(m_dispatchInfo->GetRefTypeInfo(vtable, &m_interfaceInfo), u"_Tolvak is not dual");
    check(CreateOleAdviseHolder(&m_adviseHolder), u"Cannot create the advise holder");
    ServerModule::objectCreated();
}

ControlObject::~ControlObject() {
    // The windows observe the control: they go first.
    m_surfaceWindows.reset();
    m_control.reset();
    ServerModule::objectDestroyed();
}

HRESULT ControlObject::create(REFIID riid, void** object) {
    ControlObject* created = nullptr;
    try {
        created = new ControlObject();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const AutomationError& e) {
        return e.number() < 0 ? static_cast<HRESULT>(e.number()) : E_FAIL;
    }
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
}

STDMETHODIMP ControlObject::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    for (const InterfaceEntry& entry : kInterfaces) {
        if (*entry.iid == riid) {
            *object = entry.cast(this);
            AddRef();
            return S_OK;
        }
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ControlObject::AddRef() {
    return ++m_refs;
}

STDMETHODIMP_(ULONG) ControlObject::Release() {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP ControlObject::GetClassInfo(ITypeInfo** info) {
    if (!info) return E_POINTER;
    return m_classInfo.CopyTo(info);
}

STDMETHODIMP ControlObject::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = kIidEvents;
    return S_OK;
}

STDMETHODIMP ControlObject::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == kIidTolvak || riid == kIidTolvakEarlier ? S_OK : S_FALSE;
}

} // namespace tolvak::com
