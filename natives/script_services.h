// What the built-in bodies need from the script machinery: snippet evaluation (the resource
// tree's seam, resources/snippet_evaluator.h), global variables (runtime/globals.h) and
// built-in lists. While snippets cannot be evaluated, the bodies that need them do nothing.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "runtime/value.h"

namespace brova::natives {

// Runs script statements to their end: 0 ran, 1 did not compile (or nothing can evaluate
// snippets), 2 stopped by a runtime error.
int EvaluateSnippet(const std::string& text);
// The value slot of a "$name" global, made on first use; null for any other name.
TValue* ResolveGlobal(std::string_view name);
// Whether snippets can be evaluated, which every body that wraps a list in an Array needs.
bool CanMakeLists();
// A new built-in list that takes over the items and their counted references.
NativeHandle MakeList(std::vector<TValue>&& items);

// The slot of "$_tmp_valueOf" after it was assigned the value of a script expression; null
// when globals are not available.
TValue* EvaluateExpression(const std::string& expression);

} // namespace brova::natives
