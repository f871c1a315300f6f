#pragma once

#include <windows.h>

#include <string>

namespace tolvak::com {

// The in-process server: the module handle, and what keeps it loaded (live objects and locks).
class ServerModule {
  public:
    static HINSTANCE instance();
    static std::wstring path(); // full path of Tolvak.ocx
    static void objectCreated();
    static void objectDestroyed();
    static void lock(bool on);
    static bool canUnload();
};

} // namespace tolvak::com
