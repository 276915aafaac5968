// Hand-assembled methods and natives for interpreter tests, and a log of shown messages.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_sink.h"
#include "runtime/code.h"
#include "runtime/process.h"
#include "runtime/rtti.h"
#include "class_builder.h"

namespace brova::testing {

using CodeBody = std::function<void(TProgWriter&)>;

// A code block from the writer, with Op_Halt appended and the pairs fused.
inline TCompiledInfo* Assemble(TRTTI* owner, const CodeBody& body) {
  TProgWriter w(owner);
  body(w);
  w.Emit(Op_Halt);
  TCompiledInfo* info = w.Finish();
  info->Fuse();
  return info;
}

template <class Fn = TNormalFunction>
inline Fn* AddCode(TRTTI* cls, const char* name, int locals, const CodeBody& body) {
  auto* fn = new Fn(cls, name);
  for (int i = 0; i < locals; ++i) fn->localNames.push_back("l" + std::to_string(i));
  fn->code = Assemble(cls, body);
  AddOrOverrideMethod(cls, fn);
  return fn;
}

inline TNativeFunction* AddNative(TRTTI* cls, const char* name, NativeBody body) {
  auto* fn = new TNativeFunction(cls, name);
  fn->callback = body;
  AddOrOverrideMethod(cls, fn);
  return fn;
}

inline TfObject* NewObject(TRTTI* cls) { return HeapPtr<TfObject>(NewInstance(cls)); }

// Every message shown while it lives.
struct MessageLog {
  std::vector<std::string> shown;
  MessageLog() {
    platform::SetMessageObserver([this](std::string_view t) { shown.emplace_back(t); });
  }
  ~MessageLog() { platform::SetMessageObserver({}); }
};

// The interpreter's globals as a fresh player has them.
inline void ResetInterpreter() {
  defaultStackSize = 1024;
  stepAllowance = kDefaultSteps;
  preempted = false;
  lastWarning.clear();
  currentProcess = nullptr;
  SetDestructorRunner(RunDestructorProcess);
  StringClassForTests();
}

} // namespace brova::testing
