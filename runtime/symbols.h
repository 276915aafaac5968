// Names of fields, methods, globals and classes interned into numbers in order of first
// appearance, ignoring letter case; run-time lookups compare numbers only.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace brova {

using SymbolId = uint32_t;

// Interned first, in this order, at start-up.
inline constexpr SymbolId kSymBody = 0;       // "_body"
inline constexpr SymbolId kSymGcMark = 1;     // "gc_mark"
inline constexpr SymbolId kSymGenerator = 2;  // "_generator"
inline constexpr SymbolId kSymErrorHook = 3;  // "_errorHook"

SymbolId Intern(std::string_view name);
// The spelling of the first appearance; empty for a number never issued.
const std::string& SymbolName(SymbolId id);
// The number of a name already interned, or false.
bool FindSymbol(std::string_view name, SymbolId& id);
size_t SymbolCount();

} // namespace brova
