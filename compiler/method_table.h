// How a class's own declarations enter its method table, shared by code generation and
// compiled-class files so that both build the same table.
#pragma once
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

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

// The same two for the declarations of one compilation, with the table's entries indexed by
// name: a generated class declares thousands of methods, and a scan per declaration made
// that quadratic. The index follows the table as it grows and is rebuilt when the table
// shrank or another class is asked about; entries keep their names (an override keeps the
// name of the entry it replaces).
class TMethodIndex {
public:
  void Declare(TRTTI* cls, TFunction* fn);
  TFunction* Declared(const TRTTI* cls, std::string_view name, FunctionKind kind);

private:
  // Brings the index up to the table's present entries.
  void Sync(const TRTTI* cls);

  const TRTTI* cls_ = nullptr;
  size_t indexed_ = 0;
  std::unordered_map<SymbolId, std::vector<uint32_t>> byName_; // entry indexes, in order
};

} // namespace brova
