#include "runtime/process.h"
#include "runtime/source_place.h"

#include <algorithm>
#include <exception>

#include "platform/message_sink.h"
#include "runtime/code.h"
#include "runtime/errors.h"
#include "runtime/interpreter.h"
#include "runtime/progress_note.h"
#include "runtime/rtti.h"
#include "runtime/statistics.h"
#include "runtime/translate.h"

namespace brova {

int32_t defaultStackSize = 1024;
TProcess* currentProcess = nullptr;
int32_t stepAllowance = kDefaultSteps;
bool preempted = false;
std::string lastWarning;

namespace {

std::function<void()> g_debuggerStop;

// Nested runs (a native that runs another process, a destructor run from inside a run) nest
// on the host's own stack; past this depth a run fails instead of exhausting that stack.
constexpr int kMaxNestedRuns = 100;
int g_runDepth = 0;

// The block is laid out in whole cells; a size that is not a multiple of 8 loses the rest.
uint32_t UsableStackBytes(int32_t stackSize) {
  return stackSize > 0 ? static_cast<uint32_t>(stackSize) & ~7u : 0;
}

// Releases on the way out never raise: a count already at 0 stays there.
void ReleaseQuietly(TValue& v) {
  if (v.kind == vtObject && ObjectPtr(v)->refCount > 0) --ObjectPtr(v)->refCount;
}

void ReportRuntimeError(TProcess* p, const char* text) {
  ProgressNote("");
  platform::ShowMessage(text + SourcePlace(p));
  p->status = 2;
  ReleaseStack(p);
}

void EnterDebuggerStop() {
  if (!g_debuggerStop) return;
  try {
    g_debuggerStop();
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
  }
}

struct InstallDestructorRunner {
  InstallDestructorRunner() { SetDestructorRunner(RunDestructorProcess); }
} g_installDestructorRunner;

} // namespace

TProcess::TProcess() : TNativeObject(kKind) { ++g_live.processes; }

TProcess::~TProcess() {
  if (stackBase != kNoAddr) {
    heap::Free(stackBase, UsableStackBytes(stackSize));
    --g_live.stacks;
  }
  --g_live.processes;
}

TProcess* CreateProcess(TfObject* obj, std::string_view methodName) {
  TRTTI* cls = ClassOf(obj);
  if (!cls) throw EScriptError(Translate("Invalid Instruction"));
  TFunction* fn = nullptr;
  if (!methodName.empty()) {
    SymbolId sym = Intern(methodName);
    if (sym == Intern("constructor")) fn = ConstructorOf(cls);
    else if (sym == Intern("destructor")) fn = DestructorOf(cls);
    else fn = MethodByName(cls, methodName);
    if (!fn || fn->IsNative() || !static_cast<TNormalFunction*>(fn)->code)
      throw EScriptError(Translate("Method") + std::string(methodName) +
                         Translate(" is undefined."));
  }
  const TCompiledInfo* code = fn ? static_cast<TNormalFunction*>(fn)->code : cls->body;
  if (!code) throw EScriptError(Translate("Class") + ClassText(cls) + Translate(" has no code."));
  uint32_t declared = fn ? static_cast<uint32_t>(static_cast<TNormalFunction*>(fn)->localNames.size()) : 0;
  uint32_t locals = detail::FrameLocals(declared, *code);

  // The bottom frame lies 48 bytes below the block's end, under the receiver cell.
  uint32_t usable = UsableStackBytes(defaultStackSize);
  if (int64_t(usable) - 48 < detail::FrameReserve(locals, *code))
    throw EScriptError(Translate(code->Runnable() ? "Stack Overflow." : "Invalid Instruction"));

  auto* p = new TProcess;
  p->stackSize = defaultStackSize;
  try {
    p->stackBase = heap::Allocate(usable);
  } catch (...) {
    delete p;
    throw;
  }
  ++g_live.stacks;
  HeapAddr end = p->stackBase + usable;
  p->fp = end - 48;
  p->thisSlot = end - 8;
  TFrame* frame = HeapPtr<TFrame>(p->fp);
  frame->function = fn ? fn->id : 0;
  frame->argc = 0;
  frame->thisAddr = p->thisSlot;
  TValue& receiver = *HeapPtr<TValue>(p->thisSlot);
  receiver = ObjectValue(HeapAddrOf(obj));
  AddRef(receiver);
  TValue* local0 = &frame->local0;
  for (uint32_t k = 0; k < locals; ++k) local0[-int64_t(k)] = NullValue();
  p->sp = locals ? HeapAddrOf(local0 - (locals - 1)) : p->fp + 8;
  p->pc = code->code;
  return p;
}

void Run(TProcess* p, int32_t budget) {
  if (p->fp == kNoAddr || p->finished || p->running) return;
  if (g_runDepth >= kMaxNestedRuns) {
    ReportRuntimeError(p, Translate("Stack Overflow.").c_str());
    return;
  }
  ++g_runDepth;
  TProcess* outer = currentProcess;
  currentProcess = p;
  p->running = true;
  p->suspended = 0;
  int32_t left = budget <= 0 ? kDefaultSteps : budget;
  while (left > 0 && !p->suspended && !p->finished) {
    p->avail = std::max(0, std::min(left, stepAllowance));
    p->sliceSteps = p->avail;
    if (p->avail > 0) {
      try {
        detail::ExecuteSlice(p);
      } catch (const std::exception& e) {
        ReportRuntimeError(p, e.what());
        break;
      } catch (...) {
        ReportRuntimeError(p, Translate("Unknown error").c_str());
        break;
      }
    }
    if (stepAllowance < kDefaultSteps) stepAllowance -= p->sliceSteps;
    left -= p->sliceSteps;
    if (stepAllowance <= 0) {
      EnterDebuggerStop();
      if (stepAllowance < kDefaultSteps) left = stepAllowance;
    }
  }
  if (left <= 0) preempted = true;
  p->running = false;
  currentProcess = outer;
  --g_runDepth;
  if (p->destroyWhenStopped) delete p;
}

void Suspend(TProcess* p) {
  p->suspended = 1;
  p->sliceSteps -= p->avail;
  p->avail = 0;
}

void Finish(TProcess* p) {
  p->finished = 1;
  p->sliceSteps -= p->avail;
  p->avail = 0;
}

void WalkStack(const TProcess* p, const std::function<void(TValue&)>& visit) {
  if (p->sp != kNoAddr) {
    TValue* cell = HeapPtr<TValue>(p->sp);
    for (HeapAddr f = p->fp; f != kNoAddr;) {
      TFrame* frame = HeapPtr<TFrame>(f);
      for (; cell <= &frame->local0; ++cell) visit(*cell);
      TValue* receiver = HeapPtr<TValue>(frame->thisAddr);
      for (TValue* arg = reinterpret_cast<TValue*>(frame + 1); arg < receiver; ++arg) visit(*arg);
      visit(*receiver);
      cell = receiver + 1;
      f = frame->callerFp;
    }
  }
  if (p->resultSlot != kNoAddr) visit(*HeapPtr<TValue>(p->resultSlot));
}

void ReleaseStack(TProcess* p) {
  if (p->released) return;
  Finish(p);
  WalkStack(p, ReleaseQuietly);
  p->released = 1;
}

void DestroyProcess(TProcess* p) {
  ReleaseStack(p);
  if (p->running) p->destroyWhenStopped = true;
  else delete p;
}

void RunToEnd(TProcess* p) {
  bool wasPreempted = preempted;
  while (!p->finished && !p->running && p->fp != kNoAddr) {
    Run(p, kDefaultSteps);
    if (!p->finished && stepAllowance <= 0) break; // held by the debugger
  }
  preempted = wasPreempted;
}

void DumpStack(const TProcess* p, std::vector<std::string>& lines) {
  if (p->released || p->stackBase == kNoAddr) return;
  TValue* cell = HeapPtr<TValue>(p->sp);
  for (HeapAddr f = p->fp; f != kNoAddr;) {
    TFrame* frame = HeapPtr<TFrame>(f);
    lines.push_back("stacks");
    for (; cell <= &frame->local0; ++cell) lines.push_back(ValueToText(*cell));
    lines.push_back("args/this " + std::to_string(frame->argc));
    TValue* receiver = HeapPtr<TValue>(frame->thisAddr);
    for (TValue* c = reinterpret_cast<TValue*>(frame + 1); c <= receiver; ++c)
      lines.push_back(ValueToText(*c));
    cell = receiver + 1;
    f = frame->callerFp;
  }
  lines.push_back("-----------");
  lines.push_back(ValueToText(*HeapPtr<TValue>(p->stackBase + UsableStackBytes(p->stackSize) - 8)));
}

void Warn(const std::string& text) {
  if (text == lastWarning) return;
  lastWarning = text;
  platform::ShowMessage(text);
}

void RunDestructorProcess(TfObject* obj) {
  int32_t allowance = stepAllowance;
  TProcess* p = nullptr;
  try {
    p = CreateProcess(obj, "destructor");
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
    return;
  }
  Run(p, kDefaultSteps);
  DestroyProcess(p);
  stepAllowance = allowance;
}

void SetDebuggerStop(std::function<void()> stop) { g_debuggerStop = std::move(stop); }

} // namespace brova
