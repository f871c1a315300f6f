// Connection points: __Tolvak is the control's (empty) event interface. Hosts connect to it as to
// any control's events; the control never calls them.

#include "ocx/control_object.h"

#include <olectl.h>

namespace tolvak::com {

namespace {
bool isEvents(REFIID riid) {
    return riid == kIidEvents || riid == kIidEventsEarlier;
}
} // namespace

STDMETHODIMP ControlObject::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points) *points = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ControlObject::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!isEvents(riid)) return CONNECT_E_NOCONNECTION;
    *point = &m_eventsPoint;
    m_eventsPoint.AddRef();
    return S_OK;
}

STDMETHODIMP ControlObject::EventsPoint::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP ControlObject::EventsPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = kIidEvents;
    return S_OK;
}

STDMETHODIMP
ControlObject::EventsPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = &m_owner;
    m_owner.AddRef();
    return S_OK;
}

STDMETHODIMP ControlObject::EventsPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    // A sink must speak the event interface (by either identifier) or at least IDispatch.
    ComPtr<IUnknown> events;
    if (FAILED(sink->QueryInterface(kIidEvents, &events)) &&
        FAILED(sink->QueryInterface(kIidEventsEarlier, &events)) &&
        FAILED(sink->QueryInterface(IID_IDispatch, &events)))
        return CONNECT_E_CANNOTCONNECT;
    *cookie = m_nextCookie++;
    m_sinks.emplace_back(*cookie, std::move(events));
    return S_OK;
}

STDMETHODIMP ControlObject::EventsPoint::Unadvise(DWORD cookie) {
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
        if (it->first == cookie) {
            m_sinks.erase(it);
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP ControlObject::EventsPoint::EnumConnections(IEnumConnections** connections) {
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

} // namespace tolvak::com
