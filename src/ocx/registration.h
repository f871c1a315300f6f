#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvak::com {

// One key of the server's registration under HKEY_CLASSES_ROOT, with at most one value.
struct RegistryEntry {
    std::wstring key;
    std::optional<std::wstring> valueName; // empty: the key's default value
    std::optional<std::wstring> data;      // none: the key only
    bool shared = false; // other servers may hang keys below it: left when it is not empty
};

// The class record, the type library (under locale 0) and both identifiers of each interface,
// with the server's path filled in. Registering writes them in order; unregistering deletes the
// keys in reverse order, children before their parents. The type library is filed under
// `typeLibPlatform` ("win32" or "win64"): by default the platform this build runs on; the
// installer's table of the other bitness asks for it by name.
std::wstring_view nativeTypeLibPlatform();
std::vector<RegistryEntry> registrationTable(const std::wstring& modulePath,
                                             std::wstring_view typeLibPlatform =
                                                 nativeTypeLibPlatform());

HRESULT registerServer(const std::wstring& modulePath);
HRESULT unregisterServer(const std::wstring& modulePath);

} // namespace tolvak::com
