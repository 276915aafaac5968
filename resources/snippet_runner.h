// The seam through which the tree runs script snippets (a resource's script object, a
// global's initial value, generator scripts). The snippet evaluator installs the runner.
#pragma once
#include <functional>
#include <string_view>

namespace brova {

// 0 ran to its end, 1 did not compile, 2 stopped with a runtime error.
using SnippetRunner = std::function<int(std::string_view text, bool report)>;

// What RunSnippet returns while no runner is installed: nothing ran.
inline constexpr int kSnippetUnavailable = -1;

void SetSnippetRunner(SnippetRunner runner);
bool HasSnippetRunner();
int RunSnippet(std::string_view text, bool report = true);

} // namespace brova
