#include "compiler/snippet_evaluation.h"

#include "compiler/class_compiler.h"
#include "platform/message_sink.h"
#include "resources/snippet_evaluator.h"
#include "runtime/globals.h"
#include "runtime/process.h"
#include "runtime/rtti.h"
#include "tools/time_analyzer.h"

namespace brova {
namespace {

// Snippet classes whose instance is still referenced after the run (a snippet that stored
// `this` in a global). Freeing such a class would leave the reference pointing into a freed
// block, so they are kept for the rest of the run.
std::vector<TRTTI*>& RetainedClasses() {
  static auto* classes = new std::vector<TRTTI*>;
  return *classes;
}

} // namespace

TEvalCache& EvalCache() {
  static auto* cache = new TEvalCache;
  return *cache;
}

int RunClassBody(TRTTI& cls, bool* instanceKept) {
  if (instanceKept) *instanceKept = false;
  auto* obj = HeapPtr<TfObject>(NewInstance(&cls));
  TProcess* process = nullptr;
  try {
    process = CreateProcess(obj, "");
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
    DestroyInstance(obj);
    return 2;
  }
  {
    TProfileSection running(kTpSnippetRun);
    RunToEnd(process);
  }
  int status = process->status == 2 ? 2 : 0;
  DestroyProcess(process);
  if (obj->refCount > 0) {
    if (instanceKept) *instanceKept = true;
  } else {
    DestroyInstance(obj);
  }
  return status;
}

int EvalSnippet(std::string_view text, bool report) {
  TProfileSection whole(kTpSnippet);
  TEvalCache& cache = EvalCache();
  // Made directly rather than from a class element: the element would enter the name in
  // the alias table, and snippets must leave no trace that others could see.
  auto* cls = new TRTTI;
  cls->name = "eval" + std::to_string(cache.counter++);
  cache.lastCode = std::string(text);
  const std::string source(text);
  if (CompileClass(*cls, source, report) != 0 || !cls->compiled) {
    DestroyClassRecord(cls);
    return 1;
  }
  bool kept = false;
  int status = RunClassBody(*cls, &kept);
  if (kept) RetainedClasses().push_back(cls);
  else DestroyClassRecord(cls);
  return status;
}

void InstallSnippetEvaluator() {
  SetSnippetEvaluator([](std::string_view text, bool report) { return EvalSnippet(text, report); });
  SetSnippetRunner([](const std::string& text) { EvalSnippet(text, true); });
}

} // namespace brova
