// Golden type library: loads the registered library (or the library or control file named on the
// command line, with the platform it was built for) with the system's oleaut32 and checks it
// against the core's method table. oleaut32 hands out vtable offsets and sizes in the reading
// process's pointer size whatever the library's platform, so a 64-bit reader checks a 32-bit
// library against 8-byte slots.

#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "com_check.h"
#include "control/method_table.h"
#include "ocx/guids.h"
#include "ocx/handles.h"
#include "ocx/typelib/typelib_layout.h"

using namespace tolvak;
using namespace tolvak::com;
using tolvak::wintest::Checker;

namespace {

Checker check;
SYSKIND expectedKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

std::wstring nameOf(ITypeInfo* info, MEMBERID id = MEMBERID_NIL) {
    UniqueBstr name;
    if (FAILED(info->GetDocumentation(id, out(name), nullptr, nullptr, nullptr))) return L"?";
    return name.get() ? name.get() : L"";
}

struct TypeRow {
    const wchar_t* name;
    TYPEKIND kind;
    GUID guid;
    WORD major, minor;
    WORD flags;
};

// oleaut32 derives FDISPATCHABLE itself (Wine's also sets it on a coclass whose default interface
// is dispatchable), and the dispatch side of a dual interface does not repeat FOLEAUTOMATION. The
// interface side of _Tolvak is checked with every flag below.
WORD significant(TYPEKIND kind, WORD flags) {
    WORD derived = TYPEFLAG_FDISPATCHABLE | (kind == TKIND_DISPATCH ? TYPEFLAG_FOLEAUTOMATION : 0);
    return flags & ~derived;
}

void checkLibrary(ITypeLib* lib) {
    check.context("library");
    TLIBATTR* attr = nullptr;
    if (!check.expectHr(lib->GetLibAttr(&attr), "GetLibAttr")) return;
    check.expectEq(attr->guid, kLibId, "LIBID");
    check.expectEq(attr->lcid, kLibLcid, "lcid");
    check.expectEq(static_cast<int>(attr->syskind), static_cast<int>(expectedKind), "syskind");
    check.expectEq(attr->wMajorVerNum, kLibMajor, "major version");
    check.expectEq(attr->wMinorVerNum, kLibMinor, "minor version");
    // FHASDISKIMAGE only says the library was loaded from a file.
    check.expectEq(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, static_cast<int>(LIBFLAG_FCONTROL),
                   "library flags");
    lib->ReleaseTLibAttr(attr);

    UniqueBstr name, doc;
    check.expectHr(lib->GetDocumentation(-1, out(name), out(doc), nullptr, nullptr),
                   "library documentation");
    check.expectEq(std::wstring(name.get() ? name.get() : L""), std::wstring(L"Tolvak"),
                   "library name");
    check.expectEq(std::wstring(doc.get() ? doc.get() : L""), std::wstring(L"Tolvak"),
                   "help string");
}

void checkTypes(ITypeLib* lib) {
    const TypeRow rows[] = {
        {L"_Tolvak", TKIND_DISPATCH, kIidTolvak, 1, 3, kInterfaceFlags},
        {L"Tolvak", TKIND_COCLASS, kClsid, 1, 3, kCoclassFlags},
        {L"Tolvak___v0", TKIND_ALIAS, kIidTolvakEarlier, 1, 0, TYPEFLAG_FHIDDEN},
        {L"__Tolvak", TKIND_DISPATCH, kIidEvents, 1, 3, kEventsFlags},
    };
    check.context("library");
    check.expectEq(lib->GetTypeInfoCount(), 4u, "type description count");
    UINT index = 0;
    for (const TypeRow& row : rows) {
        check.context(Checker::utf8(row.name));
        ComPtr<ITypeInfo> info;
        if (!check.expectHr(lib->GetTypeInfo(index++, &info), "GetTypeInfo")) continue;
        check.expectEq(nameOf(info.Get()), std::wstring(row.name), "name");
        TYPEATTR* attr = nullptr;
        if (!check.expectHr(info->GetTypeAttr(&attr), "GetTypeAttr")) continue;
        check.expectEq(static_cast<int>(attr->typekind), static_cast<int>(row.kind), "kind");
        check.expectEq(attr->guid, row.guid, "guid");
        check.expectEq(attr->wMajorVerNum, row.major, "major version");
        check.expectEq(attr->wMinorVerNum, row.minor, "minor version");
        check.expectEq(significant(attr->typekind, attr->wTypeFlags),
                       significant(row.kind, row.flags), "flags");
        info->ReleaseTypeAttr(attr);
    }
}

// The dispinterface's base is stdole2's IDispatch, reached through the import.
void checkImportsDispatch(ITypeInfo* info, const char* what) {
    HREFTYPE href = 0;
    ComPtr<ITypeInfo> base;
    if (!check.expectHr(info->GetRefTypeOfImplType(0, &href), what) ||
        !check.expectHr(info->GetRefTypeInfo(href, &base), what))
        return;
    check.expectEq(nameOf(base.Get()), std::wstring(L"IDispatch"), what);
    ComPtr<ITypeLib> container;
    UINT ignored = 0;
    if (!check.expectHr(base->GetContainingTypeLib(&container, &ignored), "containing library"))
        return;
    TLIBATTR* attr = nullptr;
    if (!check.expectHr(container->GetLibAttr(&attr), "stdole GetLibAttr")) return;
    check.expectEq(attr->guid, IID_StdOle, "imported library is stdole2");
    check.expectEq(attr->wMajorVerNum, WORD{2}, "stdole2 major version");
    check.expectEq(attr->wMinorVerNum, WORD{0}, "stdole2 minor version");
    container->ReleaseTLibAttr(attr);
}

VARTYPE pointee(const TYPEDESC& t) {
    return t.vt == VT_PTR && t.lptdesc ? t.lptdesc->vt : VARTYPE{VT_EMPTY};
}

void checkMethods(ITypeLib* lib) {
    ComPtr<ITypeInfo> disp, vtbl;
    if (!check.expectHr(lib->GetTypeInfoOfGuid(kIidTolvak, &disp), "_Tolvak by guid")) return;
    HREFTYPE href = 0;
    check.context("_Tolvak");
    if (!check.expectHr(disp->GetRefTypeOfImplType(-1, &href), "interface side of the dual") ||
        !check.expectHr(disp->GetRefTypeInfo(href, &vtbl), "interface side type info"))
        return;
    checkImportsDispatch(vtbl.Get(), "base of the interface side");

    TYPEATTR* attr = nullptr;
    if (check.expectHr(vtbl->GetTypeAttr(&attr), "interface side attributes")) {
        check.expectEq(static_cast<int>(attr->typekind), static_cast<int>(TKIND_INTERFACE),
                       "interface side kind");
        check.expectEq(attr->cFuncs, WORD{kMethodCount}, "interface side method count");
        check.expectEq(attr->cbSizeVft,
                       WORD(vtableOffset(kMethodCount + 1, pointerSizeOf(expectedKind))),
                       "vtable size");
        check.expectEq(attr->wTypeFlags, kInterfaceFlags, "interface side flags");
        check.expectEq(attr->guid, kIidTolvak, "interface side guid");
        vtbl->ReleaseTypeAttr(attr);
    }
    if (check.expectHr(disp->GetTypeAttr(&attr), "dispatch side attributes")) {
        check.expectEq(attr->cFuncs, WORD(kMethodCount + kInheritedSlots),
                       "dispatch side method count");
        disp->ReleaseTypeAttr(attr);
    }

    ComPtr<ITypeInfo2> disp2;
    disp.As(&disp2);
    for (UINT i = 0; i < kMethodCount; ++i) {
        const MethodInfo& m = kMethodTable[i];
        check.context("_Tolvak." + Checker::utf8(toWide(m.name)));
        FUNCDESC* fd = nullptr;
        if (!check.expectHr(vtbl->GetFuncDesc(i, &fd), "GetFuncDesc")) continue;
        check.expectEq(fd->memid, static_cast<MEMBERID>(m.dispid), "DISPID in library order");
        check.expectEq(static_cast<int>(fd->oVft), vtableOffset(m.vtablePosition), "vtable offset");
        check.expectEq(static_cast<int>(fd->funckind), static_cast<int>(FUNC_PUREVIRTUAL),
                       "function kind");
        check.expectEq(static_cast<int>(fd->invkind), static_cast<int>(INVOKE_FUNC), "invoke kind");
        check.expectEq(static_cast<int>(fd->callconv), static_cast<int>(CC_STDCALL),
                       "calling convention");
        check.expectEq(fd->elemdescFunc.tdesc.vt, VARTYPE{VT_HRESULT}, "returns HRESULT");
        int expected = (m.argType != ArgType::None) + (m.result != ResultType::None);
        if (check.expectEq(static_cast<int>(fd->cParams), expected, "parameter count")) {
            int p = 0;
            if (m.argType != ArgType::None) {
                const ELEMDESC& arg = fd->lprgelemdescParam[p++];
                check.expectEq(pointee(arg.tdesc),
                               m.argType == ArgType::Short ? VARTYPE{VT_I2} : VARTYPE{VT_BSTR},
                               "argument type (by reference)");
                check.expectEq(arg.paramdesc.wParamFlags, USHORT(PARAMFLAG_FIN | PARAMFLAG_FOUT),
                               "argument is in, out");
            }
            if (m.result != ResultType::None) {
                const ELEMDESC& ret = fd->lprgelemdescParam[p];
                check.expectEq(pointee(ret.tdesc),
                               m.result == ResultType::Text ? VARTYPE{VT_BSTR}
                                                            : VARTYPE{VT_VARIANT},
                               "result type");
                check.expectEq(ret.paramdesc.wParamFlags,
                               USHORT(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL), "result is out, retval");
            }
        }
        BSTR names[3] = {};
        UINT count = 0;
        if (check.expectHr(vtbl->GetNames(fd->memid, names, 3, &count), "GetNames")) {
            check.expectEq(std::wstring(names[0] ? names[0] : L""), toWide(m.name), "method name");
            if (m.argType != ArgType::None && check.expect(count >= 2, "parameter name present"))
                check.expectEq(std::wstring(names[1] ? names[1] : L""), toWide(m.paramName),
                               "parameter name");
        }
        for (BSTR n : names)
            SysFreeString(n);
        vtbl->ReleaseFuncDesc(fd);

        // The dispatch side resolves the name to the same DISPID.
        std::wstring name = toWide(m.name);
        LPOLESTR lookup = name.data();
        MEMBERID id = MEMBERID_NIL;
        check.expectHr(disp->GetIDsOfNames(&lookup, 1, &id), "GetIDsOfNames on the dispatch side");
        check.expectEq(id, static_cast<MEMBERID>(m.dispid), "DISPID by name");
    }

    // Only the listed DISPIDs exist: the one after setWinHeight's names nothing.
    check.context("_Tolvak");
    UINT index = 0;
    check.expect(FAILED(disp2->GetFuncIndexOfMemId(0x60030040, INVOKE_FUNC, &index)),
                 "no member 0x60030040");
    FUNCDESC* fd = nullptr;
    check.expect(FAILED(vtbl->GetFuncDesc(kMethodCount, &fd)), "no 27th method");
}

void checkCoclassAndFriends(ITypeLib* lib) {
    ComPtr<ITypeInfo> coclass;
    check.context("Tolvak");
    if (!check.expectHr(lib->GetTypeInfoOfGuid(kClsid, &coclass), "coclass by guid")) return;
    TYPEATTR* attr = nullptr;
    if (check.expectHr(coclass->GetTypeAttr(&attr), "coclass attributes")) {
        check.expectEq(attr->cImplTypes, WORD{2}, "implemented interfaces");
        coclass->ReleaseTypeAttr(attr);
    }
    const struct {
        const wchar_t* name;
        GUID guid;
        INT flags;
    } impls[] = {
        {L"_Tolvak", kIidTolvak, IMPLTYPEFLAG_FDEFAULT},
        {L"__Tolvak", kIidEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
    };
    UINT i = 0;
    for (const auto& impl : impls) {
        check.context("Tolvak implements " + Checker::utf8(impl.name));
        HREFTYPE href = 0;
        ComPtr<ITypeInfo> info;
        INT flags = 0;
        check.expectHr(coclass->GetImplTypeFlags(i, &flags), "GetImplTypeFlags");
        check.expectEq(flags, impl.flags, "impl type flags");
        if (check.expectHr(coclass->GetRefTypeOfImplType(i++, &href), "GetRefTypeOfImplType") &&
            check.expectHr(coclass->GetRefTypeInfo(href, &info), "GetRefTypeInfo")) {
            check.expectEq(nameOf(info.Get()), std::wstring(impl.name), "name");
            TYPEATTR* a = nullptr;
            if (check.expectHr(info->GetTypeAttr(&a), "attributes")) {
                check.expectEq(a->guid, impl.guid, "guid");
                info->ReleaseTypeAttr(a);
            }
        }
    }

    check.context("Tolvak___v0");
    ComPtr<ITypeInfo> alias;
    if (check.expectHr(lib->GetTypeInfo(2, &alias), "alias") &&
        check.expectHr(alias->GetTypeAttr(&attr), "alias attributes")) {
        check.expectEq(attr->tdescAlias.vt, VARTYPE{VT_USERDEFINED}, "aliases a user-defined type");
        ComPtr<ITypeInfo> target;
        if (check.expectHr(alias->GetRefTypeInfo(attr->tdescAlias.hreftype, &target),
                           "alias target")) {
            check.expectEq(nameOf(target.Get()), std::wstring(L"_Tolvak"), "alias target name");
        }
        alias->ReleaseTypeAttr(attr);
    }

    check.context("__Tolvak");
    ComPtr<ITypeInfo> events;
    if (check.expectHr(lib->GetTypeInfoOfGuid(kIidEvents, &events), "events by guid") &&
        check.expectHr(events->GetTypeAttr(&attr), "events attributes")) {
        check.expectEq(attr->cFuncs, WORD{kInheritedSlots}, "only IDispatch's own members");
        check.expectEq(attr->cVars, WORD{0}, "no properties");
        events->ReleaseTypeAttr(attr);
        checkImportsDispatch(events.Get(), "base of __Tolvak");
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool named = argc == 3 && (!strcmp(argv[1], "win32") || !strcmp(argv[1], "win64"));
    if (argc != 1 && !named) {
        std::printf("usage: com_typelib [win32|win64 LIBRARY-OR-CONTROL-FILE]\n");
        return 1;
    }
    CoInitialize(nullptr);
    ComPtr<ITypeLib> lib;
    HRESULT hr;
    if (named) {
        expectedKind = strcmp(argv[1], "win64") ? SYS_WIN32 : SYS_WIN64;
        std::wstring path(argv[2], argv[2] + strlen(argv[2]));
        hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    } else {
        hr = LoadRegTypeLib(kLibId, kLibMajor, kLibMinor, 0, &lib);
    }
    check.context("load");
    if (check.expectHr(hr, "load the type library")) {
        checkLibrary(lib.Get());
        checkTypes(lib.Get());
        checkMethods(lib.Get());
        checkCoclassAndFriends(lib.Get());
    }
    lib.Reset();
    CoUninitialize();
    return check.finish("com_typelib");
}
