#include "natives/process_natives.h"

#include <iterator>
#include <string>
#include <unordered_set>

#include "runtime/collector.h"
#include "runtime/process.h"

namespace brova::natives {
namespace {

// The processes native_init made and native_free has not freed yet.
std::unordered_set<NativeHandle>& MadeByScripts() {
  static std::unordered_set<NativeHandle> handles;
  return handles;
}

TProcess* ProcessArg(TValue* result) { return NativeOfKind<TProcess>(Arg(result, 1)); }

} // namespace

void ProcessInit(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TfObject* obj = ObjectOf(Arg(result, 1));
  if (!obj || !ClassOf(obj)) return SetNull(*result);
  std::string method = argc >= 2 ? ValueToText(Arg(result, 2)) : std::string();
  TProcess* p = CreateProcess(obj, method);
  MadeByScripts().insert(p->Handle());
  SetNative(*result, p->Handle());
}

void ProcessExec(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TProcess* p = ProcessArg(result);
  if (p && !p->running) Run(p, kDefaultSteps);
}

void ProcessSuspend(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (TProcess* p = ProcessArg(result)) Suspend(p);
}

void ProcessHalted(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TProcess* p = ProcessArg(result);
  SetFloat(*result, !p || IsFinished(p) ? 1.0f : 0.0f);
}

void ProcessFree(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TProcess* p = ProcessArg(result);
  if (p && MadeByScripts().erase(p->Handle())) DestroyProcess(p);
}

void ProcessKill(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (TProcess* p = ProcessArg(result)) ReleaseStack(p);
}

void ProcessMark(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  MarkProcess(ProcessArg(result));
}

const TNativeBinding kProcessNatives[] = {
    {"native_init", ProcessInit},       {"native_exec", ProcessExec},
    {"native_suspend", ProcessSuspend}, {"native_halted", ProcessHalted},
    {"native_free", ProcessFree},       {"native_kill", ProcessKill},
    {"native_proc_mark", ProcessMark},
};
const size_t kProcessNativeCount = std::size(kProcessNatives);

} // namespace brova::natives
