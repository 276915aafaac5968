// Tests that boot a kernel of their own put the process-wide script state back afterwards.
#pragma once
#include "compiler/class_file.h"
#include "resources/resource_tree.h"
#include "resources/snippet_evaluator.h"
#include "runtime/globals.h"
#include "runtime/process.h"
#include "runtime/rtti.h"

namespace brova::testing {

// The tree, the kernel classes the runtime keeps, and every seam the boot installs.
inline void ForgetScriptWorld(TRTTI* savedStringClass) {
  SetResourceRoot(nullptr);
  SetObjectClass(nullptr);
  SetArrayClass(nullptr);
  SetStringClass(savedStringClass);
  SetClassCompiler(nullptr);
  SetSnippetEvaluator(nullptr);
  SetSnippetRunner(nullptr);
  SetGlobalResolver(nullptr);
  SetGlobalDeclarer(nullptr);
  SetClassCacheFolder("");
  SetProgramFolder("");
  SetResourceBaseDir("");
}

} // namespace brova::testing
