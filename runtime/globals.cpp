#include "runtime/globals.h"

namespace brova {
namespace {
std::function<TValue*(std::string_view)> g_resolver;
std::function<void(std::string_view, bool)> g_declarer;
std::function<void(const std::string&)> g_snippetRunner;
} // namespace

TValue* GlobalSlot(std::string_view name) {
  if (name.empty() || name[0] != '$' || !g_resolver) return nullptr;
  return g_resolver(name);
}

void SetGlobal(std::string_view name, const TValue& value) {
  if (TValue* slot = GlobalSlot(name)) AssignValue(*slot, value);
}

void DeclareGlobal(std::string_view name, bool add) {
  if (g_declarer) g_declarer(name, add);
}

TValue* EvaluateToValue(std::string_view text) {
  if (!g_snippetRunner) return nullptr;
  g_snippetRunner("extends Object; $_tmp_valueOf=" + std::string(text) + ";");
  return GlobalSlot("$_tmp_valueOf");
}

void SetGlobalResolver(std::function<TValue*(std::string_view)> resolver) {
  g_resolver = std::move(resolver);
}
void SetGlobalDeclarer(std::function<void(std::string_view, bool)> declarer) {
  g_declarer = std::move(declarer);
}
void SetSnippetRunner(std::function<void(const std::string&)> runner) {
  g_snippetRunner = std::move(runner);
}

} // namespace brova
