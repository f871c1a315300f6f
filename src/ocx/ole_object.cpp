// The control as an embedded object: its site, verbs, extent, in-place activation and the
// container's control interface. In-place activation gives the surface its windows; without it
// the control still works and its texts live in the model.

#include "ocx/control_object.h"

#include <cstddef>

#include "platform/win32/surface_windows.h"

namespace tolvak::com {

STDMETHODIMP ControlObject::SetClientSite(IOleClientSite* site) {
    m_clientSite = site;
    return S_OK;
}

STDMETHODIMP ControlObject::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    return m_clientSite.CopyTo(site);
}

STDMETHODIMP ControlObject::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;
}

STDMETHODIMP ControlObject::Close(DWORD) {
    InPlaceDeactivate();
    if (m_adviseHolder) m_adviseHolder->SendOnClose();
    return S_OK;
}

STDMETHODIMP ControlObject::SetMoniker(DWORD, IMoniker*) {
    return E_NOTIMPL;
}
STDMETHODIMP ControlObject::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP ControlObject::InitFromData(IDataObject*, BOOL, DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP ControlObject::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ControlObject::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) {
    if (site && !m_clientSite) m_clientSite = site;
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
        return activateInPlace(verb);
    case OLEIVERB_HIDE:
        UIDeactivate();
        if (m_surfaceWindows && m_surfaceWindows->hwnd())
            ShowWindow(m_surfaceWindows->hwnd(), SW_HIDE);
        return S_OK;
    default:
        return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
    }
}

HRESULT ControlObject::activateInPlace(LONG verb) {
    if (!m_clientSite) return E_UNEXPECTED;
    if (!m_surfaceWindows) {
        ComPtr<IOleInPlaceSite> site;
        if (FAILED(m_clientSite.As(&site))) return E_NOINTERFACE;
        if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
        HRESULT hr = site->OnInPlaceActivate();
        if (FAILED(hr)) return hr;
        m_inPlaceSite = site;

        HWND parent = nullptr;
        RECT position{}, clip{};
        OLEINPLACEFRAMEINFO frameInfo{};
        frameInfo.cb = sizeof frameInfo;
        m_frame.Reset();
        m_document.Reset();
        if (FAILED(site->GetWindow(&parent)) ||
            FAILED(site->GetWindowContext(&m_frame, &m_document, &position, &clip, &frameInfo))) {
            InPlaceDeactivate();
            return E_FAIL;
        }
        auto windows = std::make_unique<win32::SurfaceWindows>(*m_control);
        auto error = trapErrors([&] { windows->create(parent, position); });
        if (error || !windows->hwnd()) {
            InPlaceDeactivate();
            return E_FAIL;
        }
        m_surfaceWindows = std::move(windows);
        ShowWindow(m_surfaceWindows->hwnd(), SW_SHOW);
    } else {
        ShowWindow(m_surfaceWindows->hwnd(), SW_SHOW);
    }

    if ((verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_PRIMARY) && !m_uiActive) {
        m_uiActive = true;
        m_inPlaceSite->OnUIActivate();
        if (m_frame) m_frame->SetActiveObject(this, kClassName);
        if (m_document) m_document->SetActiveObject(this, kClassName);
    }
    return S_OK;
}

STDMETHODIMP ControlObject::EnumVerbs(IEnumOLEVERB** verbs) {
    if (!verbs) return E_POINTER;
    return OleRegEnumVerbs(kClsid, verbs);
}

STDMETHODIMP ControlObject::Update() {
    return S_OK;
}
STDMETHODIMP ControlObject::IsUpToDate() {
    return S_OK;
}

STDMETHODIMP ControlObject::GetUserClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = kClsid;
    return S_OK;
}

STDMETHODIMP ControlObject::GetUserType(DWORD form, LPOLESTR* type) {
    if (!type) return E_POINTER;
    return OleRegGetUserType(kClsid, form, type);
}

STDMETHODIMP ControlObject::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    m_extent = *size;
    return S_OK;
}

STDMETHODIMP ControlObject::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    *size = m_extent;
    return S_OK;
}

STDMETHODIMP ControlObject::Advise(IAdviseSink* sink, DWORD* cookie) {
    return m_adviseHolder->Advise(sink, cookie);
}
STDMETHODIMP ControlObject::Unadvise(DWORD cookie) {
    return m_adviseHolder->Unadvise(cookie);
}
STDMETHODIMP ControlObject::EnumAdvise(IEnumSTATDATA** advise) {
    return m_adviseHolder->EnumAdvise(advise);
}

STDMETHODIMP ControlObject::GetMiscStatus(DWORD, DWORD* status) {
    if (!status) return E_POINTER;
    *status = kMiscStatus;
    return S_OK;
}

STDMETHODIMP ControlObject::SetColorScheme(LOGPALETTE*) {
    return E_NOTIMPL;
}

// IQuickActivate

STDMETHODIMP ControlObject::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (!container || !control) return E_POINTER;
    // The control fills the whole structure; of the container's only the leading fields are read.
    if (control->cbSize < sizeof(QACONTROL) ||
        container->cbSize < offsetof(QACONTAINER, pUnkEventSink) + sizeof(IUnknown*))
        return E_INVALIDARG;
    control->dwMiscStatus = kMiscStatus;
    control->dwViewStatus = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
    control->dwEventCookie = 0;
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    SetClientSite(container->pClientSite);
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    if (container->pUnkEventSink)
        m_eventsPoint.Advise(container->pUnkEventSink, &control->dwEventCookie);
    return S_OK;
}

STDMETHODIMP ControlObject::SetContentExtent(LPSIZEL size) {
    return SetExtent(DVASPECT_CONTENT, size);
}
STDMETHODIMP ControlObject::GetContentExtent(LPSIZEL size) {
    return GetExtent(DVASPECT_CONTENT, size);
}

// IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject

STDMETHODIMP ControlObject::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = m_surfaceWindows ? m_surfaceWindows->hwnd() : nullptr;
    return *window ? S_OK : E_FAIL;
}

STDMETHODIMP ControlObject::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP ControlObject::InPlaceDeactivate() {
    if (!m_inPlaceSite) return S_OK;
    UIDeactivate();
    if (m_surfaceWindows) {
        m_surfaceWindows->destroy();
        m_surfaceWindows.reset();
    }
    ComPtr<IOleInPlaceSite> site = std::move(m_inPlaceSite);
    m_frame.Reset();
    m_document.Reset();
    site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP ControlObject::UIDeactivate() {
    if (!m_uiActive) return S_OK;
    m_uiActive = false;
    if (m_frame) m_frame->SetActiveObject(nullptr, nullptr);
    if (m_document) m_document->SetActiveObject(nullptr, nullptr);
    if (m_inPlaceSite) m_inPlaceSite->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP ControlObject::SetObjectRects(LPCRECT position, LPCRECT) {
    if (!position) return E_POINTER;
    if (m_surfaceWindows) m_surfaceWindows->setRect(*position);
    return S_OK;
}

STDMETHODIMP ControlObject::ReactivateAndUndo() {
    return E_NOTIMPL;
}
// The children handle their own keys; the control has no accelerators.
STDMETHODIMP ControlObject::TranslateAccelerator(LPMSG) {
    return S_FALSE;
}
STDMETHODIMP ControlObject::OnFrameWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP ControlObject::OnDocWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP ControlObject::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return S_OK;
}
STDMETHODIMP ControlObject::EnableModeless(BOOL) {
    return S_OK;
}

// IOleControl

STDMETHODIMP ControlObject::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    if (info->cb < sizeof(CONTROLINFO)) return E_INVALIDARG;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP ControlObject::OnMnemonic(MSG*) {
    return E_NOTIMPL;
}
// The ambient font is read when the container saves; nothing else depends on ambients.
STDMETHODIMP ControlObject::OnAmbientPropertyChange(DISPID) {
    return S_OK;
}
// The control raises no events, so there is nothing to hold back.
STDMETHODIMP ControlObject::FreezeEvents(BOOL) {
    return S_OK;
}

} // namespace tolvak::com
