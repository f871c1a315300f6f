// Persistence: saving runs the control's save step into the container's property bag; loading
// reads nothing back, so every instance starts from the design-time surface.

#include "ocx/control_object.h"

#include <olectl.h>

#include <variant>

namespace tolvak::com {

namespace {

// What the save step gets when the container offers no ambient font.
const FontDesc kFallbackFont{u"MS Sans Serif", 8.25, FW_NORMAL, DEFAULT_CHARSET};

ComPtr<IFontDisp> createFont(const FontDesc& desc) {
    std::wstring face = toWide(desc.face);
    FONTDESC fd{};
    fd.cbSizeofstruct = sizeof fd;
    fd.lpstrName = face.data();
    fd.cySize.int64 = static_cast<LONGLONG>(desc.size * 10000 + 0.5);
    fd.sWeight = desc.weight;
    fd.sCharset = desc.charset;
    fd.fItalic = desc.italic;
    fd.fUnderline = desc.underline;
    fd.fStrikethrough = desc.strikethrough;
    ComPtr<IFontDisp> font;
    if (FAILED(OleCreateFontIndirect(&fd, IID_IFontDisp,
                                     reinterpret_cast<void**>(font.GetAddressOf()))))
        throw errors::outOfMemory();
    return font;
}

std::optional<FontDesc> describe(IUnknown* fontObject) {
    ComPtr<IFont> font;
    if (!fontObject || FAILED(fontObject->QueryInterface(
                           IID_IFont, reinterpret_cast<void**>(font.GetAddressOf()))))
        return std::nullopt;
    UniqueBstr name;
    CY size{};
    BOOL italic = FALSE, underline = FALSE, strike = FALSE;
    SHORT weight = FW_NORMAL, charset = DEFAULT_CHARSET;
    if (FAILED(font->get_Name(out(name))) || FAILED(font->get_Size(&size))) return std::nullopt;
    font->get_Weight(&weight);
    font->get_Charset(&charset);
    font->get_Italic(&italic);
    font->get_Underline(&underline);
    font->get_Strikethrough(&strike);
    return FontDesc{fromBstr(name.get()),
                    static_cast<double>(size.int64) / 10000,
                    weight,
                    charset,
                    italic != FALSE,
                    underline != FALSE,
                    strike != FALSE};
}

// The container's bag as the save step sees it. A refused write ends the save step with the
// bag's own HRESULT.
class ContainerBag final : public PropertyBag {
  public:
    explicit ContainerBag(IPropertyBag* bag) : m_bag(bag) {}

    void write(const std::u16string& name, const PropertyValue& value) override {
        VARIANT v;
        VariantInit(&v);
        ComPtr<IFontDisp> font;
        if (auto* i = std::get_if<int16_t>(&value)) {
            V_VT(&v) = VT_I2;
            V_I2(&v) = *i;
        } else if (auto* f = std::get_if<FontDesc>(&value)) {
            font = createFont(*f);
            V_VT(&v) = VT_DISPATCH;
            V_DISPATCH(&v) = font.Get(); // borrowed for the call
        } else if (auto* c = std::get_if<uint32_t>(&value)) {
            V_VT(&v) = VT_I4; // OLE_COLOR
            V_I4(&v) = static_cast<LONG>(*c);
        } else {
            V_VT(&v) = VT_R4;
            V_R4(&v) = std::get<float>(value);
        }
        std::wstring wide = toWide(name);
        HRESULT hr = m_bag->Write(wide.c_str(), &v);
        if (FAILED(hr)) {
            m_failure = hr;
            throw AutomationError(HRESULT_CODE(hr), u"The property bag refused " + name);
        }
    }
    HRESULT failure() const { return m_failure; }

  private:
    IPropertyBag* m_bag;
    HRESULT m_failure = S_OK;
};

} // namespace

FontDesc ControlObject::ambientFont() const {
    ComPtr<IDispatch> ambients;
    if (!m_clientSite || FAILED(m_clientSite.As(&ambients))) return kFallbackFont;
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{};
    if (FAILED(ambients->Invoke(DISPID_AMBIENT_FONT, IID_NULL, LOCALE_USER_DEFAULT,
                                DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr)))
        return kFallbackFont;
    std::optional<FontDesc> font;
    if (V_VT(&result) == VT_DISPATCH || V_VT(&result) == VT_UNKNOWN)
        font = describe(V_UNKNOWN(&result));
    VariantClear(&result);
    return font.value_or(kFallbackFont);
}

STDMETHODIMP ControlObject::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = kClsid;
    return S_OK;
}

// Nothing the container could save is ever read back, so there is nothing to lose.
STDMETHODIMP ControlObject::IsDirty() {
    return S_FALSE;
}
STDMETHODIMP ControlObject::Load(LPSTREAM stream) {
    return stream ? S_OK : E_POINTER;
}
STDMETHODIMP ControlObject::Save(LPSTREAM stream, BOOL) {
    return stream ? S_OK : E_POINTER;
}

STDMETHODIMP ControlObject::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
}

STDMETHODIMP ControlObject::InitNew() {
    return S_OK;
}
STDMETHODIMP ControlObject::Load(IPropertyBag* bag, IErrorLog*) {
    return bag ? S_OK : E_POINTER;
}

STDMETHODIMP ControlObject::Save(IPropertyBag* bag, BOOL, BOOL) {
    if (!bag) return E_POINTER;
    ContainerBag container(bag);
    const FontDesc ambient = ambientFont();
    if (auto error = trapErrors([&] { m_control->writeProperties(container, ambient); }))
        return FAILED(container.failure()) ? container.failure() : E_FAIL;
    return S_OK;
}

} // namespace tolvak::com
