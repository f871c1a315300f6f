// IViewObject2: a container that has not activated the control in place (a form designer, a
// print preview) still sees the strip, painted from the surface model.

#include "ocx/control_object.h"

#include <olectl.h>

#include "platform/win32/log_font.h"

namespace tolvak::com {

namespace {

COLORREF colorOf(uint32_t oleColor) {
    COLORREF color = 0;
    return SUCCEEDED(OleTranslateColor(oleColor, nullptr, &color)) ? color
                                                                   : GetSysColor(COLOR_WINDOWTEXT);
}

// The model is laid out in twips; the bounds stand for the whole surface.
class TwipsToBounds {
  public:
    explicit TwipsToBounds(const RECTL& bounds) : m_bounds(bounds) {}
    LONG x(double twips) const {
        return m_bounds.left + scale(twips, m_bounds.right - m_bounds.left, SurfaceModel::kWidth);
    }
    LONG y(double twips) const {
        return m_bounds.top + scale(twips, m_bounds.bottom - m_bounds.top, SurfaceModel::kHeight);
    }
    // Font height in device units for a size in points (20 twips each).
    LONG fontHeight(double points) const {
        return scale(points * 20, m_bounds.bottom - m_bounds.top, SurfaceModel::kHeight);
    }

  private:
    static LONG scale(double twips, LONG extent, int32_t total) {
        return static_cast<LONG>(twips * extent / total + 0.5);
    }
    RECTL m_bounds;
};

// Children without a font of their own use the surface's, which is the container's ambient font.
void drawChild(HDC dc, const ChildModel& child, const FontDesc& surfaceFont,
               const TwipsToBounds& map, const RECT& surface) {
    RECT r{map.x(child.left), map.y(child.top), map.x(child.left + child.width),
           map.y(child.top + child.height)};
    IntersectRect(&r, &r, &surface); // the text boxes are taller than the surface
    const FontDesc desc = child.font.value_or(surfaceFont);
    const LOGFONTW lf = win32::logFontOf(desc, -map.fontHeight(desc.size));
    UniqueGdiObject font(CreateFontIndirectW(&lf));
    HGDIOBJ oldFont = SelectObject(dc, font.get());
    std::wstring text = toWide(child.text);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colorOf(child.foreColor));
    if (child.kind == ChildKind::PushButton) {
        DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    } else {
        UniqueGdiObject brush(CreateSolidBrush(colorOf(child.backColor)));
        FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
        DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT);
        RECT inner = r;
        InflateRect(&inner, -2, -2);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inner,
                  DT_LEFT | DT_TOP | DT_SINGLELINE);
    }
    SelectObject(dc, oldFont);
}

} // namespace

STDMETHODIMP ControlObject::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                                 LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                 ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc || !bounds) return E_INVALIDARG;
    const TwipsToBounds map(*bounds);
    const FontDesc surfaceFont = ambientFont();
    const RECT surface{bounds->left, bounds->top, bounds->right, bounds->bottom};
    FillRect(dc, &surface, GetSysColorBrush(COLOR_BTNFACE));
    for (const ChildModel& child : m_control->surface().children())
        if (child.visibleAtRunTime()) drawChild(dc, child, surfaceFont, map, surface);
    return S_OK;
}

STDMETHODIMP ControlObject::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                        LOGPALETTE** colors) {
    if (colors) *colors = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP ControlObject::Freeze(DWORD, LONG, void*, DWORD*) {
    return E_NOTIMPL;
}
STDMETHODIMP ControlObject::Unfreeze(DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP ControlObject::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) {
    m_viewSink = sink;
    m_viewAspects = aspects;
    m_viewAdvf = advf;
    return S_OK;
}

STDMETHODIMP ControlObject::GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) {
    if (aspects) *aspects = m_viewAspects;
    if (advf) *advf = m_viewAdvf;
    if (sink) m_viewSink.CopyTo(sink);
    return S_OK;
}

STDMETHODIMP ControlObject::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

} // namespace tolvak::com
