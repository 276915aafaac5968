// The seam through which the tree evaluates script snippets (a resource's script object, a
// global's initial value, generator scripts). Snippet evaluation installs itself here.
#pragma once
#include <functional>
#include <string_view>

namespace brova {

// 0 ran to its end, 1 did not compile, 2 stopped with a runtime error.
using SnippetEvaluator = std::function<int(std::string_view text, bool report)>;

// What EvaluateSnippet returns while no evaluator is installed: nothing ran.
inline constexpr int kSnippetUnavailable = -1;

void SetSnippetEvaluator(SnippetEvaluator evaluator);
bool HasSnippetEvaluator();
int EvaluateSnippet(std::string_view text, bool report = true);

} // namespace brova
