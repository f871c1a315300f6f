// Renders the control as hosted in place into a bitmap file, for the README's picture. The
// window tree is printed window by window (Wine's WM_PRINT does not draw children itself).
// Usage: com_screenshot OUT.bmp

#include <windows.h>

#include <cstdio>
#include <vector>

#include "com_check.h"
#include "com_host.h"

using namespace tolvak::com;
using namespace tolvak::wintest;

namespace {

Checker check;

// Prints window and, on top of it, its visible children, bottom of the z-order first.
void printTree(HWND window, HDC target, POINT origin) {
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC dc = CreateCompatibleDC(target);
    UniqueGdiObject bitmap(CreateCompatibleBitmap(target, w, h));
    HGDIOBJ old = SelectObject(dc, bitmap.get());
    PrintWindow(window, dc, 0);
    BitBlt(target, origin.x, origin.y, w, h, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old);
    DeleteDC(dc);
    std::vector<HWND> children;
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        children.push_back(c);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (!IsWindowVisible(*it)) continue;
        RECT cr;
        GetWindowRect(*it, &cr);
        printTree(*it, target, POINT{origin.x + cr.left - r.left, origin.y + cr.top - r.top});
    }
}

bool writeBmp(const char* path, HDC dc, HBITMAP bitmap, int w, int h) {
    BITMAPINFOHEADER header{sizeof header, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const int stride = (w * 3 + 3) & ~3;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * h);
    if (!GetDIBits(dc, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
                   DIB_RGB_COLORS))
        return false;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path, "wb");
    if (!out) return false;
    bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
              std::fwrite(&header, sizeof header, 1, out) == 1 &&
              std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    return std::fclose(out) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: com_screenshot OUT.bmp\n");
        return 1;
    }
    OleInitialize(nullptr);
    HWND host = createHostWindow(720, 120);
    RECT client;
    GetClientRect(host, &client);
    const RECT position{12, 12, 12 + 656, 12 + 32}; // 9840 x 480 twips at 96 dpi
    CallLog log;
    {
        check.context("host");
        InPlaceControl hosted(check, host, position, log);
        if (hosted.ready()) {
            pumpMessages(300);
            HWND surface = nullptr;
            ComPtr<IOleInPlaceObject> inPlace;
            hosted.unknown->QueryInterface(IID_IOleInPlaceObject, &inPlace);
            inPlace->GetWindow(&surface);

            const int w = client.right, h = 56;
            HDC screen = GetDC(host);
            HDC dc = CreateCompatibleDC(screen);
            UniqueGdiObject bitmap(CreateCompatibleBitmap(screen, w, h));
            HGDIOBJ old = SelectObject(dc, bitmap.get());
            RECT all{0, 0, w, h};
            FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
            if (check.expect(surface != nullptr, "surface window"))
                printTree(surface, dc, POINT{position.left, position.top});
            SelectObject(dc, old);
            check.expect(writeBmp(argv[1], dc, static_cast<HBITMAP>(bitmap.get()), w, h),
                         "bitmap written");
            DeleteDC(dc);
            ReleaseDC(host, screen);
        }
    }
    DestroyWindow(host);
    OleUninitialize();
    return check.finish("com_screenshot");
}
