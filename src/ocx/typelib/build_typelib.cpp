// Writes Tolvak.tlb and the two interface-identifier resources from the core's method table.
// Runs at build time under Wine: widl cannot give getRawData its place at the end of the vtable
// while keeping it 24th in the library, nor declare the alias that carries the earlier IID.

#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "control/method_table.h"
#include "ocx/guids.h"
#include "ocx/handles.h"
#include "ocx/typelib/typelib_layout.h"

using namespace tolvak;
using namespace tolvak::com;

namespace {

struct Failure {
    const char* step;
    HRESULT hr;
};

void check(HRESULT hr, const char* step) {
    if (FAILED(hr)) throw Failure{step, hr};
}

TYPEDESC pointerTo(TYPEDESC* target) {
    TYPEDESC t{};
    t.vt = VT_PTR;
    t.lptdesc = target;
    return t;
}

ComPtr<ITypeInfo> infoOf(const ComPtr<ICreateTypeInfo>& create) {
    ComPtr<ITypeInfo> info;
    check(create.As(&info), "ICreateTypeInfo -> ITypeInfo");
    return info;
}

HREFTYPE refTo(const ComPtr<ICreateTypeInfo>& from, ITypeInfo* to) {
    HREFTYPE href = 0;
    check(from->AddRefTypeInfo(to, &href), "AddRefTypeInfo");
    return href;
}

void describeMethods(ICreateTypeInfo* iface, SYSKIND kind) {
    TYPEDESC i2{}, bstr{}, variant{};
    i2.vt = VT_I2;
    bstr.vt = VT_BSTR;
    variant.vt = VT_VARIANT;
    UINT index = 0;
    for (const MethodInfo& m : kMethodTable) {
        std::vector<ELEMDESC> params;
        if (m.argType != ArgType::None) {
            ELEMDESC arg{};
            arg.tdesc = pointerTo(m.argType == ArgType::Short ? &i2 : &bstr);
            arg.paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;
            params.push_back(arg);
        }
        if (m.result != ResultType::None) {
            ELEMDESC ret{};
            ret.tdesc = pointerTo(m.result == ResultType::Text ? &bstr : &variant);
            ret.paramdesc.wParamFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
            params.push_back(ret);
        }
        FUNCDESC fd{};
        fd.memid = m.dispid;
        fd.funckind = FUNC_PUREVIRTUAL;
        fd.invkind = INVOKE_FUNC;
        fd.callconv = CC_STDCALL;
        fd.cParams = static_cast<SHORT>(params.size());
        fd.lprgelemdescParam = params.data();
        fd.elemdescFunc.tdesc.vt = VT_HRESULT;
        fd.oVft = static_cast<SHORT>(vtableOffset(m.vtablePosition, pointerSizeOf(kind)));
        check(iface->AddFuncDesc(index, &fd), "AddFuncDesc");

        std::wstring name = toWide(m.name);
        std::wstring param = toWide(m.paramName);
        std::vector<LPOLESTR> names{name.data()};
        if (m.argType != ArgType::None) names.push_back(param.data());
        check(iface->SetFuncAndParamNames(index, names.data(), static_cast<UINT>(names.size())),
              "SetFuncAndParamNames");
        ++index;
    }
}

void buildLibrary(SYSKIND kind, const wchar_t* path) {
    ComPtr<ICreateTypeLib2> lib;
    check(CreateTypeLib2(kind, path, &lib), "CreateTypeLib2");
    check(lib->SetGuid(kLibId), "library guid");
    check(lib->SetName(const_cast<LPOLESTR>(kLibraryName)), "library name");
    check(lib->SetDocString(const_cast<LPOLESTR>(kLibraryName)), "library help string");
    check(lib->SetVersion(kLibMajor, kLibMinor), "library version");
    check(lib->SetLcid(kLibLcid), "library lcid");
    check(lib->SetLibFlags(LIBFLAG_FCONTROL), "library flags");

    ComPtr<ITypeLib> stdole;
    check(LoadRegTypeLib(IID_StdOle, 2, 0, 0, &stdole), "load stdole2.tlb");
    ComPtr<ITypeInfo> dispatch;
    check(stdole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch), "IDispatch type info");

    // Created in the order they stand in the library.
    ComPtr<ICreateTypeInfo> iface, coclass, alias, events;
    check(lib->CreateTypeInfo(const_cast<LPOLESTR>(L"_Tolvak"), TKIND_INTERFACE, &iface),
          "_Tolvak");
    check(lib->CreateTypeInfo(const_cast<LPOLESTR>(kClassName), TKIND_COCLASS, &coclass), "Tolvak");
    check(lib->CreateTypeInfo(const_cast<LPOLESTR>(L"Tolvak___v0"), TKIND_ALIAS, &alias),
          "Tolvak___v0");
    check(lib->CreateTypeInfo(const_cast<LPOLESTR>(L"__Tolvak"), TKIND_DISPATCH, &events),
          "__Tolvak");

    check(iface->SetGuid(kIidTolvak), "_Tolvak guid");
    check(iface->SetVersion(kTypeMajor, kTypeMinor), "_Tolvak version");
    check(iface->SetTypeFlags(kInterfaceFlags), "_Tolvak flags");
    check(iface->AddImplType(0, refTo(iface, dispatch.Get())), "_Tolvak base");
    describeMethods(iface.Get(), kind);

    check(events->SetGuid(kIidEvents), "__Tolvak guid");
    check(events->SetVersion(kTypeMajor, kTypeMinor), "__Tolvak version");
    check(events->SetTypeFlags(kEventsFlags), "__Tolvak flags");
    check(events->AddImplType(0, refTo(events, dispatch.Get())), "__Tolvak base");

    check(coclass->SetGuid(kClsid), "Tolvak guid");
    check(coclass->SetVersion(kTypeMajor, kTypeMinor), "Tolvak version");
    check(coclass->SetTypeFlags(kCoclassFlags), "Tolvak flags");
    check(coclass->AddImplType(0, refTo(coclass, infoOf(iface).Get())), "Tolvak default");
    check(coclass->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT), "Tolvak default flags");
    check(coclass->AddImplType(1, refTo(coclass, infoOf(events).Get())), "Tolvak source");
    check(coclass->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE),
          "Tolvak source flags");

    check(alias->SetGuid(kIidTolvakEarlier), "Tolvak___v0 guid");
    check(alias->SetVersion(1, 0), "Tolvak___v0 version");
    check(alias->SetTypeFlags(TYPEFLAG_FHIDDEN), "Tolvak___v0 flags");
    TYPEDESC aliased{};
    aliased.vt = VT_USERDEFINED;
    aliased.hreftype = refTo(alias, infoOf(iface).Get());
    check(alias->SetTypeDescAlias(&aliased), "Tolvak___v0 alias");

    for (auto* info : {iface.Get(), coclass.Get(), alias.Get(), events.Get()})
        check(info->LayOut(), "LayOut");
    check(lib->SaveAllChanges(), "SaveAllChanges");
}

// The file format of the library: the header's fields and the type-description records, as far
// as the vtable size of _Tolvak needs them.
constexpr size_t kHeaderFlagsAt = 20;     // syskind in the low bits, 0x100: a help DLL is named
constexpr size_t kHeaderTypeCountAt = 32; // number of type descriptions
constexpr size_t kHeaderSize = 84;
constexpr int kHelpDllFlag = 0x100;
constexpr size_t kTypeRecordSize = 100;
constexpr size_t kTypeVtableSizeAt = 78; // 16 bits

template <typename T> T readAt(const std::vector<char>& file, size_t at) {
    T value{};
    if (at + sizeof value > file.size()) throw Failure{"library file too short", E_FAIL};
    std::memcpy(&value, file.data() + at, sizeof value);
    return value;
}

// oleaut32 sizes a dual interface's vtable from its base as the writing process sees it: a 64-bit
// writer counts IDispatch's seven slots at 8 bytes even in a 32-bit library, and 32-bit readers
// then find 40 functions in _Tolvak. The size stored for _Tolvak (the first type description) is
// set here to what its target's pointer size gives.
void fixVtableSize(const wchar_t* path, SYSKIND kind) {
    std::vector<char> file;
    {
        std::ifstream in(path, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (file.size() < kHeaderSize || std::memcmp(file.data(), "MSFT", 4) != 0)
        throw Failure{"library file format", E_FAIL};
    const auto flags = readAt<int32_t>(file, kHeaderFlagsAt);
    const auto types = readAt<int32_t>(file, kHeaderTypeCountAt);
    const size_t offsetsAt = kHeaderSize + ((flags & kHelpDllFlag) ? 4 : 0);
    // The segment directory follows the type offsets; its first entry is the type records' place.
    const auto records = readAt<int32_t>(file, offsetsAt + 4 * static_cast<size_t>(types));
    const size_t at = static_cast<size_t>(records) + kTypeVtableSizeAt;
    const auto size = static_cast<int16_t>(vtableOffset(kMethodCount + 1, pointerSizeOf(kind)));
    readAt<int16_t>(file, at); // only to refuse a file too short to hold the field
    std::memcpy(file.data() + at, &size, sizeof size);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    if (!out) throw Failure{"rewrite the library file", E_FAIL};
}

// Reads the library back as a client would: the interface side of _Tolvak must have room for
// exactly IDispatch's slots and its own methods.
void checkVtableSize(const wchar_t* path, SYSKIND kind) {
    ComPtr<ITypeLib> lib;
    ComPtr<ITypeInfo> disp, vtbl;
    HREFTYPE href = 0;
    check(LoadTypeLibEx(path, REGKIND_NONE, &lib), "reload the library");
    check(lib->GetTypeInfoOfGuid(kIidTolvak, &disp), "reload _Tolvak");
    check(disp->GetRefTypeOfImplType(-1, &href), "reload the interface side");
    check(disp->GetRefTypeInfo(href, &vtbl), "reload the interface side");
    TYPEATTR* attr = nullptr;
    check(vtbl->GetTypeAttr(&attr), "reload the interface attributes");
    const bool right = attr->cbSizeVft == vtableOffset(kMethodCount + 1, pointerSizeOf(kind));
    vtbl->ReleaseTypeAttr(attr);
    if (!right) throw Failure{"vtable size of _Tolvak read back", E_FAIL};
}

// count (32), then the earlier and the current identifier, in memory order
bool writeIidPair(const char* path, const GUID& earlier, const GUID& current) {
    std::ofstream out(path, std::ios::binary);
    const uint32_t count = 2 * sizeof(GUID);
    out.write(reinterpret_cast<const char*>(&count), sizeof count);
    out.write(reinterpret_cast<const char*>(&earlier), sizeof earlier);
    out.write(reinterpret_cast<const char*>(&current), sizeof current);
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    const bool known = argc == 5 && (!strcmp(argv[1], "win32") || !strcmp(argv[1], "win64"));
    if (!known) {
        std::fprintf(stderr, "usage: build_typelib win32|win64 OUT.tlb IID.bin SRCIID.bin\n");
        return 2;
    }
    const SYSKIND kind = strcmp(argv[1], "win64") ? SYS_WIN32 : SYS_WIN64;
    ++argv;
    // A full path: given a bare name, LoadTypeLibEx looks in the program's own folder first, and
    // would read back the other platform's library lying beside the builder.
    std::wstring tlb(MAX_PATH, L'\0');
    std::wstring given(argv[1], argv[1] + strlen(argv[1]));
    tlb.resize(GetFullPathNameW(given.c_str(), MAX_PATH, tlb.data(), nullptr));
    if (tlb.empty()) {
        std::fprintf(stderr, "build_typelib: bad output path %s\n", argv[1]);
        return 2;
    }
    check(CoInitialize(nullptr), "CoInitialize");
    try {
        DeleteFileW(tlb.c_str());
        buildLibrary(kind, tlb.c_str());
        fixVtableSize(tlb.c_str(), kind);
        checkVtableSize(tlb.c_str(), kind);
    } catch (const Failure& f) {
        std::fprintf(stderr, "build_typelib: %s failed: 0x%08lx\n", f.step,
                     static_cast<unsigned long>(f.hr));
        return 1;
    }
    if (!writeIidPair(argv[2], kIidTolvakEarlier, kIidTolvak) ||
        !writeIidPair(argv[3], kIidEventsEarlier, kIidEvents)) {
        std::fprintf(stderr, "build_typelib: cannot write the identifier resources\n");
        return 1;
    }
    CoUninitialize();
    return 0;
}
