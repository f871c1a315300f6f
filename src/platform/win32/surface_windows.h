#pragma once

#include <windows.h>

#include <array>

#include "control/surface_model.h"
#include "control/tolvak.h"
#include "platform/win32/unique_handle.h"

namespace tolvak::win32 {

// The control's surface as Win32 child windows: the visible strip of the model (display, two
// text boxes, two buttons) placed in pixels at the device's resolution, mirroring the model's
// texts, fonts and sizes. The control works without it; texts live in the model.
class SurfaceWindows : public SurfaceObserver {
  public:
    explicit SurfaceWindows(Tolvak& control);
    ~SurfaceWindows() override;
    SurfaceWindows(const SurfaceWindows&) = delete;
    SurfaceWindows& operator=(const SurfaceWindows&) = delete;

    // Creates the surface window as a child of parent and registers as the model's observer.
    // Throws AutomationError when a window cannot be created.
    HWND create(HWND parent, const RECT& rect);
    void setRect(const RECT& rect);
    void destroy();
    HWND hwnd() const { return m_window.get(); }
    // The window of a visible child, or null.
    HWND childWindow(ChildId id) const { return m_children[index(id)]; }
    HWND toolTipWindow() const { return m_toolTip; }

    void textChanged(ChildId id, std::u16string_view text) override;
    void refreshChild(ChildId id) override;
    void layoutChanged(ChildId id) override;
    void refreshSurface() override;

  private:
    static size_t index(ChildId id) { return static_cast<size_t>(id); }
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void createChild(ChildId id);
    void place(ChildId id);
    void applyFont(ChildId id);
    HBRUSH brushFor(ChildId id);
    const ChildModel* modelOf(HWND child) const;
    void forget();

    Tolvak& m_control;
    int m_dpiX = 96;
    int m_dpiY = 96;
    // Fonts and brushes outlive the windows that use them: declared before the windows.
    std::array<UniqueGdiObject, kChildCount> m_fonts;
    std::array<UniqueGdiObject, kChildCount> m_brushes;
    UniqueWindow m_window;
    std::array<HWND, kChildCount> m_children{}; // destroyed with m_window
    HWND m_toolTip = nullptr;                   // owned by m_window
};

} // namespace tolvak::win32
