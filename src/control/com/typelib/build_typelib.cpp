// Writes Tolvak.tlb and the two interface-identifier resources from the core's method table.
// Runs at build time under Wine: widl cannot give getRawData its place at the end of the vtable
// while keeping it 24th in the library, nor declare the alias that carries the earlier IID.

#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "control/com/guids.h"
#include "control/com/handles.h"
#include "control/com/typelib/typelib_layout.h"
#include "control/method_table.h"

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

void describeMethods(ICreateTypeInfo* iface) {
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
        fd.oVft = static_cast<SHORT>(vtableOffset(m.vtablePosition));
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

void buildLibrary(const wchar_t* path) {
    ComPtr<ICreateTypeLib2> lib;
    check(CreateTypeLib2(SYS_WIN32, path, &lib), "CreateTypeLib2");
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
    describeMethods(iface.Get());

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
    if (argc != 4) {
        std::fprintf(stderr, "usage: build_typelib OUT.tlb IID.bin SRCIID.bin\n");
        return 2;
    }
    std::wstring tlb(argv[1], argv[1] + strlen(argv[1]));
    check(CoInitialize(nullptr), "CoInitialize");
    try {
        DeleteFileW(tlb.c_str());
        buildLibrary(tlb.c_str());
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
