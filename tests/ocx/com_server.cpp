// The control file as a server: its exports, resources, version information, class factory and
// unload rule, loaded directly (no registration involved). Argument: the path of Tolvak.ocx.

#include <windows.h>

#include <oleauto.h>

#include <cstring>
#include <vector>

#include "com_check.h"
#include "ocx/guids.h"
#include "ocx/handles.h"

using namespace tolvak::com;
using tolvak::wintest::Checker;

namespace {

Checker check;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

std::vector<BYTE> resource(HMODULE module, const wchar_t* type, const wchar_t* name) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(loaded));
    return bytes ? std::vector<BYTE>(bytes, bytes + SizeofResource(module, found))
                 : std::vector<BYTE>();
}

void checkExports(HMODULE module) {
    check.context("exports");
    for (const char* name :
         {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"})
        check.expect(GetProcAddress(module, name) != nullptr, name);
    // Undecorated names only: no stdcall decorations leak out.
    check.expect(GetProcAddress(module, "DllCanUnloadNow@0") == nullptr,
                 "no decorated DllCanUnloadNow@0");
    check.expect(GetProcAddress(module, "DllGetClassObject@12") == nullptr,
                 "no decorated DllGetClassObject@12");
}

void checkIidResources(HMODULE module) {
    const struct {
        const wchar_t* type;
        GUID earlier, current;
    } rows[] = {
        {L"_IID_TOLVAK", kIidTolvakEarlier, kIidTolvak},
        {L"_SRCIID_TOLVAK", kIidEventsEarlier, kIidEvents},
    };
    for (const auto& row : rows) {
        check.context(Checker::utf8(row.type));
        std::vector<BYTE> bytes = resource(module, row.type, MAKEINTRESOURCEW(1));
        if (!check.expectEq(bytes.size(), size_t{36}, "resource size")) continue;
        uint32_t count = 0;
        GUID earlier{}, current{};
        std::memcpy(&count, bytes.data(), 4);
        std::memcpy(&earlier, bytes.data() + 4, 16);
        std::memcpy(&current, bytes.data() + 20, 16);
        check.expectEq(count, 32u, "byte count");
        check.expectEq(earlier, row.earlier, "earlier identifier first");
        check.expectEq(current, row.current, "current identifier second");
    }
}

void checkPictureAndLibrary(HMODULE module) {
    check.context("resources");
    check.expect(!resource(module, L"TYPELIB", MAKEINTRESOURCEW(1)).empty(), "TYPELIB 1 present");
    std::vector<BYTE> bitmap =
        resource(module, MAKEINTRESOURCEW(2) /* RT_BITMAP */, MAKEINTRESOURCEW(kToolboxBitmapId));
    if (check.expect(bitmap.size() >= sizeof(BITMAPINFOHEADER), "toolbox bitmap 30000 present")) {
        BITMAPINFOHEADER header;
        std::memcpy(&header, bitmap.data(), sizeof header);
        check.expectEq(header.biWidth, LONG{16}, "toolbox bitmap width");
        check.expectEq(header.biHeight, LONG{15}, "toolbox bitmap height");
        check.expectEq(header.biBitCount, WORD{4}, "toolbox bitmap bits per pixel");
    }
}

std::wstring versionString(const std::vector<BYTE>& info, const wchar_t* name) {
    std::wstring path = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    void* data = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), path.c_str(), &data, &length)) return L"<missing>";
    return length ? std::wstring(static_cast<const wchar_t*>(data)) : std::wstring();
}

void checkVersion(HMODULE module, const std::wstring& path) {
    check.context("version");
    // Filed under the language its strings are in, not the resource compiler's default.
    const WORD chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    check.expect(FindResourceExW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), chinese),
                 "version resource filed under 0x0804");
    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    check.expect(!FindResourceExW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), english),
                 "no version resource under 1033");
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> info(size);
    if (!check.expect(size && GetFileVersionInfoW(path.c_str(), 0, size, info.data()),
                      "version resource"))
        return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (check.expect(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length),
                     "fixed part")) {
        check.expectEq(fixed->dwFileVersionMS, DWORD{0x00010000}, "file version 1.0");
        check.expectEq(fixed->dwFileVersionLS, DWORD{26}, "file version .0.26");
        check.expectEq(fixed->dwProductVersionMS, DWORD{0x00010000}, "product version 1.0");
        check.expectEq(fixed->dwProductVersionLS, DWORD{26}, "product version .0.26");
    }
    WORD* translation = nullptr;
    if (check.expect(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                                    reinterpret_cast<void**>(&translation), &length) &&
                         length >= 4,
                     "translation")) {
        check.expectEq(translation[0], WORD{0x0804}, "language Chinese (PRC)");
        check.expectEq(translation[1], WORD{1200}, "code page 1200");
    }
    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } strings[] = {
        {L"FileVersion", L"1.00.0026"}, {L"ProductVersion", L"1.00.0026"},
        {L"InternalName", L"Tolvak"},   {L"OriginalFilename", L"Tolvak.ocx"},
        {L"OLESelfRegister", L""},
    };
    for (const auto& s : strings)
        check.expectEq(versionString(info, s.name), std::wstring(s.value),
                       Checker::utf8(s.name).c_str());
}

void checkFactoryAndUnloading(HMODULE module) {
    check.context("class factory");
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnload = reinterpret_cast<CanUnloadFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    if (!getClassObject || !canUnload) return;

    ComPtr<IClassFactory> factory;
    check.expectEq(getClassObject(kIidTolvak, IID_IClassFactory,
                                  reinterpret_cast<void**>(factory.GetAddressOf())),
                   CLASS_E_CLASSNOTAVAILABLE, "another CLSID is not served");
    check.expect(!factory, "no factory for another CLSID");
    if (!check.expectHr(getClassObject(kClsid, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.GetAddressOf())),
                        "factory for Tolvak"))
        return;

    check.context("unloading");
    check.expectEq(canUnload(), S_OK, "nothing alive: may unload");
    ComPtr<IUnknown> outer;
    ComPtr<IUnknown> aggregated;
    factory->CreateInstance(nullptr, IID_IUnknown, &outer);
    check.expectEq(factory->CreateInstance(outer.Get(), IID_IUnknown, &aggregated),
                   CLASS_E_NOAGGREGATION, "no aggregation");
    check.expectEq(canUnload(), S_FALSE, "an object alive: stays");
    ComPtr<IUnknown> second;
    factory->CreateInstance(nullptr, IID_IDispatch, &second);
    outer.Reset();
    check.expectEq(canUnload(), S_FALSE, "one of two objects alive: stays");
    second.Reset();
    check.expectEq(canUnload(), S_OK, "all objects gone: may unload");
    factory->LockServer(TRUE);
    check.expectEq(canUnload(), S_FALSE, "locked: stays");
    factory->LockServer(FALSE);
    check.expectEq(canUnload(), S_OK, "unlocked: may unload");

    ComPtr<IUnknown> none;
    check.expectEq(factory->CreateInstance(nullptr, IID_IClassFactory, &none), E_NOINTERFACE,
                   "an interface the control lacks");
    check.expectEq(canUnload(), S_OK, "a refused creation leaves nothing alive");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: com_server PATH-OF-Tolvak.ocx\n");
        return 1;
    }
    CoInitialize(nullptr);
    std::wstring path(argv[1], argv[1] + std::strlen(argv[1]));
    HMODULE module = LoadLibraryW(path.c_str());
    check.context("load");
    if (check.expect(module != nullptr, "LoadLibrary Tolvak.ocx")) {
        checkExports(module);
        checkIidResources(module);
        checkPictureAndLibrary(module);
        checkVersion(module, path);
        checkFactoryAndUnloading(module);
    }
    CoUninitialize();
    return check.finish("com_server");
}
