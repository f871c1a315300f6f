#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "control/variant.h"

namespace tolvak {

class Tolvak;

enum class ArgType { None, Short, Text };
enum class ResultType { None, Text, Variant };

// One method of the _Tolvak interface. The table below is the single source of truth for names,
// DISPIDs, order and signatures: the type library is built from it and checked against it.
struct MethodInfo {
    std::u16string_view name;
    int32_t dispid;
    int vtablePosition; // 1-based place among the interface's own methods
    ArgType argType; // the one by-reference [in, out] argument, if any
    std::u16string_view paramName;
    ResultType result; // the [out, retval] value
    Variant (*call)(Tolvak& control, const Variant* argument);
};

constexpr size_t kMethodCount = 26;

// In type-library order; getRawData is 24th here but last in the vtable.
extern const std::array<MethodInfo, kMethodCount> kMethodTable;

const MethodInfo* findMethod(int32_t dispid);
// Case-insensitive, as automation clients look names up.
const MethodInfo* findMethod(std::u16string_view name);

} // namespace tolvak
