// What the built-in bodies need from the script machinery that is wired at start-up: snippet
// evaluation, global variables and built-in lists. Until a service is installed, the bodies
// that need it do nothing.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/value.h"

namespace brova::natives {

// Runs script statements to their end: 0 ran, 1 did not compile, 2 stopped by a runtime error.
using SnippetEvaluator = std::function<int(const std::string& text)>;
// The value slot of a "$name" global, created on first use; null for any other name.
using GlobalResolver = std::function<TValue*(std::string_view name)>;
// A new built-in list that takes over the items and their counted references.
using ListMaker = std::function<NativeHandle(std::vector<TValue>&& items)>;

void SetSnippetEvaluator(SnippetEvaluator evaluator);
void SetGlobalResolver(GlobalResolver resolver);
void SetListMaker(ListMaker maker);

// 1 (did not compile) when no evaluator is installed.
int EvaluateSnippet(const std::string& text);
TValue* ResolveGlobal(std::string_view name);
bool CanMakeLists();
NativeHandle MakeList(std::vector<TValue>&& items);

// The slot of "$_tmp_valueOf" after it was assigned the value of a script expression; null
// when globals are not available.
TValue* EvaluateExpression(const std::string& expression);

} // namespace brova::natives
