#include "natives/script_services.h"

#include "natives/array_natives.h"
#include "resources/snippet_evaluator.h"
#include "runtime/globals.h"

namespace brova::natives {

int EvaluateSnippet(const std::string& text) {
  if (!HasSnippetEvaluator()) return 1;
  return brova::EvaluateSnippet(text, true);
}

TValue* ResolveGlobal(std::string_view name) { return GlobalSlot(name); }

bool CanMakeLists() { return HasSnippetEvaluator(); }

NativeHandle MakeList(std::vector<TValue>&& items) { return NewElementList(std::move(items)); }

TValue* EvaluateExpression(const std::string& expression) {
  TValue* slot = ResolveGlobal("$_tmp_valueOf");
  if (!slot) return nullptr;
  EvaluateSnippet("extends Object; $_tmp_valueOf=" + expression + ";");
  return slot;
}

} // namespace brova::natives
