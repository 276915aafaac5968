#include "resources/snippet_evaluator.h"

namespace brova {
namespace {
SnippetEvaluator& Installed() {
  static SnippetEvaluator evaluator;
  return evaluator;
}
} // namespace

void SetSnippetEvaluator(SnippetEvaluator evaluator) { Installed() = std::move(evaluator); }

bool HasSnippetEvaluator() { return static_cast<bool>(Installed()); }

int EvaluateSnippet(std::string_view text, bool report) {
  // A copy: the snippet may install another evaluator while it runs.
  SnippetEvaluator evaluator = Installed();
  return evaluator ? evaluator(text, report) : kSnippetUnavailable;
}

} // namespace brova
