// IDispatch and the _Tolvak methods: late-bound calls go through the type library into the
// vtable, so both kinds of caller reach the same code.

#include "ocx/control_object.h"

namespace tolvak::com {

namespace {

// Automation numbers travel in FACILITY_CONTROL, as clients expect (VB shows the number itself).
// A number that is already an HRESULT passes as it is; one that does not fit cannot be told
// apart from another, so it is a plain failure rather than a wrong number.
constexpr HRESULT toHresult(int32_t number) {
    if (number < 0) return static_cast<HRESULT>(number);
    if (number == 0 || number > 0xFFFF) return E_FAIL;
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<uint16_t>(number));
}

void setErrorInfo(const AutomationError& error) {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) return;
    std::wstring description = toWide(error.description());
    create->SetGUID(kIidTolvak);
    create->SetSource(const_cast<LPOLESTR>(kProgId));
    create->SetDescription(description.data());
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
}

// The type the method's by-reference argument points to, or VT_EMPTY when it has none.
VARTYPE argumentType(ITypeInfo* info, DISPID id) {
    ComPtr<ITypeInfo2> info2;
    UINT index = 0;
    if (FAILED(info->QueryInterface(IID_PPV_ARGS(&info2))) ||
        FAILED(info2->GetFuncIndexOfMemId(id, INVOKE_FUNC, &index)))
        return VT_EMPTY;
    FUNCDESC* fd = nullptr;
    if (FAILED(info->GetFuncDesc(index, &fd))) return VT_EMPTY;
    VARTYPE type = VT_EMPTY;
    if (fd->cParams > 0) {
        const ELEMDESC& first = fd->lprgelemdescParam[0];
        if (!(first.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) && first.tdesc.vt == VT_PTR)
            type = first.tdesc.lptdesc->vt;
    }
    info->ReleaseFuncDesc(fd);
    return type;
}

// The caller's argument, whatever it is (a by-reference variant from a script, a literal, a
// number of another type), as a private copy of the type the method takes, passed by reference
// to that copy: the method cannot change the caller's variable, and oleaut32 does not refuse
// the by-reference variant.
class ArgumentCopy {
  public:
    ArgumentCopy() { VariantInit(&m_value); }
    ~ArgumentCopy() { VariantClear(&m_value); }

    HRESULT take(const VARIANT& argument, VARTYPE type) {
        const VARIANT* source = &argument;
        if (V_VT(source) == (VT_VARIANT | VT_BYREF)) source = V_VARIANTREF(source);
        if (!source) return DISP_E_TYPEMISMATCH;
        HRESULT hr = VariantChangeType(&m_value, const_cast<VARIANT*>(source), 0, type);
        if (FAILED(hr)) return hr;
        VariantInit(&m_reference);
        V_VT(&m_reference) = static_cast<VARTYPE>(type | VT_BYREF);
        if (type == VT_I2)
            V_I2REF(&m_reference) = &V_I2(&m_value);
        else
            V_BSTRREF(&m_reference) = &V_BSTR(&m_value);
        return S_OK;
    }
    VARIANT* reference() { return &m_reference; }

  private:
    VARIANT m_value;
    VARIANT m_reference;
};

} // namespace

template <typename Call> HRESULT ControlObject::guarded(Call&& call) {
    if (auto error = trapErrors(std::forward<Call>(call))) {
        setErrorInfo(*error);
        m_lastError = *error;
        return toHresult(error->number());
    }
    return S_OK;
}

HRESULT ControlObject::shortSetter(void (Tolvak::*method)(int16_t), short* argument,
                                   VARIANT* result) {
    if (!argument) return E_POINTER;
    if (result) VariantInit(result); // VT_EMPTY
    const int16_t value = *argument;
    return guarded([&] { (m_control.get()->*method)(value); });
}

HRESULT ControlObject::textSetter(void (Tolvak::*method)(const std::u16string&), BSTR* argument,
                                  VARIANT* result) {
    if (!argument) return E_POINTER;
    if (result) VariantInit(result);
    const std::u16string value = fromBstr(*argument);
    return guarded([&] { (m_control.get()->*method)(value); });
}

template <typename Getter> HRESULT ControlObject::textGetter(Getter getter, BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return guarded([&] {
        std::u16string text = getter(*m_control);
        *result = toBstr(text);
        if (!*result) throw errors::outOfMemory();
    });
}

HRESULT ControlObject::action(void (Tolvak::*method)()) {
    return guarded([&] { (m_control.get()->*method)(); });
}

STDMETHODIMP ControlObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP ControlObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return m_dispatchInfo.CopyTo(info);
}

STDMETHODIMP ControlObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(m_interfaceInfo.Get(), names, count, ids);
}

STDMETHODIMP ControlObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_INVALIDARG;

    DISPPARAMS call = *params;
    ArgumentCopy copy;
    const VARTYPE type = argumentType(m_interfaceInfo.Get(), id);
    if (type != VT_EMPTY && params->cArgs == 1 && params->cNamedArgs == 0) {
        HRESULT hr = copy.take(params->rgvarg[0], type);
        if (FAILED(hr)) {
            if (argError) *argError = 0;
            return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
        }
        call.rgvarg = copy.reference();
    }

    m_lastError.reset();
    ComPtr<ITolvak> self(this); // the call may release the caller's last other reference
    HRESULT hr = m_interfaceInfo->Invoke(static_cast<ITolvak*>(this), id, flags, &call, result,
                                         exception, argError);
    if (m_lastError && exception) {
        // Whatever oleaut32 made of the failure, the caller gets the control's own number and text.
        SysFreeString(exception->bstrSource);
        SysFreeString(exception->bstrDescription);
        SysFreeString(exception->bstrHelpFile);
        *exception = EXCEPINFO{};
        exception->scode = toHresult(m_lastError->number());
        exception->bstrSource = SysAllocString(kProgId);
        exception->bstrDescription = toBstr(m_lastError->description());
        hr = DISP_E_EXCEPTION;
    }
    m_lastError.reset();
    return hr;
}

// Each method forwards to the control by its shape.
#define TOLVAK_FORWARD_Getter(name) textGetter([](Tolvak& c) { return c.name(); }, result)
#define TOLVAK_FORWARD_ConstGetter TOLVAK_FORWARD_Getter
#define TOLVAK_FORWARD_Action(name) action(&Tolvak::name)
#define TOLVAK_FORWARD_ShortSetter(name) shortSetter(&Tolvak::name, argument, result)
#define TOLVAK_FORWARD_TextSetter(name) textSetter(&Tolvak::name, argument, result)
#define TOLVAK_METHOD(name, dispid, place, shape, param)                                           \
    STDMETHODIMP ControlObject::name(TOLVAK_COM_PARAMETERS_##shape) {                              \
        return TOLVAK_FORWARD_##shape(name);                                                       \
    }
#define TOLVAK_METHOD_VTABLE_LAST TOLVAK_METHOD
#include "control/methods.def"

} // namespace tolvak::com
