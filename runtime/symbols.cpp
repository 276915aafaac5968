#include "runtime/symbols.h"

#include <unordered_map>
#include <vector>

#include "runtime/text_case.h"

namespace brova {
namespace {

struct SymbolTable {
  std::vector<std::string> names;
  std::unordered_map<std::string, SymbolId, CaseInsensitiveHash, CaseInsensitiveEqual> ids;

  SymbolTable() {
    for (const char* n : {"_body", "gc_mark", "_generator", "_errorHook"}) Add(n);
  }
  SymbolId Add(std::string_view name) {
    SymbolId id = static_cast<SymbolId>(names.size());
    names.emplace_back(name);
    ids.emplace(std::string(name), id);
    return id;
  }
};

SymbolTable& Table() {
  static SymbolTable* table = new SymbolTable;
  return *table;
}

} // namespace

SymbolId Intern(std::string_view name) {
  SymbolTable& t = Table();
  auto it = t.ids.find(name);
  if (it != t.ids.end()) return it->second;
  return t.Add(name);
}

bool FindSymbol(std::string_view name, SymbolId& id) {
  SymbolTable& t = Table();
  auto it = t.ids.find(name);
  if (it == t.ids.end()) return false;
  id = it->second;
  return true;
}

const std::string& SymbolName(SymbolId id) {
  static const std::string empty;
  SymbolTable& t = Table();
  return id < t.names.size() ? t.names[id] : empty;
}

size_t SymbolCount() { return Table().names.size(); }

} // namespace brova
