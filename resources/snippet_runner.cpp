#include "resources/snippet_runner.h"

namespace brova {
namespace {
SnippetRunner& Runner() {
  static SnippetRunner runner;
  return runner;
}
} // namespace

void SetSnippetRunner(SnippetRunner runner) { Runner() = std::move(runner); }

bool HasSnippetRunner() { return static_cast<bool>(Runner()); }

int RunSnippet(std::string_view text, bool report) {
  // A copy: the snippet may install another runner while it runs.
  SnippetRunner runner = Runner();
  return runner ? runner(text, report) : kSnippetUnavailable;
}

} // namespace brova
