// The surface's child windows: places at the prefix's resolution, texts, fonts, colours, tool
// tips, the model's changes mirrored, and clicks reaching OpenComm and CloseComm.

#include <windows.h>

#include <commctrl.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/null_components.h"
#include "control/tolvak.h"
#include "platform/win32/surface_windows.h"
#include "platform/win32/win32_platform.h"
#include "platform_harness.h"

using namespace tolvak;
using namespace tolvak::wintest;

namespace {

// The serial component without a port, recording when the buttons open and close it.
class RecordingSerial : public NullSerialControl {
  public:
    void setPortOpen(bool open) override {
        NullSerialControl::setPortOpen(open);
        log.push_back(open ? "open" : "close");
    }

    std::vector<std::string> log;
};

std::wstring textOf(HWND hwnd) {
    wchar_t buffer[512] = {};
    GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

std::wstring classOf(HWND hwnd) {
    wchar_t buffer[64] = {};
    GetClassNameW(hwnd, buffer, 64);
    return buffer;
}

LOGFONTW fontOf(HWND hwnd) {
    LOGFONTW font{};
    auto handle = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    if (handle) GetObjectW(handle, sizeof font, &font);
    return font;
}

RECT placeOf(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int pixels(double twips, int dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

struct ChildRow {
    ChildId id;
    const char* name;
    const wchar_t* kind;
    int left, top, width, height; // twips
    const wchar_t* text;
    const wchar_t* toolTip; // null: the model's wording
};

const ChildRow kChildren[] = {
    {ChildId::lblNumber, "lblNumber", L"Edit", 0, 0, 1695, 480, L"8888888", nullptr},
    {ChildId::OutMsg, "OutMsg", L"Edit", 1800, 0, 3135, 495, L"", L""},
    {ChildId::OutPutChar, "OutPutChar", L"Edit", 5040, 0, 3255, 495, L"", L""},
    {ChildId::StartPortBtn, "StartPortBtn", L"Button", 8400, 0, 615, 375, L"\x6253\x5F00",
     L"\x6253\x5F00\x7F3A\x7701\x4E32\x53E3\xFF1A\x6CE2\x7279\x7387"
     L"2400"},
    {ChildId::StopPortBtn, "StopPortBtn", L"Button", 9120, 0, 615, 375, L"\x5173\x95ED",
     L"\x5173\x95ED\x4E32\x53E3"},
};

std::wstring toolTipText(HWND toolTip, HWND surface, HWND child) {
    wchar_t buffer[256] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = surface;
    tool.uId = reinterpret_cast<UINT_PTR>(child);
    tool.lpszText = buffer;
    SendMessageW(toolTip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
    return buffer;
}

void childrenAsDesigned(Checker& check, Tolvak& control, win32::SurfaceWindows& surface, int dpiX,
                        int dpiY) {
    for (const ChildRow& row : kChildren) {
        check.context(row.name);
        HWND child = surface.childWindow(row.id);
        if (!check.expect(child != nullptr, "window exists")) continue;
        check.expect(GetParent(child) == surface.hwnd(), "child of the surface");
        check.expect(_wcsicmp(classOf(child).c_str(), row.kind) == 0, "kind of window");
        RECT place = placeOf(child);
        check.expectEq(place.left, pixels(row.left, dpiX), "left");
        check.expectEq(place.top, pixels(row.top, dpiY), "top");
        check.expectEq(place.right - place.left, pixels(row.width, dpiX), "width");
        check.expectEq(place.bottom - place.top, pixels(row.height, dpiY), "height");
        check.expectEq(textOf(child), std::wstring(row.text), "text");
        std::wstring tip =
            row.toolTip ? row.toolTip : wideOf(control.surface().child(row.id).toolTip);
        check.expectEq(toolTipText(surface.toolTipWindow(), surface.hwnd(), child), tip,
                       "tool tip");
        check.expect((GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0, "tab stop");
    }
    check.context("lblNumber font and colour");
    LOGFONTW led = fontOf(surface.childWindow(ChildId::lblNumber));
    check.expectEq(std::wstring(led.lfFaceName), std::wstring(L"LED"), "face");
    check.expectEq(led.lfHeight, -static_cast<LONG>(std::lround(18.0 * dpiY / 72)), "18 point");
    check.expectEq(led.lfWeight, LONG{500}, "weight");
    check.expect(std::wstring(fontOf(surface.childWindow(ChildId::OutMsg)).lfFaceName) != L"LED",
                 "the text boxes keep the surface's font");
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(surface.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(surface.childWindow(ChildId::lblNumber)));
    check.expectEq(static_cast<unsigned long>(GetTextColor(dc)), 0x0000FFul, "red text");
    SendMessageW(surface.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(surface.childWindow(ChildId::OutMsg)));
    check.expectEq(static_cast<unsigned long>(GetTextColor(dc)),
                   static_cast<unsigned long>(GetSysColor(COLOR_WINDOWTEXT)), "window text");
    DeleteDC(dc);
}

void modelChangesAreMirrored(Checker& check, Tolvak& control, win32::SurfaceWindows& surface,
                             RecordingSerial& serial, int dpiX, int dpiY) {
    HWND display = surface.childWindow(ChildId::lblNumber);
    check.context("receive event");
    serial.setPortOpen(true);
    serial.feed(u"43210000=77");
    check.expectEq(textOf(display), std::wstring(L"1234"), "weight shown");
    check.expectEq(textOf(surface.childWindow(ChildId::OutPutChar)), std::wstring(L"43210000=77"),
                   "raw buffer shown");
    check.expectEq(textOf(surface.childWindow(ChildId::OutMsg)), std::wstring(L"43210000=77"),
                   "chunk shown");
    check.context("a NUL from the line");
    serial.feed(std::u16string(u"A\0B", 3));
    check.expectEq(textOf(surface.childWindow(ChildId::OutMsg)), std::wstring(L"A B"),
                   "shown as a blank, the rest kept");

    check.context("simulated reading");
    control.onTimer();
    check.expectEq(textOf(display), wideOf(control.getTolvakValue()), "display follows the model");

    struct SizeRow {
        const char* name;
        std::function<void()> change;
        int width, height; // twips expected afterwards
        double points;
    } rows[] = {
        {"setWinWidth", [&] { control.setWinWidth(3000); }, 3000, 480, 18},
        {"setWinHeight", [&] { control.setWinHeight(600); }, 3000, 600, 18},
        {"setWinFontSize", [&] { control.setWinFontSize(36); }, 3000, 600, 36},
        {"refused font size keeps the old one",
         [&] {
             try {
                 control.setWinFontSize(0);
             } catch (const AutomationError&) {
             }
         },
         3000, 600, 36},
    };
    for (const SizeRow& row : rows) {
        check.context(row.name);
        row.change();
        RECT place = placeOf(display);
        check.expectEq(place.right - place.left, pixels(row.width, dpiX), "width");
        check.expectEq(place.bottom - place.top, pixels(row.height, dpiY), "height");
        check.expectEq(fontOf(display).lfHeight,
                       -static_cast<LONG>(std::lround(row.points * dpiY / 72)), "font height");
        check.expectEq(std::wstring(fontOf(display).lfFaceName), std::wstring(L"LED"), "face");
    }
}

void clicksReachTheControl(Checker& check, RecordingSerial& serial, win32::SurfaceWindows& surface,
                           BoxWatcher& boxes) {
    check.context("buttons");
    serial.setPortOpen(false);
    serial.log.clear();
    SendMessageW(surface.childWindow(ChildId::StartPortBtn), BM_CLICK, 0, 0);
    check.expect(serial.log == std::vector<std::string>{"open"}, "open button runs OpenComm");
    SendMessageW(surface.childWindow(ChildId::StopPortBtn), BM_CLICK, 0, 0);
    check.expect(serial.log == std::vector<std::string>({"open", "close"}),
                 "close button runs CloseComm");
    check.expectEq(boxes.boxes.size(), size_t{0}, "no boxes");
}

} // namespace

// Optional argument: the resolution the script has given the prefix.
int main(int argc, char** argv) {
    Checker check;
    BoxWatcher boxes;
    Platform platform = win32::makePlatform();
    auto serialOwned = std::make_unique<RecordingSerial>();
    RecordingSerial& serial = *serialOwned;
    platform.serial = std::move(serialOwned);
    Tolvak control(std::move(platform));

    HWND parent = CreateWindowExW(0, L"STATIC", L"host form", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                  0, 800, 200, nullptr, nullptr, nullptr, nullptr);
    check.expect(parent != nullptr, "host window");
    HDC screen = GetDC(nullptr);
    int dpiX = GetDeviceCaps(screen, LOGPIXELSX);
    int dpiY = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    std::printf("prefix resolution %d x %d dpi\n", dpiX, dpiY);
    if (argc > 1) check.expectEq(dpiX, std::atoi(argv[1]), "the resolution the script set");

    {
        win32::SurfaceWindows surface(control);
        RECT rect{0, 0, pixels(SurfaceModel::kWidth, dpiX), pixels(SurfaceModel::kHeight, dpiY)};
        HWND hwnd = surface.create(parent, rect);
        check.context("surface");
        check.expect(hwnd && hwnd == surface.hwnd() && GetParent(hwnd) == parent, "created");
        childrenAsDesigned(check, control, surface, dpiX, dpiY);
        modelChangesAreMirrored(check, control, surface, serial, dpiX, dpiY);
        clicksReachTheControl(check, serial, surface, boxes);

        check.context("destroy");
        HWND display = surface.childWindow(ChildId::lblNumber);
        surface.destroy();
        check.expect(!surface.hwnd() && !IsWindow(hwnd) && !IsWindow(display), "windows gone");
        control.onTimer(); // the model carries on without windows
        check.expect(!control.getTolvakValue().empty(), "text lives in the model");

        check.context("host destroys its form first");
        surface.create(parent, rect);
        DestroyWindow(parent);
        check.expect(!surface.hwnd(), "surface forgets its windows");
        control.onTimer();
        check.expect(surface.childWindow(ChildId::lblNumber) == nullptr, "no stale child");
    }
    return check.finish("platform_surface");
}
