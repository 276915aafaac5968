// Global script variables by name. They live in the resource tree and values of snippets
// come from snippet evaluation; both install their resolvers here when they start, and
// until then no global exists.
#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "runtime/value.h"

namespace brova {

// The value slot of a "$" global (created empty when missing); null for any other name or
// while no resolver is installed.
TValue* GlobalSlot(std::string_view name);
// AssignValue into the global's slot when there is one.
void SetGlobal(std::string_view name, const TValue& value);
// Adds (or with `add` false removes) the name in the project's list of declared globals.
void DeclareGlobal(std::string_view name, bool add);
// Evaluates an expression through a snippet and gives the slot of "$_tmp_valueOf" holding
// its value; null while snippets cannot be evaluated.
TValue* EvaluateToValue(std::string_view text);

// Installed by the resource tree: GlobalSlot for names beginning with "$".
void SetGlobalResolver(std::function<TValue*(std::string_view)> resolver);
void SetGlobalDeclarer(std::function<void(std::string_view, bool)> declarer);
// Installed by snippet evaluation: runs a snippet's source text to its end.
void SetSnippetRunner(std::function<void(const std::string&)> runner);

} // namespace brova
