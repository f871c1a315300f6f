#include "control/method_table.h"

#include "control/tolvak.h"
#include "text/ascii_case.h"

namespace tolvak {

namespace {

// How each shape of method is called late-bound, and what it takes and gives.
template <void (Tolvak::*M)(int16_t)> Variant callShortSetter(Tolvak& c, const Variant* a) {
    (c.*M)(toShort(*a));
    return {};
}

template <void (Tolvak::*M)(const std::u16string&)>
Variant callTextSetter(Tolvak& c, const Variant* a) {
    (c.*M)(toText(*a));
    return {};
}

template <std::u16string (Tolvak::*M)()> Variant callGetter(Tolvak& c, const Variant*) {
    return (c.*M)();
}

template <std::u16string (Tolvak::*M)() const> Variant callConstGetter(Tolvak& c, const Variant*) {
    return (c.*M)();
}

template <void (Tolvak::*M)()> Variant callAction(Tolvak& c, const Variant*) {
    (c.*M)();
    return {};
}

constexpr ArgType kArgOfGetter = ArgType::None, kArgOfConstGetter = ArgType::None,
                  kArgOfAction = ArgType::None, kArgOfShortSetter = ArgType::Short,
                  kArgOfTextSetter = ArgType::Text;
constexpr ResultType kResultOfGetter = ResultType::Text, kResultOfConstGetter = ResultType::Text,
                     kResultOfAction = ResultType::None, kResultOfShortSetter = ResultType::Variant,
                     kResultOfTextSetter = ResultType::Variant;

} // namespace

const std::array<MethodInfo, kMethodCount> kMethodTable = {{
#define TOLVAK_METHOD(name, dispid, place, shape, param)                                           \
    {u"" #name,                                                                                    \
     dispid,                                                                                       \
     place,                                                                                        \
     kArgOf##shape,                                                                                \
     u"" #param,                                                                                   \
     kResultOf##shape,                                                                             \
     call##shape<&Tolvak::name>},
#define TOLVAK_METHOD_VTABLE_LAST TOLVAK_METHOD
#include "control/methods.def"
}};

const MethodInfo* findMethod(int32_t dispid) {
    for (const MethodInfo& m : kMethodTable)
        if (m.dispid == dispid) return &m;
    return nullptr;
}

const MethodInfo* findMethod(std::u16string_view name) {
    for (const MethodInfo& m : kMethodTable)
        if (equalsIgnoringCase(m.name, name)) return &m;
    return nullptr;
}

} // namespace tolvak
