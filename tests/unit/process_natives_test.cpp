#include "natives/process_natives.h"

#include <gtest/gtest.h>

#include "natives/object_natives.h"
#include "runtime/errors.h"
#include "runtime/statistics.h"
#include "native_frame.h"
#include "process_builder.h"

namespace brova {
namespace {

using namespace natives;
using testing::AddCode;
using testing::AddNative;
using testing::Held;
using testing::MakeClass;
using testing::TNativeFrame;

TValue Str(const std::string& text) {
  testing::StringClassForTests();
  return Held(MakeString(text));
}

int32_t Local0(const TProcess* p) { return ValueToInt(*HeapPtr<TValue>(p->fp)); }

// A worker class whose methods call the natives under test through the interpreter.
class ProcessNatives : public ::testing::Test {
protected:
  void SetUp() override {
    testing::ResetInterpreter();
    cls_ = MakeClass("Worker", {});
    suspend_ = AddNative(cls_, "suspend", ObjectSuspend);
    current_ = AddNative(cls_, "currentProcess", ObjectCurrentProcess);
    exec_ = AddNative(cls_, "native_exec", ProcessExec);
    free_ = AddNative(cls_, "native_free", ProcessFree);
    // work: for (;;) { local0 += 1; suspend(); }
    AddCode(cls_, "work", 1, [&](TProgWriter& w) {
      int32_t top = w.Emit(Op_LocalValPtr, {0});
      w.EmitPush(IntValue(1));
      w.Emit(Op_AddSubst);
      w.Emit(Op_Pop);
      CallOnThis(w, suspend_);
      int32_t back = w.EmitJump(Op_Jump);
      w.PatchJump(back, top);
    });
    worker_ = Held(NewInstance(cls_));
  }

  static void CallOnThis(TProgWriter& w, TNativeFunction* fn) {
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, fn->id});
    w.Emit(Op_Pop);
  }
  // native(currentProcess()); the process hands itself to a Process native.
  static void CallWithCurrent(TProgWriter& w, TNativeFunction* current, TNativeFunction* fn) {
    w.Emit(Op_PushThis);
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, current->id});
    w.Emit(Op_NativeCall, {1, fn->id});
    w.Emit(Op_Pop);
  }

  TValue Init(std::initializer_list<TValue> args) { return frame_.Call(ProcessInit, worker_, args); }
  const TValue& Call(NativeBody body, const TValue& process) {
    return frame_.Call(body, worker_, {process});
  }

  TRTTI* cls_ = nullptr;
  TNativeFunction *suspend_ = nullptr, *current_ = nullptr, *exec_ = nullptr, *free_ = nullptr;
  TValue worker_;
  TNativeFrame frame_;
  testing::MessageLog log_;
};

TEST_F(ProcessNatives, ALifeOfSlices) {
  int64_t processes = g_live.processes;
  TValue p = Init({worker_, Str("work")});
  TProcess* proc = NativeOfKind<TProcess>(p);
  ASSERT_NE(proc, nullptr);
  EXPECT_EQ(ObjectPtr(worker_)->refCount, 2) << "the test and the process's receiver";
  Call(ProcessExec, p);
  EXPECT_EQ(Local0(proc), 1) << "one round, then suspend";
  EXPECT_EQ(Call(ProcessHalted, p).kind, vtFloat);
  EXPECT_EQ(Call(ProcessHalted, p).f, 0.0f);
  Call(ProcessExec, p);
  Call(ProcessExec, p);
  EXPECT_EQ(Local0(proc), 3);

  Call(ProcessKill, p);
  EXPECT_EQ(Call(ProcessHalted, p).f, 1.0f);
  EXPECT_EQ(ObjectPtr(worker_)->refCount, 1) << "the stack was released";
  Call(ProcessExec, p);
  EXPECT_EQ(Local0(proc), 3) << "a killed process does not run";

  Call(ProcessFree, p);
  EXPECT_EQ(NativeFromHandle(p.u), nullptr);
  EXPECT_EQ(g_live.processes, processes);
  for (NativeBody body : {ProcessExec, ProcessSuspend, ProcessKill, ProcessFree, ProcessMark})
    Call(body, p); // a freed process: nothing happens
  EXPECT_EQ(Call(ProcessHalted, p).f, 1.0f) << "no process counts as halted";
  EXPECT_EQ(Call(ProcessHalted, IntValue(3)).f, 1.0f);
  EXPECT_TRUE(log_.shown.empty());
}

TEST_F(ProcessNatives, InitRunsAMethodOrTheClassBody) {
  cls_->body = testing::Assemble(cls_, [](TProgWriter& w) {
    w.EmitPush(IntValue(4));
    w.Emit(Op_Ret);
  });
  TValue body = Init({worker_});
  Call(ProcessExec, body);
  TProcess* proc = NativeOfKind<TProcess>(body);
  EXPECT_TRUE(IsFinished(proc));
  EXPECT_EQ(ValueToText(*HeapPtr<TValue>(proc->resultSlot)), "4");
  Call(ProcessFree, body);

  EXPECT_EQ(Init({IntValue(1), Str("work")}).kind, vtNull) << "no object to run";
  EXPECT_EQ(Init({}).u, worker_.u) << "too few arguments";
  EXPECT_THROW(Init({worker_, Str("nothing")}), EScriptError);
}

TEST_F(ProcessNatives, AProcessCannotRunOrFreeItselfThroughANative) {
  // selfish: native_exec(currentProcess()); native_free(currentProcess()); return 7;
  AddCode(cls_, "selfish", 0, [&](TProgWriter& w) {
    CallWithCurrent(w, current_, exec_);
    CallWithCurrent(w, current_, free_);
    w.EmitPush(IntValue(7));
    w.Emit(Op_Ret);
  });
  // Made by the player (as the root, destructor and gc_mark processes are): freeing it is
  // the business of the code that made it.
  TProcess* root = CreateProcess(ObjectPtr(worker_), "selfish");
  NativeHandle handle = root->Handle();
  brova::Run(root, 0);
  ASSERT_EQ(NativeFromHandle(handle), root) << "still alive";
  EXPECT_EQ(root->status, 0);
  EXPECT_EQ(ValueToText(*HeapPtr<TValue>(root->resultSlot)), "7");
  DestroyProcess(root);

  // Made by a script: it may free itself, and goes when its run ends.
  int64_t processes = g_live.processes;
  TValue p = Init({worker_, Str("selfish")});
  Call(ProcessExec, p);
  EXPECT_EQ(NativeFromHandle(p.u), nullptr);
  EXPECT_EQ(g_live.processes, processes);
  EXPECT_TRUE(log_.shown.empty());
}

TEST_F(ProcessNatives, ObjectNativesSeeTheCurrentProcess) {
  TNativeFunction* func = AddNative(cls_, "currentFunc", ObjectCurrentFunc);
  TNativeFunction* brk = AddNative(cls_, "breakExec", ObjectBreakExec);
  AddCode(cls_, "whoAmI", 0, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, func->id});
    w.Emit(Op_Ret);
  });
  TProcess* p = CreateProcess(ObjectPtr(worker_), "whoAmI");
  brova::Run(p, 0);
  EXPECT_EQ(ValueToText(*HeapPtr<TValue>(p->resultSlot)), "whoAmI");
  DestroyProcess(p);

  // breaking: local0 += 1; breakExec(); local0 += 1;  then wait
  AddCode(cls_, "breaking", 1, [&](TProgWriter& w) {
    for (int i = 0; i < 2; ++i) {
      w.Emit(Op_LocalValPtr, {0});
      w.EmitPush(IntValue(1));
      w.Emit(Op_AddSubst);
      w.Emit(Op_Pop);
      if (i == 0) CallOnThis(w, brk);
    }
    CallOnThis(w, suspend_);
  });
  p = CreateProcess(ObjectPtr(worker_), "breaking");
  brova::Run(p, 0);
  EXPECT_EQ(Local0(p), 1) << "no debugger: the process waits where it broke";
  EXPECT_LE(stepAllowance, 0);
  EXPECT_FALSE(p->finished);
  int stops = 0;
  SetDebuggerStop([&] {
    ++stops;
    stepAllowance = kDefaultSteps; // the debugger lets it go on
  });
  stepAllowance = kDefaultSteps;
  brova::Run(p, 0);
  EXPECT_EQ(stops, 0);
  EXPECT_EQ(Local0(p), 2);
  DestroyProcess(p);

  p = CreateProcess(ObjectPtr(worker_), "breaking");
  brova::Run(p, 0);
  SetDebuggerStop({});
  EXPECT_EQ(stops, 1) << "breakExec entered the debugger's stop";
  EXPECT_EQ(Local0(p), 2);
  EXPECT_TRUE(p->suspended);
  DestroyProcess(p);

  TNativeFrame frame;
  EXPECT_EQ(frame.Call(ObjectCurrentProcess, worker_, {}).kind, vtNull) << "outside any run";
  EXPECT_EQ(frame.Call(ObjectCurrentFunc, worker_, {}).u, worker_.u);
}

} // namespace
} // namespace brova
