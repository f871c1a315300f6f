#include "platform/win32/surface_windows.h"

#include <commctrl.h>

#include <cmath>

#include "platform/win32/log_font.h"
#include "platform/win32/message_window.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace tolvak::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TolvakSurface";
constexpr int kFirstChildId = 100;
constexpr double kTwipsPerInch = 1440;
constexpr double kPointsPerInch = 72;

int childControlId(ChildId id) {
    return kFirstChildId + static_cast<int>(id);
}

int toPixels(double twips, int dpi) {
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

// OLE_COLOR: an RGB reference, or a system colour index with the high bit set.
COLORREF colorRef(uint32_t color) {
    if (color & 0x80000000u) return GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color & 0xFFFFFF);
}

std::u16string windowText(std::u16string_view text) {
    // A NUL from the serial line would end the window's text there; show it as a blank.
    std::u16string shown(text);
    for (char16_t& c : shown)
        if (c == u'\0') c = u' ';
    return shown;
}

} // namespace

SurfaceWindows::SurfaceWindows(Tolvak& control) : m_control(control) {}

SurfaceWindows::~SurfaceWindows() {
    destroy();
}

HWND SurfaceWindows::create(HWND parent, const RECT& rect) {
    destroy();
    INITCOMMONCONTROLSEX common{sizeof common, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&common);
    registerWindowClass(kClassName, &SurfaceWindows::windowProc,
                        reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    HWND hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                                moduleInstance(), this);
    if (!hwnd) throw fromWin32(GetLastError(), u"surface window");
    m_window.reset(hwnd);

    HDC dc = GetDC(hwnd);
    m_dpiX = GetDeviceCaps(dc, LOGPIXELSX);
    m_dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(hwnd, dc);

    m_toolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd,
                                nullptr, moduleInstance(), nullptr);
    // Tab order is creation order.
    for (ChildId id : {ChildId::lblNumber, ChildId::OutMsg, ChildId::OutPutChar,
                       ChildId::StartPortBtn, ChildId::StopPortBtn})
        createChild(id);
    m_control.surface().setObserver(this);
    return hwnd;
}

void SurfaceWindows::createChild(ChildId id) {
    const ChildModel& model = m_control.surface().child(id);
    bool isButton = model.kind == ChildKind::PushButton;
    DWORD style = WS_CHILD | WS_VISIBLE | (model.tabIndex >= 0 ? WS_TABSTOP : 0);
    DWORD exStyle = 0;
    if (isButton) {
        style |= BS_PUSHBUTTON;
    } else {
        style |= ES_AUTOHSCROLL | ES_READONLY | (id == ChildId::lblNumber ? ES_RIGHT : ES_LEFT);
        exStyle |= WS_EX_CLIENTEDGE;
    }
    std::u16string text = windowText(model.text);
    HWND child = CreateWindowExW(exStyle, isButton ? L"BUTTON" : L"EDIT", wide(text), style, 0, 0,
                                 0, 0, m_window.get(),
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(childControlId(id))),
                                 moduleInstance(), nullptr);
    if (!child) throw fromWin32(GetLastError(), std::u16string(model.name));
    m_children[index(id)] = child;
    if (!isButton) SendMessageW(child, EM_SETLIMITTEXT, 0, 0); // the raw buffer may be long
    applyFont(id);
    place(id);

    if (m_toolTip && !model.toolTip.empty()) {
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE; // understood by every comctl32 version
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = m_window.get();
        tool.uId = reinterpret_cast<UINT_PTR>(child);
        tool.lpszText = const_cast<wchar_t*>(wide(model.toolTip));
        SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void SurfaceWindows::place(ChildId id) {
    HWND child = m_children[index(id)];
    if (!child) return;
    const ChildModel& model = m_control.surface().child(id);
    if (!MoveWindow(child, toPixels(model.left, m_dpiX), toPixels(model.top, m_dpiY),
                    toPixels(model.width, m_dpiX), toPixels(model.height, m_dpiY), TRUE))
        throw fromWin32(GetLastError(), std::u16string(model.name));
}

void SurfaceWindows::applyFont(ChildId id) {
    HWND child = m_children[index(id)];
    if (!child) return;
    const ChildModel& model = m_control.surface().child(id);
    if (!model.font) {
        // The surface's own font.
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                     TRUE);
        m_fonts[index(id)].reset();
        return;
    }
    const FontDesc& desc = *model.font;
    const LOGFONTW logFont =
        logFontOf(desc, -static_cast<LONG>(std::lround(desc.size * m_dpiY / kPointsPerInch)));
    HFONT font = CreateFontIndirectW(&logFont);
    if (!font) throw fromWin32(GetLastError(), std::u16string(model.name));
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    m_fonts[index(id)].reset(font); // after the child has let go of the old one
}

void SurfaceWindows::setRect(const RECT& rect) {
    if (!m_window) return;
    MoveWindow(m_window.get(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               TRUE);
}

void SurfaceWindows::destroy() {
    if (!m_window) return;
    DestroyWindow(m_window.get()); // its WM_NCDESTROY forgets the children
    if (m_window) forget();
}

void SurfaceWindows::forget() {
    m_control.surface().setObserver(nullptr);
    m_children.fill(nullptr);
    m_toolTip = nullptr;
    m_window.release();
    for (auto& font : m_fonts)
        font.reset();
    for (auto& brush : m_brushes)
        brush.reset();
}

void SurfaceWindows::textChanged(ChildId id, std::u16string_view text) {
    HWND child = m_children[index(id)];
    if (!child) return;
    if (!SetWindowTextW(child, wide(windowText(text))))
        throw fromWin32(GetLastError(), std::u16string(m_control.surface().child(id).name));
}

void SurfaceWindows::refreshChild(ChildId id) {
    HWND child = m_children[index(id)];
    if (child) RedrawWindow(child, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void SurfaceWindows::layoutChanged(ChildId id) {
    applyFont(id);
    place(id);
}

void SurfaceWindows::refreshSurface() {
    if (m_window)
        RedrawWindow(m_window.get(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

const ChildModel* SurfaceWindows::modelOf(HWND child) const {
    for (size_t i = 0; i < kChildCount; ++i)
        if (m_children[i] && m_children[i] == child) return &m_control.surface().children()[i];
    return nullptr;
}

HBRUSH SurfaceWindows::brushFor(ChildId id) {
    uint32_t color = m_control.surface().child(id).backColor;
    if (color & 0x80000000u) return GetSysColorBrush(static_cast<int>(color & 0xFF));
    UniqueGdiObject& brush = m_brushes[index(id)];
    if (!brush) brush.reset(CreateSolidBrush(colorRef(color)));
    return static_cast<HBRUSH>(brush.get());
}

LRESULT SurfaceWindows::handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            // OpenComm and CloseComm report their own failures; nothing unwinds from here.
            try {
                if (LOWORD(wParam) == childControlId(ChildId::StartPortBtn))
                    m_control.clickStartPortBtn();
                else if (LOWORD(wParam) == childControlId(ChildId::StopPortBtn))
                    m_control.clickStopPortBtn();
            } catch (...) {
            }
            return 0;
        }
        break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: // read-only text boxes ask with this one
        if (const ChildModel* model = modelOf(reinterpret_cast<HWND>(lParam))) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            ChildId id = static_cast<ChildId>(model - &m_control.surface().children()[0]);
            SetTextColor(dc, colorRef(model->foreColor));
            SetBkColor(dc, colorRef(model->backColor));
            return reinterpret_cast<LRESULT>(brushFor(id));
        }
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        forget();
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK SurfaceWindows::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = windowOwner<SurfaceWindows>(hwnd, message, lParam);
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->handle(hwnd, message, wParam, lParam);
}

} // namespace tolvak::win32
