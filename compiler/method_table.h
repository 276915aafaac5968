// How a class's own declarations enter its method table, shared by code generation and
// compiled-class files so that both build the same table.
#pragma once
#include <string_view>

#include "runtime/rtti.h"

namespace brova {

// A function, constructor or destructor declared by the class overrides the first entry of
// its name when that entry has the same role (a method, native or not; a constructor; a
// destructor), keeping its index; otherwise it is appended. A class's constructor and
// destructor usually share the class's name, and neither may replace the other.
void DeclareMethod(TRTTI* cls, TFunction* fn);

// The script function (not a native) that the class itself declared under that name in the
// role of `kind`: the one a declaration's body compiles into.
TFunction* DeclaredMethod(const TRTTI* cls, std::string_view name, FunctionKind kind);

} // namespace brova
