// Snippet evaluation: a few statements of script source compiled as the initialisation code
// of a throw-away class and run to their end in a fresh instance. Values travel in and out
// through globals ($_1, $_2, $_tmp_...).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brova {

class TRTTI;

// The program's snippet evaluator.
struct TEvalCache {
  int32_t counter = 0;  // snippets compiled so far; names the next class
  std::string lastCode; // the text compiled last
  // Sorted; never filled, since every snippet is compiled anew. The debug window lists it.
  std::vector<std::string> cached;
};
TEvalCache& EvalCache();

// Compiles the text as class "eval" + counter (not attached to the tree) and runs it to its
// end: 0 ran to its end, 1 did not compile (errors reported only with `report`), 2 stopped
// with a runtime error (always shown).
int EvalSnippet(std::string_view text, bool report = true);

// Runs the body of a compiled class (its top-level statements) to its end in a fresh
// instance by a process of its own, which `currentProcess` names meanwhile: 0, or 2 after a
// runtime error (shown). The instance is destroyed afterwards unless something still
// references it, which `instanceKept` then tells; its class must then outlive it.
int RunClassBody(TRTTI& cls, bool* instanceKept = nullptr);

// Installs EvalSnippet behind the seams that evaluate snippets: the resource tree's, the
// runtime's EvaluateToValue and the natives' script services.
void InstallSnippetEvaluator();

} // namespace brova
