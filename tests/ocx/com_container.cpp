// The control in a container: identity, late- and early-bound calls, errors, connection points,
// in-place activation with the children the platform layer creates, drawing without a window,
// and the save step into a property bag. The test plays the container with recording objects.

#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <cmath>
#include <cstring>

#include "com_check.h"
#include "com_host.h"
#include "control/method_table.h"
#include "control/surface_model.h"

using namespace tolvak;
using namespace tolvak::com;
using namespace tolvak::wintest;

namespace {

Checker check;

ComPtr<IUnknown> createControl() {
    ComPtr<IUnknown> control;
    check.context("create");
    check.expectHr(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &control),
                   "CoCreateInstance(Tolvak)");
    return control;
}

// { 0x11111111, ... }: an interface nobody implements.
constexpr GUID kStranger = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

void checkIdentity(IUnknown* control) {
    const IID* answered[] = {
        &IID_IUnknown,
        &IID_IDispatch,
        &kIidTolvak,
        &kIidTolvakEarlier,
        &IID_IOleObject,
        &IID_IOleWindow,
        &IID_IOleInPlaceObject,
        &IID_IOleInPlaceActiveObject,
        &IID_IOleControl,
        &IID_IViewObject,
        &IID_IViewObject2,
        &IID_IPersist,
        &IID_IPersistStreamInit,
        &IID_IPersistPropertyBag,
        &IID_IProvideClassInfo,
        &IID_IProvideClassInfo2,
        &IID_IConnectionPointContainer,
        &IID_ISupportErrorInfo,
        &IID_IQuickActivate,
    };
    const IID* refused[] = {
        &IID_IPersistStorage, &IID_IDataObject,
        &IID_IClassFactory,   &IID_IOleInPlaceObjectWindowless,
        &IID_IPersistStream,  &kIidEvents,
        &kIidEventsEarlier,   &kStranger,
    };
    int row = 0;
    for (const IID* iid : answered) {
        check.context("QueryInterface answers row " + std::to_string(row++));
        ComPtr<IUnknown> itf, back;
        if (!check.expectHr(control->QueryInterface(*iid, &itf), "answered")) continue;
        check.expect(itf.Get() != nullptr, "non-null pointer");
        check.expectHr(itf->QueryInterface(IID_IUnknown, &back), "back to IUnknown");
        check.expect(back.Get() == control, "same identity");
    }
    row = 0;
    for (const IID* iid : refused) {
        check.context("QueryInterface refuses row " + std::to_string(row++));
        void* itf = reinterpret_cast<void*>(1);
        check.expectEq(control->QueryInterface(*iid, &itf), E_NOINTERFACE, "E_NOINTERFACE");
        check.expect(itf == nullptr, "out pointer cleared");
    }
    check.context("identity");
    ComPtr<ITolvak> current, earlier;
    control->QueryInterface(kIidTolvak, reinterpret_cast<void**>(current.GetAddressOf()));
    control->QueryInterface(kIidTolvakEarlier, reinterpret_cast<void**>(earlier.GetAddressOf()));
    check.expect(current && current.Get() == earlier.Get(),
                 "both identifiers of _Tolvak give the one implementation");
}

// A late-bound call with one argument (or none); the result and the argument as they come back.
HRESULT invoke(IDispatch* d, DISPID id, VARIANT* argument, VARIANT* result,
               EXCEPINFO* exception = nullptr, UINT* argError = nullptr) {
    DISPPARAMS params{argument, nullptr, argument ? 1u : 0u, 0};
    EXCEPINFO ignored{};
    UINT ignoredArg = 0;
    HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                           exception ? exception : &ignored, argError ? argError : &ignoredArg);
    if (!exception) {
        SysFreeString(ignored.bstrSource);
        SysFreeString(ignored.bstrDescription);
        SysFreeString(ignored.bstrHelpFile);
    }
    return hr;
}

void checkLateBound(IUnknown* control) {
    ComPtr<IDispatch> d;
    control->QueryInterface(IID_IDispatch, &d);
    ComPtr<ITolvak> early;
    control->QueryInterface(kIidTolvak, reinterpret_cast<void**>(early.GetAddressOf()));
    if (!d || !early) return;

    check.context("IDispatch");
    UINT count = 0;
    check.expectHr(d->GetTypeInfoCount(&count), "GetTypeInfoCount");
    check.expectEq(count, 1u, "one type info");
    ComPtr<ITypeInfo> info;
    if (check.expectHr(d->GetTypeInfo(0, 0, &info), "GetTypeInfo")) {
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        check.expectEq(attr->guid, kIidTolvak, "type info is _Tolvak");
        info->ReleaseTypeAttr(attr);
    }

    // Every method by name resolves to its DISPID, in any letter case.
    for (const MethodInfo& m : kMethodTable) {
        check.context("GetIDsOfNames " + Checker::utf8(toWide(m.name)));
        std::wstring upper = toWide(m.name);
        CharUpperW(upper.data());
        LPOLESTR name = upper.data();
        DISPID id = 0;
        check.expectHr(d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), "resolves");
        check.expectEq(id, static_cast<DISPID>(m.dispid), "DISPID");
    }
    check.context("IDispatch");
    LPOLESTR unknown = const_cast<LPOLESTR>(L"getWeight");
    DISPID id = 0;
    check.expectEq(d->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME,
                   "unknown name");
    VARIANT result;
    VariantInit(&result);
    check.expectEq(invoke(d.Get(), 0x60030040, nullptr, &result), DISP_E_MEMBERNOTFOUND,
                   "the DISPID after setWinHeight's names nothing");

    // The getters answer the same by DISPID as early-bound.
    const struct {
        const char16_t* name;
        HRESULT (STDMETHODCALLTYPE ITolvak::*getter)(BSTR*);
    } getters[] = {
        {u"getTolvakValue", &ITolvak::getTolvakValue},
        {u"getDebugInfo", &ITolvak::getDebugInfo},
        {u"getRawData", &ITolvak::getRawData},
        {u"getLocalHostName", &ITolvak::getLocalHostName},
    };
    for (const auto& g : getters) {
        check.context(Checker::utf8(toWide(g.name)));
        VariantInit(&result);
        if (check.expectHr(invoke(d.Get(), findMethod(g.name)->dispid, nullptr, &result),
                           "by DISPID")) {
            check.expectEq(V_VT(&result), VARTYPE{VT_BSTR}, "a string");
            check.expectEq(std::wstring(V_BSTR(&result) ? V_BSTR(&result) : L""),
                           call(early.Get(), g.getter), "the same as early-bound");
        }
        VariantClear(&result);
    }
    check.context("getTolvakValue");
    check.expectEq(call(early.Get(), &ITolvak::getTolvakValue), std::wstring(L"8888888"),
                   "a new control");

    // Arguments of every shape a client passes: by value, by reference, as a variant by
    // reference, of other types. The call succeeds, returns Empty and leaves the argument alone.
    const DISPID setDecimals = findMethod(u"setDecimals")->dispid;
    const DISPID setParity = findMethod(u"setParity")->dispid;
    short i2 = 3;
    VARIANT inner;
    VariantInit(&inner);
    V_VT(&inner) = VT_R8;
    V_R8(&inner) = 2.0;
    BSTR parity = SysAllocString(L"e");
    struct ArgRow {
        const char* what;
        DISPID id;
        VARIANT arg;
    };
    std::vector<ArgRow> rows(6);
    rows[0] = {"short by value", setDecimals, {}};
    V_VT(&rows[0].arg) = VT_I2;
    V_I2(&rows[0].arg) = 2;
    rows[1] = {"long by value", setDecimals, {}};
    V_VT(&rows[1].arg) = VT_I4;
    V_I4(&rows[1].arg) = 4;
    rows[2] = {"short by reference", setDecimals, {}};
    V_VT(&rows[2].arg) = VT_I2 | VT_BYREF;
    V_I2REF(&rows[2].arg) = &i2;
    rows[3] = {"variant by reference", setDecimals, {}};
    V_VT(&rows[3].arg) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&rows[3].arg) = &inner;
    rows[4] = {"text by reference", setParity, {}};
    V_VT(&rows[4].arg) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&rows[4].arg) = &parity;
    rows[5] = {"number for a text", setParity, {}};
    V_VT(&rows[5].arg) = VT_I2;
    V_I2(&rows[5].arg) = 1;
    for (ArgRow& row : rows) {
        check.context(std::string("argument ") + row.what);
        VARIANT before = row.arg;
        VariantInit(&result);
        V_VT(&result) = VT_I4; // must come back Empty
        check.expectHr(invoke(d.Get(), row.id, &row.arg, &result), "accepted");
        check.expectEq(V_VT(&result), VARTYPE{VT_EMPTY}, "returns Empty");
        check.expect(std::memcmp(&before, &row.arg, sizeof before) == 0,
                     "argument variant unchanged");
    }
    check.expectEq(i2, short{3}, "the referenced short keeps its value");
    check.expectEq(V_VT(&inner), VARTYPE{VT_R8}, "the referenced variant keeps its type");
    check.expectEq(V_R8(&inner), 2.0, "the referenced variant keeps its value");
    check.expectEq(std::wstring(parity), std::wstring(L"e"), "the referenced text keeps its value");
    SysFreeString(parity);

    // Arguments that cannot become a short are refused, naming the argument.
    const struct {
        const char* what;
        VARTYPE type;
        const wchar_t* text;
        LONG number;
        HRESULT expected;
    } refused[] = {
        {"text that is no number", VT_BSTR, L"abc", 0, DISP_E_TYPEMISMATCH},
        {"a number beyond a short", VT_I4, nullptr, 70000, DISP_E_OVERFLOW},
    };
    for (const auto& r : refused) {
        check.context(std::string("refused ") + r.what);
        VARIANT arg;
        VariantInit(&arg);
        V_VT(&arg) = r.type;
        if (r.type == VT_BSTR)
            V_BSTR(&arg) = SysAllocString(r.text);
        else
            V_I4(&arg) = r.number;
        UINT argError = 99;
        VariantInit(&result);
        check.expectEq(invoke(d.Get(), setDecimals, &arg, &result, nullptr, &argError), r.expected,
                       "refused");
        check.expectEq(argError, 0u, "names the argument");
        VariantClear(&arg);
    }

    // The control's own errors: a failure HRESULT in FACILITY_CONTROL, the number, the
    // description and the source, late- and early-bound.
    check.context("errors");
    const HRESULT invalidValue = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 380);
    VARIANT zero;
    VariantInit(&zero);
    V_VT(&zero) = VT_I2;
    EXCEPINFO exception{};
    VariantInit(&result);
    check.expectEq(
        invoke(d.Get(), findMethod(u"setWinFontSize")->dispid, &zero, &result, &exception),
        DISP_E_EXCEPTION, "late-bound failure");
    check.expectEq(exception.scode, invalidValue, "scode");
    check.expectEq(std::wstring(exception.bstrDescription ? exception.bstrDescription : L""),
                   std::wstring(L"Invalid property value"), "description");
    check.expectEq(std::wstring(exception.bstrSource ? exception.bstrSource : L""),
                   std::wstring(kProgId), "source");
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);

    short size = 0;
    VariantInit(&result);
    check.expectEq(early->setWinFontSize(&size, &result), invalidValue, "early-bound failure");
    ComPtr<IErrorInfo> error;
    if (check.expectEq(GetErrorInfo(0, &error), S_OK, "error info set") && error) {
        UniqueBstr description, source;
        error->GetDescription(out(description));
        error->GetSource(out(source));
        check.expectEq(std::wstring(description.get() ? description.get() : L""),
                       std::wstring(L"Invalid property value"), "error info description");
        check.expectEq(std::wstring(source.get() ? source.get() : L""), std::wstring(kProgId),
                       "error info source");
    }
    check.expectEq(early->setWinFontSize(nullptr, &result), E_POINTER, "a null argument pointer");
    ComPtr<ISupportErrorInfo> supports;
    control->QueryInterface(IID_ISupportErrorInfo, &supports);
    check.expectEq(supports->InterfaceSupportsErrorInfo(kIidTolvak), S_OK,
                   "error info for _Tolvak");
    check.expectEq(supports->InterfaceSupportsErrorInfo(kIidTolvakEarlier), S_OK,
                   "error info for the earlier _Tolvak");
    check.expectEq(supports->InterfaceSupportsErrorInfo(IID_IOleObject), S_FALSE,
                   "none for IOleObject");

    // A refused font size leaves the old one: the next good size works.
    size = 24;
    check.expectHr(early->setWinFontSize(&size, &result), "a good size after a refused one");
    size = 18; // back to the design-time size for the checks that follow
    early->setWinFontSize(&size, &result);
}

void checkClassInfoAndEvents(IUnknown* control, RecordingSink* sink, DWORD& cookie,
                             ComPtr<IConnectionPoint>& point) {
    check.context("class info");
    ComPtr<IProvideClassInfo2> classInfo;
    control->QueryInterface(IID_IProvideClassInfo2, &classInfo);
    GUID source{};
    check.expectHr(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), "GetGUID");
    check.expectEq(source, kIidEvents, "default source is __Tolvak");
    check.expectEq(classInfo->GetGUID(99, &source), E_INVALIDARG, "other kinds of GUID");
    ComPtr<ITypeInfo> coclass;
    if (check.expectHr(classInfo->GetClassInfo(&coclass), "GetClassInfo")) {
        TYPEATTR* attr = nullptr;
        coclass->GetTypeAttr(&attr);
        check.expectEq(attr->guid, kClsid, "class info is the coclass");
        check.expectEq(static_cast<int>(attr->typekind), static_cast<int>(TKIND_COCLASS),
                       "a coclass");
        coclass->ReleaseTypeAttr(attr);
    }

    check.context("connection points");
    ComPtr<IConnectionPointContainer> container;
    control->QueryInterface(IID_IConnectionPointContainer, &container);
    ComPtr<IConnectionPoint> earlier, other;
    check.expectHr(container->FindConnectionPoint(kIidEvents, &point), "__Tolvak");
    check.expectHr(container->FindConnectionPoint(kIidEventsEarlier, &earlier),
                   "__Tolvak by its earlier identifier");
    check.expect(point && point.Get() == earlier.Get(), "one point for both identifiers");
    check.expectEq(container->FindConnectionPoint(IID_IPropertyNotifySink, &other),
                   CONNECT_E_NOCONNECTION, "no property notifications");
    if (!point) return;
    IID iid{};
    point->GetConnectionInterface(&iid);
    check.expectEq(iid, kIidEvents, "connection interface");
    ComPtr<IConnectionPointContainer> back;
    point->GetConnectionPointContainer(&back);
    check.expect(back.Get() == container.Get(), "back to the control");
    check.expectHr(point->Advise(sink, &cookie), "Advise");
    check.expect(cookie != 0, "a cookie");
    DWORD bad = 0;
    ComPtr<IPropertyBag> notASink(new RecordingBag());
    notASink->Release(); // the ComPtr holds the one reference
    check.expectEq(point->Advise(notASink.Get(), &bad), CONNECT_E_CANNOTCONNECT,
                   "a sink of no dispatch interface");
}

// Quick activation hands over the site and connects the event sink to __Tolvak in one call.
void checkQuickActivate(IUnknown* control, HWND host) {
    check.context("IQuickActivate");
    ComPtr<IQuickActivate> quick;
    if (!check.expectHr(control->QueryInterface(IID_IQuickActivate, &quick), "answered")) return;
    CallLog log;
    ComPtr<TestSite> site;
    site.Attach(new TestSite(host, RECT{0, 0, 10, 10}, log));
    ComPtr<RecordingSink> sink;
    sink.Attach(new RecordingSink());
    QACONTAINER container{};
    container.cbSize = sizeof container;
    container.pClientSite = site.Get();
    container.pUnkEventSink = sink.Get();
    QACONTROL result{};
    result.cbSize = sizeof result;
    check.expectHr(quick->QuickActivate(&container, &result), "QuickActivate");
    check.expectEq(result.dwMiscStatus, kMiscStatus, "misc status");
    check.expect(result.dwEventCookie != 0, "the event sink is connected");
    ComPtr<IOleObject> object;
    control->QueryInterface(IID_IOleObject, &object);
    ComPtr<IOleClientSite> got;
    object->GetClientSite(&got);
    check.expect(got.Get() == static_cast<IOleClientSite*>(site.Get()), "the site is set");
    ComPtr<IConnectionPointContainer> points;
    ComPtr<IConnectionPoint> point;
    control->QueryInterface(IID_IConnectionPointContainer, &points);
    points->FindConnectionPoint(kIidEvents, &point);
    check.expectHr(point->Unadvise(result.dwEventCookie),
                   "the cookie belongs to the __Tolvak point");
    check.expectEq(sink->calls, 0, "the sink got nothing");
    QACONTROL small{};
    small.cbSize = sizeof small - 4;
    check.expectEq(quick->QuickActivate(&container, &small), E_INVALIDARG,
                   "a QACONTROL too small to fill");
    object->SetClientSite(nullptr);
}

// Timer1 ticks on the apartment's thread through the platform's timer: not before RndStart, every
// two seconds after it, and no more after RndEnd.
void checkSimulation(IUnknown* control) {
    check.context("simulated readings");
    ComPtr<ITolvak> early;
    control->QueryInterface(kIidTolvak, reinterpret_cast<void**>(early.GetAddressOf()));
    pumpMessages(2500);
    check.expectEq(call(early.Get(), &ITolvak::getTolvakValue), std::wstring(L"8888888"),
                   "no tick before RndStart");
    check.expectHr(early->RndStart(), "RndStart");
    pumpMessages(2600);
    const std::wstring simulated = call(early.Get(), &ITolvak::getTolvakValue);
    check.expect(simulated != L"8888888" && !simulated.empty(), "a tick shows a simulated reading");
    check.expect(simulated.find_first_not_of(L" -.0123456789") == std::wstring::npos,
                 ("the reading is a number: " + Checker::utf8(simulated)).c_str());
    check.expectHr(early->RndEnd(), "RndEnd");
    const std::wstring stopped = call(early.Get(), &ITolvak::getTolvakValue);
    pumpMessages(2600);
    check.expectEq(call(early.Get(), &ITolvak::getTolvakValue), stopped, "no tick after RndEnd");
}

struct ChildPlace {
    const wchar_t*
        text; // how the test finds the window; nullptr: an empty text box, found by place
    ChildId id;
};

HWND childAt(HWND surface, LONG x, const wchar_t* text) {
    for (HWND c = GetWindow(surface, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, surface, reinterpret_cast<POINT*>(&r), 2);
        if (!IsWindowVisible(c)) continue;
        if (text ? windowText(c) == text : std::abs(r.left - x) <= 1) return c;
    }
    return nullptr;
}

LONG pixels(double twips, int dpi) {
    return static_cast<LONG>(std::lround(twips * dpi / 1440.0));
}

void checkInPlace(IUnknown* control, HWND host, RecordingSink* sink) {
    CallLog log;
    const RECT position{10, 10, 10 + 700, 10 + 40};
    ComPtr<TestSite> site;
    site.Attach(new TestSite(host, position, log));
    ComPtr<IOleObject> object;
    control->QueryInterface(IID_IOleObject, &object);
    ComPtr<IOleInPlaceObject> inPlace;
    control->QueryInterface(IID_IOleInPlaceObject, &inPlace);

    check.context("IOleObject");
    DWORD status = 0;
    object->GetMiscStatus(DVASPECT_CONTENT, &status);
    check.expectEq(status, kMiscStatus, "misc status");
    CLSID clsid{};
    object->GetUserClassID(&clsid);
    check.expectEq(clsid, kClsid, "user class");
    SIZEL extent{};
    check.expectHr(object->GetExtent(DVASPECT_CONTENT, &extent), "GetExtent");
    check.expectEq(extent.cx, LONG{(9840 * 2540 + 720) / 1440}, "extent width in HIMETRIC");
    check.expectEq(extent.cy, LONG{(480 * 2540 + 720) / 1440}, "extent height in HIMETRIC");
    check.expectEq(object->GetExtent(DVASPECT_ICON, &extent), DV_E_DVASPECT,
                   "only the content aspect");
    check.expectEq(object->SetMoniker(OLEWHICHMK_OBJREL, nullptr), E_NOTIMPL,
                   "SetMoniker not implemented");
    HWND none = reinterpret_cast<HWND>(1);
    check.expectEq(inPlace->GetWindow(&none), E_FAIL, "no window before activation");

    check.context("in-place activation");
    check.expectHr(object->SetClientSite(site.Get()), "SetClientSite");
    check.expectHr(
        object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, host, &position),
        "DoVerb");
    check.expect(log.inOrder({"Site.CanInPlaceActivate", "Site.OnInPlaceActivate", "Site.GetWindow",
                              "Site.GetWindowContext"}),
                 ("activation sequence: " + log.joined()).c_str());
    HWND surface = nullptr;
    if (!check.expectHr(inPlace->GetWindow(&surface), "IOleInPlaceObject::GetWindow") || !surface)
        return;
    check.expect(GetParent(surface) == host, "the surface is a child of the container's window");
    check.expect(IsWindowVisible(surface) != FALSE, "the surface is shown");
    RECT r;
    GetWindowRect(surface, &r);
    MapWindowPoints(nullptr, host, reinterpret_cast<POINT*>(&r), 2);
    check.expect(r.left == position.left && r.top == position.top,
                 "the surface sits at the site's place");

    HDC screen = GetDC(nullptr);
    const int dpiX = GetDeviceCaps(screen, LOGPIXELSX), dpiY = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    const SurfaceModel model;
    const ChildPlace places[] = {
        {L"8888888", ChildId::lblNumber},        {nullptr, ChildId::OutMsg},
        {nullptr, ChildId::OutPutChar},          {L"\u6253\u5F00", ChildId::StartPortBtn},
        {L"\u5173\u95ED", ChildId::StopPortBtn},
    };
    int visible = 0;
    for (HWND c = GetWindow(surface, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        visible += IsWindowVisible(c) != 0;
    check.expectEq(visible, 5,
                   "five visible children (the timer and the serial component are not seen)");
    for (const ChildPlace& p : places) {
        const ChildModel& m = model.child(p.id);
        check.context("child " + Checker::utf8(std::wstring(m.name.begin(), m.name.end())));
        HWND c = childAt(surface, pixels(m.left, dpiX), p.text);
        if (!check.expect(c != nullptr, "found")) continue;
        RECT cr;
        GetWindowRect(c, &cr);
        MapWindowPoints(nullptr, surface, reinterpret_cast<POINT*>(&cr), 2);
        check.expect(std::abs(cr.left - pixels(m.left, dpiX)) <= 1, "left");
        check.expect(std::abs(cr.top - pixels(m.top, dpiY)) <= 1, "top");
        check.expect(std::abs((cr.right - cr.left) - pixels(m.width, dpiX)) <= 1, "width");
        check.expect(std::abs((cr.bottom - cr.top) - pixels(m.height, dpiY)) <= 1, "height");
        check.expectEq(windowText(c), toWide(m.text), "text");
        if (p.id != ChildId::lblNumber) continue;

        // The display's font and colour as the window shows them.
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0));
        LOGFONTW lf{};
        if (check.expect(font && GetObjectW(font, sizeof lf, &lf), "display has a font")) {
            check.expectEq(std::wstring(lf.lfFaceName), std::wstring(L"LED"), "display font face");
            check.expect(std::abs(std::abs(lf.lfHeight) - MulDiv(18, dpiY, 72)) <= 1,
                         "display font 18 pt");
            check.expectEq(lf.lfWeight, LONG{500}, "display font weight");
        }
        HDC dc = CreateCompatibleDC(nullptr);
        const bool readOnly = (GetWindowLongW(c, GWL_STYLE) & ES_READONLY) != 0;
        SendMessageW(surface, readOnly ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT,
                     reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(c));
        check.expectEq(static_cast<unsigned long>(GetTextColor(dc)),
                       static_cast<unsigned long>(RGB(255, 0, 0)), "display text is red");
        DeleteDC(dc);

        // The control's own calls reach the window: a wider display.
        ComPtr<ITolvak> early;
        control->QueryInterface(kIidTolvak, reinterpret_cast<void**>(early.GetAddressOf()));
        short width = 3000;
        VARIANT result;
        VariantInit(&result);
        check.expectHr(early->setWinWidth(&width, &result), "setWinWidth");
        GetWindowRect(c, &cr);
        check.expect(std::abs((cr.right - cr.left) - pixels(3000, dpiX)) <= 1,
                     "the display window follows setWinWidth");
        width = 1695;
        early->setWinWidth(&width, &result);
    }

    check.context("in-place object");
    RECT moved{20, 30, 20 + 700, 30 + 40};
    check.expectHr(inPlace->SetObjectRects(&moved, &moved), "SetObjectRects");
    GetWindowRect(surface, &r);
    MapWindowPoints(nullptr, host, reinterpret_cast<POINT*>(&r), 2);
    check.expect(r.left == 20 && r.top == 30, "the surface moves with SetObjectRects");
    pumpMessages(300);

    check.context("deactivation");
    check.expectHr(inPlace->InPlaceDeactivate(), "InPlaceDeactivate");
    check.expect(!IsWindow(surface), "the surface window is destroyed");
    check.expectEq(log.count("Site.OnInPlaceDeactivate"), size_t{1}, "the site hears of it once");
    check.expectEq(inPlace->GetWindow(&none), E_FAIL, "no window after deactivation");
    ComPtr<ITolvak> early;
    control->QueryInterface(kIidTolvak, reinterpret_cast<void**>(early.GetAddressOf()));
    check.expectEq(call(early.Get(), &ITolvak::getTolvakValue), std::wstring(L"8888888"),
                   "the control works without windows");

    check.context("activation again");
    check.expectHr(object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site.Get(), 0, host, &position),
                   "UI activation");
    check.expect(log.inOrder({"Site.OnUIActivate", "Frame.SetActiveObject"}),
                 "UI activation told to site and frame");
    check.expectHr(inPlace->GetWindow(&surface), "a new surface");
    check.expectEq(object->DoVerb(7, nullptr, site.Get(), 0, host, &position), OLEOBJ_S_INVALIDVERB,
                   "an unknown verb");
    check.expectHr(object->Close(OLECLOSE_NOSAVE), "Close");
    check.expect(log.inOrder({"Frame.SetActiveObject(null)", "Site.OnUIDeactivate",
                              "Site.OnInPlaceDeactivate"}),
                 ("close sequence: " + log.joined()).c_str());
    check.expect(!IsWindow(surface), "Close destroys the surface");
    object->SetClientSite(nullptr);
    check.expectEq(sink->calls, 0, "the __Tolvak sink got nothing");
}

void checkDraw(IUnknown* control) {
    check.context("IViewObject2::Draw");
    ComPtr<IViewObject2> view;
    control->QueryInterface(IID_IViewObject2, &view);
    const int width = 656, height = 32; // 9840 x 480 twips at 96 dpi
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    UniqueGdiObject bitmap(CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    HGDIOBJ old = SelectObject(dc, bitmap.get());
    std::memset(bits, 0x55, width * height * 4);
    RECTL bounds{0, 0, width, height};
    check.expectHr(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr,
                              nullptr, 0),
                   "Draw");
    check.expectEq(
        view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
        DV_E_DVASPECT, "only the content aspect");
    GdiFlush();
    const auto* px = static_cast<const uint32_t*>(bits);
    auto countIn = [&](int x0, int x1, auto predicate) {
        int n = 0;
        for (int y = 0; y < height; ++y)
            for (int x = x0; x < x1; ++x)
                n += predicate(px[y * width + x] & 0xFFFFFF);
        return n;
    };
    const int displayRight = 1695 * width / 9840;
    auto red = [](uint32_t c) { return (c >> 16) == 0xFF && (c & 0xFFFF) == 0; };
    auto untouched = [](uint32_t c) { return c == 0x555555; };
    check.expect(countIn(0, displayRight, red) > 10, "the display's digits are drawn in red");
    check.expectEq(countIn(displayRight, width, red), 0, "nothing else is red");
    check.expectEq(countIn(0, width, untouched), 0, "the whole surface is painted");
    SelectObject(dc, old);
    DeleteDC(dc);
    SIZEL size{};
    check.expectHr(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), "GetExtent");
    check.expectEq(size.cx, LONG{(9840 * 2540 + 720) / 1440}, "view extent");
}

// The face oleaut32 reports for a font object asked for face (Wine's names the face it realises,
// so a face the system lacks comes back as its substitute).
std::wstring faceAsFontObject(const wchar_t* face) {
    FONTDESC fd{};
    fd.cbSizeofstruct = sizeof fd;
    fd.lpstrName = const_cast<LPOLESTR>(face);
    fd.cySize.int64 = 180000;
    fd.sWeight = 500;
    ComPtr<IFont> font;
    if (FAILED(
            OleCreateFontIndirect(&fd, IID_IFont, reinterpret_cast<void**>(font.GetAddressOf()))))
        return L"?";
    UniqueBstr name;
    font->get_Name(out(name));
    return name.get() ? name.get() : L"";
}

void checkSave(IUnknown* control, HWND host) {
    const std::wstring displayFace = faceAsFontObject(L"LED");
    // Only when the system keeps the face can an ambient font equal the display's.
    const bool ledKept = displayFace == L"LED";
    ComPtr<IPersistPropertyBag> persist;
    control->QueryInterface(IID_IPersistPropertyBag, &persist);
    ComPtr<IOleObject> object;
    control->QueryInterface(IID_IOleObject, &object);
    ComPtr<ITolvak> early;
    control->QueryInterface(kIidTolvak, reinterpret_cast<void**>(early.GetAddressOf()));

    const struct {
        const char* what;
        AmbientFont ambient;
        std::wstring refuse;
        HRESULT result;
        std::vector<std::wstring> names;
    } rows[] = {
        {"ambient Arial", {L"Arial", 10, FW_NORMAL}, L"", S_OK, {L"Font", L"ForeColor"}},
        {"ambient font equal to the display's",
         {L"LED", 18, 500},
         L"",
         S_OK,
         ledKept ? std::vector<std::wstring>{L"ForeColor"}
                 : std::vector<std::wstring>{L"Font", L"ForeColor"}},
        {"ambient font differing only in weight",
         {L"LED", 18, FW_BOLD},
         L"",
         S_OK,
         {L"Font", L"ForeColor"}},
        {"the bag refuses ForeColor",
         {L"Arial", 10, FW_NORMAL},
         L"ForeColor",
         E_ACCESSDENIED,
         {L"Font"}},
        {"the bag refuses Font", {L"Arial", 10, FW_NORMAL}, L"Font", E_ACCESSDENIED, {}},
    };
    CallLog log; // outlives every site below: the control may call a site until it is replaced
    for (const auto& row : rows) {
        check.context(std::string("save, ") + row.what);
        log.calls.clear();
        ComPtr<TestSite> site;
        site.Attach(new TestSite(host, RECT{0, 0, 10, 10}, log, row.ambient));
        object->SetClientSite(site.Get());
        ComPtr<RecordingBag> bag;
        bag.Attach(new RecordingBag());
        bag->refuse = row.refuse;
        check.expectEq(persist->Save(bag.Get(), TRUE, TRUE), row.result, "Save result");
        check.expect(log.count("Ambient." + std::to_string(DISPID_AMBIENT_FONT)) >= 1,
                     "asks for the ambient font");
        if (!check.expectEq(bag->written.size(), row.names.size(), "number of entries")) continue;
        for (size_t i = 0; i < row.names.size(); ++i) {
            const auto& e = bag->written[i];
            check.expectEq(e.name, row.names[i], "entry name in order");
            if (e.name == L"ForeColor") {
                check.expectEq(e.type, VARTYPE{VT_I4}, "ForeColor is an OLE_COLOR");
                check.expectEq(e.number, LONG{0x000000FF}, "ForeColor is red");
            } else if (check.expect(e.font != nullptr, "Font is a font object")) {
                UniqueBstr face;
                CY size{};
                SHORT weight = 0;
                e.font->get_Name(out(face));
                e.font->get_Size(&size);
                e.font->get_Weight(&weight);
                check.expectEq(std::wstring(face.get() ? face.get() : L""), displayFace,
                               "Font face (LED)");
                check.expectEq(static_cast<long long>(size.int64), 180000LL, "Font size 18 pt");
                check.expectEq(weight, SHORT{500}, "Font weight");
            }
        }
    }

    check.context("save after setWinWidth");
    short width = 2500, height = 600;
    VARIANT result;
    VariantInit(&result);
    early->setWinWidth(&width, &result);
    early->setWinHeight(&height, &result);
    object->SetClientSite(nullptr);
    ComPtr<RecordingBag> bag;
    bag.Attach(new RecordingBag());
    check.expectHr(persist->Save(bag.Get(), TRUE, TRUE), "Save");
    for (const auto& e : bag->written) {
        check.expect(e.name != L"Width" && e.name != L"Height" && e.name != L"backstyle",
                     "never Width, Height or backstyle");
    }

    check.context("load reads nothing");
    check.expectHr(persist->Load(bag.Get(), nullptr), "Load");
    check.expectEq(bag->reads, 0, "no property is read");
    check.expectEq(call(early.Get(), &ITolvak::getTolvakValue), std::wstring(L"8888888"),
                   "display unchanged");
    CLSID clsid{};
    check.expectHr(persist->GetClassID(&clsid), "GetClassID");
    check.expectEq(clsid, kClsid, "class id");
    ComPtr<IPersistStreamInit> stream;
    control->QueryInterface(IID_IPersistStreamInit, &stream);
    check.expectEq(stream->IsDirty(), S_FALSE, "never dirty");
    check.expectHr(stream->InitNew(), "InitNew");
    object->SetClientSite(nullptr);
}

} // namespace

int main() {
    OleInitialize(nullptr);
    HWND host = createHostWindow(800, 200);
    check.context("host");
    check.expect(host != nullptr, "host window");
    {
        ComPtr<IUnknown> control = createControl();
        if (control) {
            ComPtr<RecordingSink> sink;
            sink.Attach(new RecordingSink());
            DWORD cookie = 0;
            ComPtr<IConnectionPoint> point;
            checkIdentity(control.Get());
            checkClassInfoAndEvents(control.Get(), sink.Get(), cookie, point);
            checkLateBound(control.Get());
            checkQuickActivate(control.Get(), host);
            checkInPlace(control.Get(), host, sink.Get());
            checkDraw(control.Get());
            checkSave(control.Get(), host);
            checkSimulation(control.Get());
            check.context("connection points");
            if (point) {
                check.expectEq(sink->calls, 0, "the __Tolvak sink got nothing, ever");
                check.expectHr(point->Unadvise(cookie), "Unadvise");
                check.expectEq(point->Unadvise(cookie), CONNECT_E_NOCONNECTION, "Unadvise twice");
            }
        }
    }
    DestroyWindow(host);
    OleUninitialize();
    return check.finish("com_container");
}
