#include "natives/script_services.h"

namespace brova::natives {
namespace {
SnippetEvaluator g_evaluator;
GlobalResolver g_resolver;
ListMaker g_listMaker;
} // namespace

void SetSnippetEvaluator(SnippetEvaluator evaluator) { g_evaluator = std::move(evaluator); }
void SetGlobalResolver(GlobalResolver resolver) { g_resolver = std::move(resolver); }
void SetListMaker(ListMaker maker) { g_listMaker = std::move(maker); }

int EvaluateSnippet(const std::string& text) { return g_evaluator ? g_evaluator(text) : 1; }

TValue* ResolveGlobal(std::string_view name) { return g_resolver ? g_resolver(name) : nullptr; }

bool CanMakeLists() { return static_cast<bool>(g_listMaker); }

NativeHandle MakeList(std::vector<TValue>&& items) { return g_listMaker(std::move(items)); }

TValue* EvaluateExpression(const std::string& expression) {
  TValue* slot = ResolveGlobal("$_tmp_valueOf");
  if (!slot) return nullptr;
  EvaluateSnippet("extends Object; $_tmp_valueOf=" + expression + ";");
  return slot;
}

} // namespace brova::natives
