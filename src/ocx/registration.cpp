#include "ocx/registration.h"

#include <olectl.h>

#include "ocx/guids.h"
#include "ocx/handles.h"

namespace tolvak::com {

namespace {

std::wstring text(const GUID& guid) {
    wchar_t buffer[40] = {};
    StringFromGUID2(guid, buffer, 40);
    return buffer;
}

std::wstring folderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Automation's own proxies: for a dual interface, and for a pure dispinterface.
constexpr GUID kOleAutomationProxy = {0x00020424, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID kDispatchProxy = {0x00020420, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// CATID_Control
constexpr GUID kControlCategory = {
    0x40FC6ED4, 0x2438, 0x11CF, {0xA3, 0xDB, 0x08, 0x00, 0x36, 0xF1, 0x25, 0x02}};

void addInterface(std::vector<RegistryEntry>& t, const GUID& iid, const wchar_t* name,
                  const GUID& proxy) {
    const std::wstring key = L"Interface\\" + text(iid);
    const std::wstring version = std::to_wstring(kLibMajor) + L"." + std::to_wstring(kLibMinor);
    t.push_back({key, std::wstring(), name});
    t.push_back({key + L"\\ProxyStubClsid", std::wstring(), text(proxy)});
    t.push_back({key + L"\\ProxyStubClsid32", std::wstring(), text(proxy)});
    t.push_back({key + L"\\TypeLib", std::wstring(), text(kLibId)});
    t.push_back({key + L"\\TypeLib", L"Version", version});
}

HRESULT fromStatus(LSTATUS status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT write(const RegistryEntry& entry) {
    UniqueRegKey key;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, out(key), nullptr);
    if (status != ERROR_SUCCESS || !entry.data) return fromStatus(status);
    const std::wstring& data = *entry.data;
    return fromStatus(RegSetValueExW(key.get(),
                                     entry.valueName->empty() ? nullptr : entry.valueName->c_str(),
                                     0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
}

} // namespace

// The type library is filed under the platform this build of the module runs on.
std::wstring_view nativeTypeLibPlatform() { return sizeof(void*) == 8 ? L"win64" : L"win32"; }

std::vector<RegistryEntry> registrationTable(const std::wstring& modulePath,
                                             std::wstring_view typeLibPlatform) {
    const std::wstring clsid = L"CLSID\\" + text(kClsid);
    const std::wstring version = std::to_wstring(kLibMajor) + L"." + std::to_wstring(kLibMinor);
    const std::wstring typeLib = L"TypeLib\\" + text(kLibId);
    std::vector<RegistryEntry> t = {
        {clsid, std::wstring(), kClassName},
        {clsid + L"\\InprocServer32", std::wstring(), modulePath},
        {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {clsid + L"\\ProgID", std::wstring(), kProgId},
        {clsid + L"\\Control", std::wstring(), L""},
        {clsid + L"\\ToolboxBitmap32", std::wstring(),
         modulePath + L", " + std::to_wstring(kToolboxBitmapId)},
        {clsid + L"\\MiscStatus", std::wstring(), L"0"},
        {clsid + L"\\MiscStatus\\1", std::wstring(), std::to_wstring(kMiscStatus)},
        {clsid + L"\\TypeLib", std::wstring(), text(kLibId)},
        {clsid + L"\\Version", std::wstring(), version},
        {clsid + L"\\Implemented Categories", std::nullopt, std::nullopt},
        {clsid + L"\\Implemented Categories\\" + text(kControlCategory), std::nullopt,
         std::nullopt},
        {kProgId, std::wstring(), kClassName},
        {std::wstring(kProgId) + L"\\CLSID", std::wstring(), text(kClsid)},
        {typeLib, std::nullopt, std::nullopt, true},
        {typeLib + L"\\" + version, std::wstring(), kLibraryName},
        {typeLib + L"\\" + version + L"\\0", std::nullopt, std::nullopt},
        {typeLib + L"\\" + version + L"\\0\\" + std::wstring(typeLibPlatform), std::wstring(),
         modulePath},
        {typeLib + L"\\" + version + L"\\FLAGS", std::wstring(), std::to_wstring(LIBFLAG_FCONTROL)},
        {typeLib + L"\\" + version + L"\\HELPDIR", std::wstring(), folderOf(modulePath)},
    };
    addInterface(t, kIidTolvakEarlier, kInterfaceName, kOleAutomationProxy);
    addInterface(t, kIidTolvak, kInterfaceName, kOleAutomationProxy);
    addInterface(t, kIidEventsEarlier, kEventsName, kDispatchProxy);
    addInterface(t, kIidEvents, kEventsName, kDispatchProxy);
    return t;
}

HRESULT registerServer(const std::wstring& modulePath) {
    if (modulePath.empty()) return SELFREG_E_CLASS;
    for (const RegistryEntry& entry : registrationTable(modulePath)) {
        HRESULT hr = write(entry);
        if (FAILED(hr)) {
            // Leave nothing half-registered behind.
            unregisterServer(modulePath);
            return hr;
        }
    }
    return S_OK;
}

HRESULT unregisterServer(const std::wstring& modulePath) {
    const std::vector<RegistryEntry> table = registrationTable(modulePath);
    HRESULT result = S_OK;
    for (auto it = table.rbegin(); it != table.rend(); ++it) {
        LSTATUS status = RegDeleteKeyW(HKEY_CLASSES_ROOT, it->key.c_str());
        // A key listed twice is gone the second time; a shared parent may still have children.
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || it->shared) continue;
        if (SUCCEEDED(result)) result = HRESULT_FROM_WIN32(status);
    }
    return result;
}

} // namespace tolvak::com
