#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "runtime/errors.h"
#include "runtime/process.h"
#include "runtime/statistics.h"
#include "runtime/value_list.h"
#include "process_builder.h"

namespace brova {
namespace {

using testing::AddCode;
using testing::AddNative;
using testing::MakeClass;
using testing::NewObject;

class Interpreter : public ::testing::Test {
protected:
  void SetUp() override { testing::ResetInterpreter(); }

  struct Outcome {
    int status;
    TVType kind;
    std::string text;
  };

  // Runs `name` of a fresh instance once with the default budget.
  Outcome RunMethod(TRTTI* cls, const char* name) {
    TProcess* p = CreateProcess(NewObject(cls), name);
    brova::Run(p, 0);
    Outcome o{p->status, vtNull, ""};
    if (p->resultSlot != kNoAddr && !p->released) {
      TValue v = *HeapPtr<TValue>(p->resultSlot);
      o.kind = static_cast<TVType>(v.kind);
      o.text = ValueToText(v);
    }
    DestroyProcess(p);
    return o;
  }

  testing::MessageLog log;
};

// An operand of the tables below: a constant or a string literal.
struct Operand {
  TValue value;
  const char* text = nullptr;
  void Emit(TProgWriter& w) const {
    if (text) w.EmitPushString(text);
    else w.EmitPush(value);
  }
};
Operand I(int32_t i) { return {IntValue(i)}; }
Operand F(float f) { return {FloatValue(f)}; }
Operand S(const char* s) { return {NullValue(), s}; }
Operand N() { return {NullValue()}; }
Operand U() { return {UnsetValue(Intern("u"))}; }

struct BinaryCase {
  Operand l;
  TOpcode op;
  Operand r;
  TVType kind;
  const char* text;
};

TEST_F(Interpreter, OperatorTable) {
  const BinaryCase cases[] = {
      {I(7), Op_Div, I(2), vtFloat, "3.5"},
      {I(8), Op_Div, I(2), vtInt, "4"},
      {I(-9), Op_Div, I(3), vtInt, "-3"},
      {I(7), Op_Mod, F(2.9f), vtInt, "1"},
      {F(5.5f), Op_Mod, I(2), vtInt, "1"},
      {F(-7.5f), Op_Mod, F(2.5f), vtInt, "-1"},
      {I(-7), Op_Mod, I(2), vtInt, "-1"},
      {I(INT_MAX), Op_Add, I(1), vtInt, "-2147483648"},
      {I(INT_MIN), Op_Sub, I(1), vtInt, "2147483647"},
      {I(65536), Op_Mul, I(65536), vtInt, "0"},
      {I(1), Op_Add, F(0.5f), vtFloat, "1.5"},
      {F(0.1f), Op_Mul, I(3), vtFloat, "0.300000011920929"},
      {F(1.0f), Op_Div, F(4.0f), vtFloat, "0.25"},
      {N(), Op_Add, I(3), vtInt, "3"},
      {N(), Op_Sub, I(3), vtInt, "-3"},
      {N(), Op_Sub, F(2.5f), vtFloat, "-2.5"},
      {U(), Op_Mul, I(4), vtInt, "4"},
      {I(3), Op_Mul, N(), vtInt, "3"},
      {S("a"), Op_Add, I(1), vtObject, "a1"},
      {S("a"), Op_Add, I(INT_MIN), vtObject, "a-2147483648"},
      {S("a"), Op_Add, F(-0.5f), vtObject, "a-0.5"},
      {I(1), Op_Add, S("a"), vtObject, "1a"},
      {S("x"), Op_Add, N(), vtObject, "x"},
      {S("x"), Op_Add, U(), vtObject, "x"},
      {S("x"), Op_Add, S("y"), vtObject, "xy"},
      {S("x"), Op_Sub, I(1), vtObject, "x"},
      {I(2), Op_Sub, S("x"), vtInt, "2"},
      // comparisons give floats; strings are only equal or unequal
      {I(2), Op_LT, I(3), vtFloat, "1"},
      {I(INT_MAX), Op_GT, I(-1), vtFloat, "1"},
      {I(5), Op_EQ, F(5.0f), vtFloat, "1"},
      {F(2.5f), Op_GTE, I(3), vtFloat, "0"},
      {S("abc"), Op_LT, S("abd"), vtFloat, "0"},
      {S("abd"), Op_LT, S("abc"), vtFloat, "0"},
      {S("abc"), Op_GT, S("abd"), vtFloat, "1"},
      {S("abd"), Op_GT, S("abc"), vtFloat, "1"},
      {S("abc"), Op_EQ, S("abc"), vtFloat, "1"},
      {S("abc"), Op_LT, S("abc"), vtFloat, "0"},
      {S("abc"), Op_GT, S("abc"), vtFloat, "0"},
      {S("5"), Op_EQ, I(5), vtFloat, "1"},
      {I(5), Op_EQ, S("5"), vtFloat, "0"},
      {N(), Op_EQ, U(), vtFloat, "1"},
      {N(), Op_NEQ, I(0), vtFloat, "1"},
  };
  TRTTI* cls = MakeClass("Arith", {});
  for (const BinaryCase& c : cases) {
    AddCode(cls, "f", 0, [&](TProgWriter& w) {
      c.l.Emit(w);
      c.r.Emit(w);
      w.Emit(c.op);
      w.Emit(Op_Ret);
    });
    Outcome o = RunMethod(cls, "f");
    SCOPED_TRACE(std::string(OpcodeName(c.op)) + " giving " + c.text);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.kind, c.kind);
    EXPECT_EQ(o.text, c.text);
  }
  EXPECT_TRUE(log.shown.empty());
}

TEST_F(Interpreter, ArithmeticFaultsEndTheProcessWithoutASignal) {
  const BinaryCase cases[] = {
      {I(1), Op_Div, I(0), vtNull, "Division by zero"},
      {I(1), Op_Mod, I(0), vtNull, "Division by zero"},
      {I(1), Op_Div, I(-0), vtNull, "Division by zero"},
      {I(3), Op_Mod, F(0.5f), vtNull, "Division by zero"},
      {F(3.5f), Op_Mod, I(0), vtNull, "Division by zero"},
      {F(1.0f), Op_Div, F(0.0f), vtNull, "Floating point division by zero"},
      {I(1), Op_Div, F(0.0f), vtNull, "Floating point division by zero"},
      {F(1.0f), Op_Div, I(0), vtNull, "Floating point division by zero"},
      {I(INT_MIN), Op_Div, I(-1), vtNull, "Integer overflow"},
      {I(INT_MIN), Op_Mod, I(-1), vtNull, "Integer overflow"},
  };
  TRTTI* cls = MakeClass("Faults", {});
  for (const BinaryCase& c : cases) {
    log.shown.clear();
    AddCode(cls, "f", 0, [&](TProgWriter& w) {
      c.l.Emit(w);
      c.r.Emit(w);
      w.Emit(c.op);
      w.Emit(Op_Ret);
    });
    Outcome o = RunMethod(cls, "f");
    EXPECT_EQ(o.status, 2) << c.text;
    EXPECT_EQ(log.shown, std::vector<std::string>{c.text});
  }
  // INT_MIN % -1 in 64 bits (a float operand) is plain 0
  AddCode(cls, "g", 0, [](TProgWriter& w) {
    w.EmitPush(IntValue(INT_MIN));
    w.EmitPush(FloatValue(-1.0f));
    w.Emit(Op_Mod);
    w.Emit(Op_Ret);
  });
  EXPECT_EQ(RunMethod(cls, "g").text, "0");
}

TEST_F(Interpreter, LogicAndCompoundAssignment) {
  struct Case {
    const char* name;
    testing::CodeBody body;
    const char* text;
  };
  auto local = [](TProgWriter& w, TValue v) {
    w.Emit(Op_LocalValPtr, {0});
    w.EmitPush(v);
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
  };
  const Case cases[] = {
      {"not of 0", [](TProgWriter& w) { w.EmitPush(IntValue(0)); w.Emit(Op_Not); }, "1"},
      {"not of an error", [](TProgWriter& w) { w.EmitPush(ErrorValue(3)); w.Emit(Op_Not); }, "1"},
      {"not of NaN", [](TProgWriter& w) { w.EmitPush(FloatValue(NAN)); w.Emit(Op_Not); }, "1"},
      {"neg", [](TProgWriter& w) { w.EmitPush(FloatValue(2.5f)); w.Emit(Op_Neg); }, "-2.5"},
      {"neg of INT_MIN wraps", [](TProgWriter& w) { w.EmitPush(IntValue(INT_MIN)); w.Emit(Op_Neg); }, "-2147483648"},
      {"and: the deciding operand", [](TProgWriter& w) {
         w.EmitPush(IntValue(0));
         int32_t j = w.EmitJump(Op_Jump_And);
         w.EmitPush(IntValue(7));
         w.Emit(Op_And);
         w.PatchJump(j, w.Pos());
       }, "0"},
      {"or: the deciding operand", [](TProgWriter& w) {
         w.EmitPush(IntValue(0));
         int32_t j = w.EmitJump(Op_Jump_Or);
         w.EmitPush(IntValue(7));
         w.Emit(Op_Or);
         w.PatchJump(j, w.Pos());
       }, "7"},
      {"int += float", [&](TProgWriter& w) {
         local(w, IntValue(2));
         w.Emit(Op_LocalValPtr, {0});
         w.EmitPush(FloatValue(0.5f));
         w.Emit(Op_AddSubst);
         w.Emit(Op_Deref);
       }, "2.5"},
      {"float -= int", [&](TProgWriter& w) {
         local(w, FloatValue(2.5f));
         w.Emit(Op_LocalValPtr, {0});
         w.EmitPush(IntValue(1));
         w.Emit(Op_SubSubst);
         w.Emit(Op_Deref);
       }, "1.5"},
      {"null -= 3 assigns", [&](TProgWriter& w) {
         w.Emit(Op_LocalValPtr, {0});
         w.EmitPush(IntValue(3));
         w.Emit(Op_SubSubst);
         w.Emit(Op_Deref);
       }, "3"},
      {"int += string leaves the target", [&](TProgWriter& w) {
         local(w, IntValue(4));
         w.Emit(Op_LocalValPtr, {0});
         w.EmitPushString("s");
         w.Emit(Op_AddSubst);
         w.Emit(Op_Deref);
       }, "4"},
  };
  TRTTI* cls = MakeClass("Logic", {});
  for (const Case& c : cases) {
    AddCode(cls, "f", 1, [&](TProgWriter& w) {
      c.body(w);
      w.Emit(Op_Ret);
    });
    Outcome o = RunMethod(cls, "f");
    EXPECT_EQ(o.status, 0) << c.name;
    EXPECT_EQ(o.text, c.text) << c.name;
  }
}

// ---- budget, suspension, nesting

// local 0 += 1 forever: five instructions a round.
void CountForever(TProgWriter& w) {
  int32_t top = w.Emit(Op_LocalValPtr, {0});
  w.EmitPush(IntValue(1));
  w.Emit(Op_AddSubst);
  w.Emit(Op_Pop);
  int32_t j = w.EmitJump(Op_Jump);
  w.PatchJump(j, top);
}

int32_t Local0(const TProcess* p) { return HeapPtr<TValue>(p->fp)->i; }

TEST_F(Interpreter, BudgetPreemptsAndTheNextRunResumes) {
  TRTTI* cls = MakeClass("Loop", {});
  AddCode(cls, "spin", 1, CountForever);
  TProcess* p = CreateProcess(NewObject(cls), "spin");
  HeapPtr<TValue>(p->fp)[0] = IntValue(0);
  brova::Run(p, 100);
  EXPECT_EQ(Local0(p), 20);
  EXPECT_EQ(p->sliceSteps, 100);
  EXPECT_TRUE(preempted);
  preempted = false;
  brova::Run(p, 0);
  EXPECT_EQ(Local0(p), 20 + kDefaultSteps / 5);
  EXPECT_EQ(p->sliceSteps, kDefaultSteps);
  EXPECT_TRUE(preempted);
  EXPECT_FALSE(p->finished);
  DestroyProcess(p);
}

int g_suspends = 0;
void SuspendNative(TValue*, int32_t, int32_t) {
  ++g_suspends;
  Suspend(currentProcess);
}

TEST_F(Interpreter, SuspendEndsTheRunAfterTheNativeAndTheNextRunGoesOn) {
  TRTTI* cls = MakeClass("Suspender", {});
  TNativeFunction* suspend = AddNative(cls, "suspend", SuspendNative);
  AddCode(cls, "f", 1, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, suspend->id});
    w.Emit(Op_Pop);
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, suspend->id});
    w.Emit(Op_Pop);
    w.EmitPush(IntValue(9));
    w.Emit(Op_Ret);
  });
  g_suspends = 0;
  TProcess* p = CreateProcess(NewObject(cls), "f");
  brova::Run(p, 0);
  EXPECT_EQ(g_suspends, 1);
  EXPECT_EQ(p->sliceSteps, 2);
  EXPECT_TRUE(p->suspended);
  EXPECT_FALSE(preempted);
  brova::Run(p, 0);
  EXPECT_EQ(g_suspends, 2);
  EXPECT_EQ(p->sliceSteps, 3) << "the run starts with the Pop after the native call";
  brova::Run(p, 0);
  EXPECT_TRUE(p->finished);
  EXPECT_EQ(ValueToText(*HeapPtr<TValue>(p->resultSlot)), "9");
  DestroyProcess(p);
}

TProcess* g_inner = nullptr;
std::vector<TProcess*> g_seen;
void RecordCurrent(TValue*, int32_t, int32_t) { g_seen.push_back(currentProcess); }
void RunInner(TValue* result, int32_t, int32_t) {
  g_seen.push_back(currentProcess);
  brova::Run(g_inner, 0);
  g_seen.push_back(currentProcess);
  SetInt(*result, 5);
}

std::vector<uint32_t> g_framePos;
void RecordFramePos(TValue*, int32_t, int32_t) {
  const TFrame* f = HeapPtr<TFrame>(currentProcess->fp);
  g_framePos = {f->posClass, f->posLine, f->posExtra};
}

// Each frame keeps the position its caller had reached, for messages about the call.
TEST_F(Interpreter, FramesKeepTheCallersPosition) {
  TRTTI* cls = MakeClass("Where", {});
  TNativeFunction* record = AddNative(cls, "record", RecordFramePos);
  AddCode(cls, "inner", 0, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, record->id});
    w.Emit(Op_Ret);
  });
  AddCode(cls, "outer", 0, [&](TProgWriter& w) {
    w.Emit(Op_Point, {cls->id, 17, 0x12345678});
    w.Emit(Op_PushThis);
    w.Emit(Op_DCall, {0, Intern("inner"), 0});
    w.Emit(Op_Ret);
  });
  g_framePos.clear();
  EXPECT_EQ(RunMethod(cls, "outer").status, 0);
  EXPECT_EQ(g_framePos, (std::vector<uint32_t>{cls->id, 17, 0x12345678}));
}

TEST_F(Interpreter, NestedRunsSeeTheInnermostProcess) {
  TRTTI* cls = MakeClass("Nest", {});
  TNativeFunction* record = AddNative(cls, "record", RecordCurrent);
  TNativeFunction* inner = AddNative(cls, "inner", RunInner);
  AddCode(cls, "leaf", 0, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, record->id});
    w.Emit(Op_Ret);
  });
  AddCode(cls, "outer", 0, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, inner->id});
    w.Emit(Op_Ret);
  });
  g_seen.clear();
  g_inner = CreateProcess(NewObject(cls), "leaf");
  TProcess* outer = CreateProcess(NewObject(cls), "outer");
  brova::Run(outer, 0);
  EXPECT_EQ(g_seen, (std::vector<TProcess*>{outer, g_inner, outer}));
  EXPECT_EQ(currentProcess, nullptr);
  EXPECT_TRUE(g_inner->finished);
  EXPECT_EQ(ValueToText(*HeapPtr<TValue>(outer->resultSlot)), "5");
  DestroyProcess(g_inner);
  DestroyProcess(outer);
}

TEST_F(Interpreter, StepAllowanceStopsInTheDebuggerAndCounts) {
  TRTTI* cls = MakeClass("Stepper", {});
  AddCode(cls, "spin", 1, CountForever);
  TProcess* p = CreateProcess(NewObject(cls), "spin");
  HeapPtr<TValue>(p->fp)[0] = IntValue(0);
  int stops = 0;
  SetDebuggerStop([&] {
    ++stops;
    if (stops == 1) stepAllowance = 5; // grant one more round
  });
  stepAllowance = 10;
  brova::Run(p, 0);
  SetDebuggerStop({});
  EXPECT_EQ(stops, 2);
  EXPECT_EQ(Local0(p), 3);
  EXPECT_EQ(stepAllowance, 0);
  DestroyProcess(p);
}

// The interpreter takes common sequences (assignment and Pop, a comparison deciding a
// jump, `local += constant;`, `local = other;` and `local -= other;` and the jump after
// them, integer operands going into arithmetic) in one pass; every budget must still stop
// after exactly its number of instructions.
TEST_F(Interpreter, EveryBudgetSplitMatchesSingleSteps) {
  TRTTI* cls = MakeClass("Steps", {});
  AddCode(cls, "f", 4, [](TProgWriter& w) {
    auto assign = [&](uint32_t k, std::function<void()> value) {
      w.Emit(Op_LocalValPtr, {k});
      value();
      w.Emit(Op_Subst);
      w.Emit(Op_Pop);
    };
    auto local = [&](uint32_t k) {
      return [&w, k] {
        w.Emit(Op_LocalValPtr, {k});
        w.Emit(Op_Deref);
      };
    };
    auto update = [&](uint32_t k, TOpcode op, uint32_t other) {
      w.Emit(Op_LocalValPtr, {k});
      local(other)();
      w.Emit(op);
      w.Emit(Op_Pop);
    };
    // A countdown whose step is `local -= other;` going straight back to its test.
    assign(3, [&] { w.EmitPush(IntValue(1)); });
    assign(2, [&] { w.EmitPush(IntValue(3)); });
    int32_t top2 = w.Pos();
    local(2)();
    w.EmitPush(IntValue(0));
    w.Emit(Op_GT);
    int32_t end2 = w.EmitJump(Op_JumpZero);
    update(2, Op_SubSubst, 3);
    w.PatchJump(w.EmitJump(Op_Jump), top2);
    w.PatchJump(end2, w.Pos());
    assign(0, [&] { w.EmitPush(IntValue(0)); });
    assign(1, [&] { w.EmitPush(IntValue(100)); });
    int32_t top = w.Emit(Op_LocalValPtr, {0});
    w.Emit(Op_Deref);
    w.EmitPush(IntValue(4));
    w.Emit(Op_LT);
    int32_t end = w.EmitJump(Op_JumpZero);
    assign(1, [&] {
      w.Emit(Op_LocalValPtr, {1});
      w.Emit(Op_Deref);
      w.Emit(Op_LocalValPtr, {0});
      w.Emit(Op_Deref);
      w.Emit(Op_Add);
    });
    assign(1, [&] {
      w.Emit(Op_LocalValPtr, {1});
      w.Emit(Op_Deref);
      w.EmitPush(IntValue(3));
      w.Emit(Op_Sub);
    });
    for (TOpcode op : {Op_AddSubst, Op_SubSubst}) {
      w.Emit(Op_LocalValPtr, {op == Op_AddSubst ? 0u : 1u});
      w.EmitPush(IntValue(op == Op_AddSubst ? 1 : 2));
      w.Emit(op);
      w.Emit(Op_Pop);
    }
    w.Emit(Op_LocalValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_LocalValPtr, {1});
    w.Emit(Op_Deref);
    w.Emit(Op_GT);
    int32_t skip = w.EmitJump(Op_JumpZero);
    w.PatchJump(skip, w.Pos());
    // Two operands into a product, a constant into the top, the top compared with a
    // constant, and a loop step going straight back to the test.
    assign(1, [&] {
      w.Emit(Op_LocalValPtr, {1});
      w.Emit(Op_Deref);
      w.Emit(Op_LocalValPtr, {0});
      w.Emit(Op_Deref);
      w.Emit(Op_Mul);
      w.EmitPush(IntValue(7));
      w.Emit(Op_Mod);
    });
    w.Emit(Op_LocalValPtr, {1});
    w.Emit(Op_Deref);
    w.Emit(Op_LocalValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_Mul);
    w.EmitPush(IntValue(50));
    w.Emit(Op_GT);
    int32_t skip2 = w.EmitJump(Op_JumpZero);
    w.PatchJump(skip2, w.Pos());
    // Assignments and updates from other locals: l2 = l1; l2 += l0; l2 -= l0; l1 = l2;
    assign(2, local(1));
    update(2, Op_AddSubst, 0);
    update(2, Op_SubSubst, 0);
    assign(1, local(2));
    w.Emit(Op_LocalValPtr, {1});
    w.EmitPush(IntValue(5));
    w.Emit(Op_AddSubst);
    w.Emit(Op_Pop);
    int32_t back = w.EmitJump(Op_Jump);
    w.PatchJump(back, top);
    w.PatchJump(end, w.Pos());
    w.Emit(Op_LocalValPtr, {1});
    w.Emit(Op_Deref);
    w.Emit(Op_Ret);
  });
  struct State {
    HeapAddr pc, sp;
    int32_t a, b;
    bool finished;
    bool operator==(const State&) const = default;
  };
  auto state = [](const TProcess* p) {
    const TValue* local = p->finished ? nullptr : HeapPtr<TValue>(p->fp);
    return State{p->pc, p->sp - p->stackBase, local ? local[0].i : 0, local ? local[-1].i : 0, p->finished != 0};
  };
  TProcess* stepped = CreateProcess(NewObject(cls), "f");
  std::vector<State> trace{state(stepped)};
  while (!stepped->finished) {
    brova::Run(stepped, 1);
    trace.push_back(state(stepped));
  }
  EXPECT_EQ(ValueToText(*HeapPtr<TValue>(stepped->resultSlot)), "7");
  for (size_t k = 1; k < trace.size(); ++k) {
    TProcess* p = CreateProcess(NewObject(cls), "f");
    brova::Run(p, static_cast<int32_t>(k));
    EXPECT_TRUE(state(p) == trace[k]) << "budget " << k;
    for (size_t rest = k; !p->finished; rest += 7) {
      brova::Run(p, 7);
      EXPECT_TRUE(state(p) == trace[std::min(rest + 7, trace.size() - 1)]) << k << "+" << rest;
    }
    DestroyProcess(p);
  }
  DestroyProcess(stepped);
}

// A literal followed by Add joins the text on its left in one pass, and a join's own result
// grows in place; both only where nothing else holds the String, and with every
// instruction counted as when stepping one at a time.
TEST_F(Interpreter, StringJoinsCountEveryInstructionAndLeaveOtherHoldersAlone) {
  TRTTI* cls = MakeClass("Joins", {});
  AddCode(cls, "f", 2, [](TProgWriter& w) {
    auto local = [&](uint32_t k) {
      w.Emit(Op_LocalValPtr, {k});
      w.Emit(Op_Deref);
    };
    // l0 = "ab"; l1 = l0 + "c" + 1 + "d" + l0; return l0 + "|" + l1 + "|" + ("e" + l0);
    w.Emit(Op_LocalValPtr, {0});
    w.EmitPushString("ab");
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    w.Emit(Op_LocalValPtr, {1});
    local(0);
    w.EmitPushString("c");
    w.Emit(Op_Add);
    w.EmitPush(IntValue(1));
    w.Emit(Op_Add);
    w.EmitPushString("d");
    w.Emit(Op_Add);
    local(0);
    w.Emit(Op_Add);
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    local(0);
    w.EmitPushString("|");
    w.Emit(Op_Add);
    local(1);
    w.Emit(Op_Add);
    w.EmitPushString("|");
    w.Emit(Op_Add);
    w.EmitPushString("e");
    local(0);
    w.Emit(Op_Add);
    w.Emit(Op_Add);
    w.Emit(Op_Ret);
  });
  auto position = [](const TProcess* p) { return std::pair{p->pc, p->sp - p->stackBase}; };
  TProcess* stepped = CreateProcess(NewObject(cls), "f");
  std::vector<std::pair<HeapAddr, HeapAddr>> trace{position(stepped)};
  while (!stepped->finished) {
    brova::Run(stepped, 1);
    trace.push_back(position(stepped));
  }
  const std::string expected = "ab|abc1dab|eab";
  EXPECT_EQ(ValueToText(*HeapPtr<TValue>(stepped->resultSlot)), expected);
  DestroyProcess(stepped);
  for (size_t k = 1; k < trace.size(); ++k) {
    TProcess* p = CreateProcess(NewObject(cls), "f");
    brova::Run(p, static_cast<int32_t>(k));
    EXPECT_EQ(position(p), trace[k]) << "budget " << k;
    brova::Run(p, 0);
    ASSERT_TRUE(p->finished) << "budget " << k;
    EXPECT_EQ(ValueToText(*HeapPtr<TValue>(p->resultSlot)), expected) << "budget " << k;
    DestroyProcess(p);
  }
  EXPECT_TRUE(log.shown.empty());
}

// Runs `f` of a receiver from `make` one instruction at a time, then at every budget split
// (that budget, then the rest at once): each split stops where single steps stop, and
// ends with the same result, messages and `state`. Returns the result's text.
std::string SplitsMatchSingleSteps(const std::function<TfObject*()>& make, testing::MessageLog& log,
                                   const std::function<std::string()>& state = [] { return ""; }) {
  auto result = [](const TProcess* p) { return ValueToText(*HeapPtr<TValue>(p->resultSlot)); };
  auto place = [](const TProcess* p) { return std::make_pair(p->pc, p->sp - p->stackBase); };
  log.shown.clear();
  TProcess* stepped = CreateProcess(make(), "f");
  std::vector<std::pair<HeapAddr, HeapAddr>> trace{place(stepped)};
  while (!stepped->finished) {
    brova::Run(stepped, 1);
    trace.push_back(place(stepped));
  }
  const std::string expected = result(stepped), expectedState = state();
  const std::vector<std::string> messages = log.shown;
  DestroyProcess(stepped);
  for (size_t k = 1; k < trace.size(); ++k) {
    log.shown.clear();
    TProcess* p = CreateProcess(make(), "f");
    brova::Run(p, static_cast<int32_t>(k));
    EXPECT_EQ(place(p), trace[k]) << "budget " << k;
    brova::Run(p, 0);
    EXPECT_TRUE(p->finished) << "budget " << k;
    EXPECT_EQ(result(p), expected) << "budget " << k;
    EXPECT_EQ(state(), expectedState) << "budget " << k;
    EXPECT_EQ(log.shown, messages) << "budget " << k;
    DestroyProcess(p);
  }
  log.shown = messages;
  return expected;
}

// The decoded forms against the same instructions run one at a time, which no form covers:
// `g(x, y)` runs statements of the shapes the decoder gives single handlers, with arguments
// of every kind (and y missing), so that each form meets values it must leave to the plain
// instructions. Every budget split ends where single steps end and gives the same result.
TEST_F(Interpreter, DecodedFormsMatchSingleStepsForEveryKindOfValue) {
  TRTTI* cls = MakeClass("Forms", {});
  TNormalFunction* g = AddCode(cls, "g", 3, [](TProgWriter& w) {
    auto local = [&](uint32_t k) { w.Emit(Op_LocalValPtr, {k}), w.Emit(Op_Deref); };
    auto arg = [&](uint32_t n) { w.Emit(Op_ArgValPtr, {n}), w.Emit(Op_Deref); };
    auto constant = [&](int32_t i) { w.EmitPush(IntValue(i)); };
    auto assign = [&](uint32_t k, const std::function<void()>& value) {
      w.Emit(Op_LocalValPtr, {k});
      value();
      w.Emit(Op_Subst);
      w.Emit(Op_Pop);
    };
    auto update = [&](uint32_t k, TOpcode op, const std::function<void()>& value) {
      w.Emit(Op_LocalValPtr, {k});
      value();
      w.Emit(op);
      w.Emit(Op_Pop);
    };
    // `if (test) k += 1;`
    auto when = [&](const std::function<void()>& test, uint32_t k) {
      test();
      int32_t skip = w.EmitJump(Op_JumpZero);
      update(k, Op_AddSubst, [&] { constant(1); });
      w.PatchJump(skip, w.Pos());
    };
    assign(0, [&] { arg(0); });                                     // l0 = x;
    assign(1, [&] { arg(1), constant(3), w.Emit(Op_Mul); });        // l1 = y * 3;
    assign(2, [&] { local(0), local(1), w.Emit(Op_Add); });         // l2 = l0 + l1;
    assign(2, [&] { local(2), arg(0), constant(4), w.Emit(Op_Mod), w.Emit(Op_Sub); });
    assign(0, [&] { local(1), local(2), arg(1), w.Emit(Op_Mul), w.Emit(Op_Add), constant(1000),
                    w.Emit(Op_Mod); });                             // l0 = (l1 + l2 * y) % 1000;
    assign(1, [&] { local(1), constant(1), w.Emit(Op_Add), constant(2), w.Emit(Op_Mul); });
    assign(2, [&] { constant(7), arg(0), w.Emit(Op_Sub); });        // l2 = 7 - x;
    assign(2, [&] { local(2), arg(0), w.Emit(Op_Add), constant(7), w.Emit(Op_Mod); });
    assign(1, [&] { local(1), local(0), w.Emit(Op_Sub), constant(3), w.Emit(Op_Mul); });
    update(1, Op_AddSubst, [&] { constant(2); });
    update(2, Op_SubSubst, [&] { local(0); });
    update(0, Op_AddSubst, [&] { local(1); });
    when([&] { local(0), arg(0), w.Emit(Op_LT); }, 1);
    when([&] { constant(3), local(1), w.Emit(Op_GT); }, 2);
    when([&] { local(2), constant(1), w.Emit(Op_Sub), constant(0), w.Emit(Op_GTE); }, 0);
    when([&] { local(0), constant(2), w.Emit(Op_Mul), local(1), constant(2), w.Emit(Op_Mul),
               w.Emit(Op_NEQ); }, 1);
    when([&] { arg(1), local(2), w.Emit(Op_EQ); }, 0);
    w.Emit(Op_ArgValPtr, {0}); // x += 1; x -= l1; through the stack
    constant(1);
    w.Emit(Op_AddSubst);
    w.Emit(Op_Pop);
    w.Emit(Op_ArgValPtr, {0});
    local(1);
    w.Emit(Op_SubSubst);
    w.Emit(Op_Pop);
    assign(2, [&] { local(1); }); // l2 = l1;
    // for (l1 = 0; l1 < 3; l1 += 1) l0 = l0 - l1 * x;
    assign(1, [&] { constant(0); });
    int32_t test = w.Pos();
    local(1), constant(3), w.Emit(Op_LT);
    int32_t end = w.EmitJump(Op_JumpZero);
    assign(0, [&] { local(0), local(1), arg(0), w.Emit(Op_Mul), w.Emit(Op_Sub); });
    update(1, Op_AddSubst, [&] { constant(1); });
    w.PatchJump(w.EmitJump(Op_Jump), test);
    w.PatchJump(end, w.Pos());
    local(0), local(1), w.Emit(Op_Add), local(2), w.Emit(Op_Add), arg(0), w.Emit(Op_Add);
    w.Emit(Op_Ret);
  });
  const uint32_t gIndex = static_cast<uint32_t>(IndexOfMethod(cls, g));
  struct Case {
    Operand x, y;
    bool missingY;
    const char* result;
  };
  const Case cases[] = {
      {I(7), I(-3), false, "-257"},           {I(-5), I(40), false, "-5431"},
      {F(2.5f), I(4), false, "-360"},         {N(), I(5), false, "-374"},
      {S("ab"), I(6), false, "18ab183117ab"}, {I(9), S("cd"), false, "cd9cd3cd110"},
      {I(7), N(), true, "-13"},               {U(), F(0.5f), false, "69"},
  };
  for (const Case& c : cases) {
    AddCode(cls, "f", 0, [&](TProgWriter& w) {
      w.Emit(Op_PushThis);
      c.x.Emit(w);
      if (!c.missingY) c.y.Emit(w);
      w.Emit(Op_SCall, {c.missingY ? 1u : 2u, gIndex});
      w.Emit(Op_Ret);
    });
    SCOPED_TRACE(c.x.text ? c.x.text : ValueToText(c.x.value));
    EXPECT_EQ(SplitsMatchSingleSteps([&] { return NewObject(cls); }, log), c.result);
  }
}

// A field by name of the object in a local or an argument, one decoded form: objects of two
// layouts take turns at each instruction (so its cache misses), and a number and a missing
// argument are no objects; the counts of the objects end as single steps leave them.
TEST_F(Interpreter, FieldsOfLocalsAndArgumentsMatchSingleSteps) {
  TRTTI* point = MakeClass("Pt", {"a", "b"});
  TRTTI* other = MakeClass("Other", {"b"});
  TRTTI* cls = MakeClass("Reader", {"p", "q"});
  // g(x) { l0 = x; x.b = x.b + 1; l0.b = l0.b * 2; return l0.b + x.b; }
  TNormalFunction* g = AddCode(cls, "g", 1, [](TProgWriter& w) {
    auto field = [&](TOpcode of, uint32_t n, bool deref) {
      w.Emit(of, {n}), w.Emit(Op_Deref), w.Emit(Op_DMemberValPtr, {Intern("b"), 0});
      if (deref) w.Emit(Op_Deref);
    };
    w.Emit(Op_LocalValPtr, {0}), w.Emit(Op_ArgValPtr, {0}), w.Emit(Op_Deref);
    w.Emit(Op_Subst), w.Emit(Op_Pop);
    field(Op_ArgValPtr, 0, false), field(Op_ArgValPtr, 0, true);
    w.EmitPush(IntValue(1)), w.Emit(Op_Add), w.Emit(Op_Subst), w.Emit(Op_Pop);
    field(Op_LocalValPtr, 0, false), field(Op_LocalValPtr, 0, true);
    w.EmitPush(IntValue(2)), w.Emit(Op_Mul), w.Emit(Op_Subst), w.Emit(Op_Pop);
    field(Op_LocalValPtr, 0, true), field(Op_ArgValPtr, 0, true), w.Emit(Op_Add);
    w.Emit(Op_Ret);
  });
  const uint32_t gIndex = static_cast<uint32_t>(IndexOfMethod(cls, g));
  // f() = g(p) + g(q) + g(p) + g(3) + g()
  AddCode(cls, "f", 0, [&](TProgWriter& w) {
    auto call = [&](const std::function<void()>& arg) {
      w.Emit(Op_PushThis);
      if (arg) arg();
      w.Emit(Op_SCall, {arg ? 1u : 0u, gIndex});
    };
    auto own = [&](uint32_t k) {
      return [&w, k] { w.Emit(Op_PushThis), w.Emit(Op_SMemberValPtr, {k}), w.Emit(Op_Deref); };
    };
    call(own(0)), call(own(1)), w.Emit(Op_Add), call(own(0)), w.Emit(Op_Add);
    call([&] { w.EmitPush(IntValue(3)); }), w.Emit(Op_Add), call(nullptr), w.Emit(Op_Add);
    w.Emit(Op_Ret);
  });
  std::vector<TfObject*> held;
  auto receiver = [&] {
    TfObject* r = NewObject(cls);
    TfObject* objects[] = {NewObject(point), NewObject(other)};
    objects[0]->fields[1] = IntValue(10);
    objects[1]->fields[0] = IntValue(20);
    for (uint32_t k = 0; k < 2; ++k) {
      r->fields[k] = ObjectValue(HeapAddrOf(objects[k]));
      ++objects[k]->refCount;
    }
    held.assign(objects, objects + 2);
    return r;
  };
  auto counts = [&] { return std::to_string(held[0]->refCount) + "," + std::to_string(held[1]->refCount); };
  EXPECT_EQ(SplitsMatchSingleSteps(receiver, log, counts), "220");
  EXPECT_EQ(log.shown, (std::vector<std::string>{"3 is not Object. Fieldb cannot be read.",
                                                 "null is not Object. Fieldb cannot be read."}));
}

// ---- calls

TEST_F(Interpreter, CallsPassArgumentsAndReturnThroughTheFrame) {
  TRTTI* base = MakeClass("Base", {"a"});
  // sum(x, y) = x + y + this.a
  AddCode(base, "sum", 1, [](TProgWriter& w) {
    w.Emit(Op_ArgValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_ArgValPtr, {1});
    w.Emit(Op_Deref);
    w.Emit(Op_Add);
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_Add);
    w.Emit(Op_Ret);
  });
  // beyond argc: reads give null, writes land in the scratch slot
  AddCode(base, "beyond", 0, [](TProgWriter& w) {
    w.Emit(Op_ArgValPtr, {3});
    w.EmitPush(IntValue(11));
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    w.Emit(Op_ArgValPtr, {3});
    w.Emit(Op_Deref);
    w.Emit(Op_Ret);
  });
  TRTTI* cls = MakeClass("Derived", {}, base);
  TFunction* sum = MethodByName(base, "sum");
  AddCode(cls, "f", 0, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {0});
    w.EmitPush(IntValue(100));
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    w.Emit(Op_PushThis); // dynamic
    w.EmitPush(IntValue(1));
    w.EmitPush(IntValue(2));
    w.Emit(Op_DCall, {2, Intern("SUM"), 0});
    w.Emit(Op_PushThis); // by index
    w.EmitPush(IntValue(3));
    w.EmitPush(IntValue(4));
    w.Emit(Op_SCall, {2, static_cast<uint32_t>(IndexOfMethod(cls, sum))});
    w.Emit(Op_Add);
    w.Emit(Op_PushThis); // known function
    w.EmitPush(IntValue(5));
    w.EmitPush(IntValue(6));
    w.Emit(Op_SuperCall, {2, sum->id});
    w.Emit(Op_Add);
    w.Emit(Op_Ret);
  });
  EXPECT_EQ(RunMethod(cls, "f").text, "321");
  Outcome beyond = RunMethod(cls, "beyond");
  EXPECT_EQ(beyond.kind, vtNull);
  EXPECT_EQ(ValueToText(ScratchValue()), "11");
}

// Digits of the arguments, in order: an integer's last digit, 8 for an object, 9 otherwise.
void DigitsNative(TValue* result, int32_t argc, int32_t) {
  int32_t acc = 0;
  for (int32_t k = 1; k <= argc; ++k) {
    const TValue& a = result[-k];
    acc = acc * 10 + (a.kind == vtInt ? a.i % 10 : a.kind == vtObject ? 8 : 9);
  }
  SetInt(*result, acc);
}

// DigitsNative's short form; it declines when an operand is 5.
bool DigitsLeaf(TValue& result, const TValue* operands, int32_t count) {
  int32_t acc = 0;
  for (int32_t k = 0; k < count; ++k) {
    const TValue& a = operands[k];
    if (a.kind == vtInt && a.i == 5) return false;
    acc = acc * 10 + (a.kind == vtInt ? a.i % 10 : a.kind == vtObject ? 8 : 9);
  }
  result = IntValue(acc);
  return true;
}

void FailNative(TValue*, int32_t, int32_t) { throw EScriptError("native failed"); }

// Forces the count of argument 1 (an object) to argument 2, as a native that mishandles
// references would leave it.
void RecountNative(TValue* result, int32_t, int32_t) {
  ObjectPtr(result[-1])->refCount = result[-2].i;
}

// Methods whose body only hands the receiver's fields, arguments and constants to a native:
// get(i) returns the native's result, add(v) the receiver, set(i, v) its argument v, and
// konst() reads an argument it was not given.
struct Forwarders {
  TRTTI* cls = MakeClass("Fwd", {"_x"});
  TNativeFunction* digits = AddNative(cls, "digits", DigitsNative);
  TNativeFunction* suspend = AddNative(cls, "suspend", SuspendNative);
  TNativeFunction* fail = AddNative(cls, "fail", FailNative);
  TNativeFunction* recount = AddNative(cls, "recount", RecountNative);

  void Head(TProgWriter& w, std::initializer_list<std::function<void()>> operands, TNativeFunction* fn) {
    w.Emit(Op_PushThis);
    for (const auto& o : operands) o();
    w.Emit(Op_NativeCall, {static_cast<uint32_t>(operands.size()), fn->id});
  }
  std::function<void()> Field(TProgWriter& w) {
    return [&w] {
      w.Emit(Op_PushThis);
      w.Emit(Op_SMemberValPtr, {0});
      w.Emit(Op_Deref);
    };
  }
  std::function<void()> Arg(TProgWriter& w, uint32_t n) {
    return [&w, n] {
      w.Emit(Op_ArgValPtr, {n});
      w.Emit(Op_Deref);
    };
  }
  Forwarders() {
    AddCode(cls, "get", 0, [&](TProgWriter& w) {
      Head(w, {Field(w), Arg(w, 0)}, digits);
      w.Emit(Op_Ret);
    });
    AddCode(cls, "add", 0, [&](TProgWriter& w) {
      Head(w, {Field(w), Arg(w, 0)}, digits);
      w.Emit(Op_Pop);
      w.Emit(Op_PushThis);
      w.Emit(Op_Ret);
    });
    AddCode(cls, "set", 0, [&](TProgWriter& w) {
      Head(w, {Field(w), Arg(w, 0), Arg(w, 1)}, digits);
      w.Emit(Op_Pop);
      Arg(w, 1)();
      w.Emit(Op_Ret);
    });
    AddCode(cls, "konst", 0, [&](TProgWriter& w) {
      Head(w, {[&w] { w.EmitPush(IntValue(7)); }, Arg(w, 2)}, digits);
      w.Emit(Op_Ret);
    });
    AddCode(cls, "wait", 0, [&](TProgWriter& w) {
      Head(w, {}, suspend);
      w.Emit(Op_Pop);
      w.Emit(Op_PushThis);
      w.Emit(Op_Ret);
    });
    AddCode(cls, "broken", 0, [&](TProgWriter& w) {
      Head(w, {Field(w)}, fail);
      w.Emit(Op_Ret);
    });
    AddCode(cls, "setCount", 0, [&](TProgWriter& w) {
      Head(w, {Arg(w, 0), Arg(w, 1)}, recount);
      w.Emit(Op_Ret);
    });
  }
  // A new receiver whose _x holds `held`.
  TfObject* Receiver(TfObject* held) {
    TfObject* obj = NewObject(cls);
    obj->fields[0] = ObjectValue(HeapAddrOf(held));
    ++held->refCount;
    return obj;
  }
};

// local0 = get(3) + set(5, 6) + add(1).konst(), the calls dynamic and by index.
void CallForwarders(TRTTI* cls, TProgWriter& w) {
  auto index = [cls](const char* name) { return static_cast<uint32_t>(MethodIndexByName(cls, name)); };
  w.Emit(Op_LocalValPtr, {0});
  w.Emit(Op_PushThis);
  w.EmitPush(IntValue(3));
  w.Emit(Op_DCall, {1, Intern("get"), 0});
  w.Emit(Op_Subst);
  w.Emit(Op_Pop);
  w.Emit(Op_LocalValPtr, {0});
  w.Emit(Op_LocalValPtr, {0});
  w.Emit(Op_Deref);
  w.Emit(Op_PushThis);
  w.EmitPush(IntValue(5));
  w.EmitPush(IntValue(6));
  w.Emit(Op_SCall, {2, index("set")});
  w.Emit(Op_Add);
  w.Emit(Op_Subst);
  w.Emit(Op_Pop);
  w.Emit(Op_LocalValPtr, {0});
  w.Emit(Op_LocalValPtr, {0});
  w.Emit(Op_Deref);
  w.Emit(Op_PushThis);
  w.EmitPush(IntValue(1));
  w.Emit(Op_DCall, {1, Intern("add"), 0});
  w.Emit(Op_DCall, {0, Intern("konst"), 0});
  w.Emit(Op_Add);
  w.Emit(Op_Subst);
  w.Emit(Op_Pop);
  w.Emit(Op_LocalValPtr, {0});
  w.Emit(Op_Deref);
  w.Emit(Op_Ret);
}

// Such calls run in one pass, through the native's short form where it has one (which
// declines set(5, 6)); every budget still stops after exactly its number of instructions,
// with the same values and reference counts as single steps.
TEST_F(Interpreter, ForwardersToNativesCountEveryInstruction) {
  for (bool leaf : {false, true}) {
    Forwarders fw;
    if (leaf) fw.digits->leaf = DigitsLeaf;
    AddCode(fw.cls, "f", 1, [&](TProgWriter& w) { CallForwarders(fw.cls, w); });
    TfObject* held = NewObject(fw.cls);
    held->refCount = 1; // held by the test
    struct State {
      HeapAddr pc, sp, fp;
      int32_t local0, heldCount;
      bool finished;
      bool operator==(const State&) const = default;
    };
    int32_t base = 0; // held's count before the run: the test's and the receiver's field
    const uint32_t f = MethodByName(fw.cls, "f")->id;
    auto state = [&](const TProcess* p) {
      // A forwarder's frame has no locals: the cell there is what an earlier call left.
      const TValue* local = p->finished || HeapPtr<TFrame>(p->fp)->function != f
                                ? nullptr
                                : HeapPtr<TValue>(p->fp);
      return State{p->pc, p->sp - p->stackBase, p->fp - p->stackBase, local ? local[0].i : 0,
                   held->refCount - base, p->finished != 0};
    };
    TProcess* stepped = CreateProcess(fw.Receiver(held), "f");
    base = held->refCount;
    std::vector<State> trace{state(stepped)};
    while (!stepped->finished) {
      brova::Run(stepped, 1);
      trace.push_back(state(stepped));
    }
    EXPECT_EQ(ValueToText(*HeapPtr<TValue>(stepped->resultSlot)), "168"); // 83 + 6 + 79
    DestroyProcess(stepped);
    for (size_t k = 1; k < trace.size(); ++k) {
      TProcess* p = CreateProcess(fw.Receiver(held), "f");
      base = held->refCount;
      brova::Run(p, static_cast<int32_t>(k));
      EXPECT_TRUE(state(p) == trace[k]) << "budget " << k;
      brova::Run(p, 0);
      EXPECT_TRUE(state(p) == trace.back()) << "budget " << k;
      EXPECT_EQ(ValueToText(*HeapPtr<TValue>(p->resultSlot)), "168") << "budget " << k;
      DestroyProcess(p);
      EXPECT_EQ(held->refCount, base) << "budget " << k;
    }
  }
}

// An argument the call does not pass reads as null, for the body and the short form alike.
TEST_F(Interpreter, ForwardersReadMissingArgumentsAsNull) {
  for (bool leaf : {false, true}) {
    Forwarders fw;
    if (leaf) fw.digits->leaf = DigitsLeaf;
    AddCode(fw.cls, "f", 0, [](TProgWriter& w) {
      w.Emit(Op_PushThis);
      w.Emit(Op_DCall, {0, Intern("get"), 0});
      w.Emit(Op_Ret);
    });
    TfObject* held = NewObject(fw.cls);
    held->refCount = 1;
    TProcess* p = CreateProcess(fw.Receiver(held), "f");
    brova::Run(p, 0);
    EXPECT_EQ(ValueToText(*HeapPtr<TValue>(p->resultSlot)), "89") << "leaf " << leaf;
    DestroyProcess(p);
  }
}

// A binding replaces the short form with the body: a later body without one is what runs.
TEST_F(Interpreter, RebindingANativeDropsItsShortForm) {
  Forwarders fw;
  BindNative(fw.cls, "digits", DigitsNative, DigitsLeaf);
  EXPECT_EQ(fw.digits->leaf, DigitsLeaf);
  BindNative(fw.cls, "digits", [](TValue* result, int32_t, int32_t) { SetInt(*result, 42); });
  EXPECT_EQ(fw.digits->leaf, nullptr);
  AddCode(fw.cls, "f", 0, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.EmitPush(IntValue(3));
    w.Emit(Op_DCall, {1, Intern("get"), 0});
    w.Emit(Op_Ret);
  });
  EXPECT_EQ(RunMethod(fw.cls, "f").text, "42");
}

// A native that suspends leaves the process inside the forwarder's frame, and one that
// fails ends it with everything released, as without the one-pass call.
TEST_F(Interpreter, ForwardersSuspendAndFailInsideTheirFrame) {
  Forwarders fw;
  AddCode(fw.cls, "waits", 0, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_DCall, {0, Intern("wait"), 0});
    w.Emit(Op_Pop);
    w.EmitPush(IntValue(9));
    w.Emit(Op_Ret);
  });
  AddCode(fw.cls, "breaks", 0, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_DCall, {0, Intern("broken"), 0});
    w.Emit(Op_Ret);
  });
  TfObject* held = NewObject(fw.cls);
  held->refCount = 1;
  g_suspends = 0;
  TfObject* receiver = fw.Receiver(held);
  TProcess* p = CreateProcess(receiver, "waits");
  brova::Run(p, 0);
  EXPECT_EQ(g_suspends, 1);
  EXPECT_TRUE(p->suspended);
  EXPECT_EQ(p->sliceSteps, 4);
  EXPECT_EQ(HeapPtr<TFrame>(p->fp)->function, MethodByName(fw.cls, "wait")->id);
  brova::Run(p, 0);
  EXPECT_TRUE(p->finished);
  EXPECT_EQ(p->sliceSteps, 6) << "Pop, PushThis and Ret of the forwarder, then the caller's rest";
  EXPECT_EQ(ValueToText(*HeapPtr<TValue>(p->resultSlot)), "9");
  DestroyProcess(p);
  EXPECT_EQ(receiver->refCount, 0);

  TProcess* q = CreateProcess(receiver, "breaks");
  brova::Run(q, 0);
  EXPECT_EQ(q->status, 2);
  EXPECT_EQ(log.shown, std::vector<std::string>{"native failed"});
  EXPECT_EQ(held->refCount, 2) << "the field's copy on the stack was released";
  EXPECT_EQ(receiver->refCount, 0);
  DestroyProcess(q);
}

// A count that goes below zero while such a call releases its cells fails in the state the
// single steps fail in: inside the forwarder for its operands, in the caller for the call's
// argument and the receiver.
TEST_F(Interpreter, ForwardersFailNegativeCountsWhereSingleStepsDo) {
  struct Case {
    bool passThis; // the object handed over: the receiver, or the object in its field
    int32_t count; // its count after the native
    bool inCaller;
  };
  const Case cases[] = {{false, 0, false}, {false, 1, true}, {true, 2, true}};
  for (const Case& c : cases) {
    Forwarders fw;
    AddCode(fw.cls, "f", 0, [&](TProgWriter& w) {
      w.Emit(Op_PushThis);
      if (c.passThis) w.Emit(Op_PushThis);
      else fw.Field(w)();
      w.EmitPush(IntValue(c.count));
      w.Emit(Op_DCall, {2, Intern("setCount"), 0});
      w.Emit(Op_Ret);
    });
    struct Failure {
      HeapAddr pc, sp, fp;
      uint32_t function;
      bool operator==(const Failure&) const = default;
    };
    auto run = [&](bool stepped) {
      TfObject* held = NewObject(fw.cls);
      held->refCount = 1;
      TProcess* p = CreateProcess(fw.Receiver(held), "f");
      log.shown.clear();
      if (stepped) {
        while (!p->status && !p->finished) brova::Run(p, 1);
      } else {
        brova::Run(p, 0);
      }
      Failure f{p->pc, p->sp - p->stackBase, p->fp - p->stackBase,
                HeapPtr<TFrame>(p->fp)->function};
      EXPECT_EQ(p->status, 2);
      EXPECT_EQ(log.shown.size(), 1u);
      for (const std::string& m : log.shown)
        EXPECT_NE(m.find(":negative reference count"), std::string::npos) << m;
      DestroyProcess(p);
      return f;
    };
    Failure onePass = run(false), stepped = run(true);
    EXPECT_TRUE(onePass == stepped) << "count " << c.count;
    EXPECT_EQ(onePass.function, MethodByName(fw.cls, c.inCaller ? "f" : "setCount")->id)
        << "count " << c.count;
  }
}

TEST_F(Interpreter, ConstructorStoresTheInstanceAndItsReturnReplacesIt) {
  TRTTI* cls = MakeClass("Made", {"v"});
  AddCode<TConstructor>(cls, "constructor", 0, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {0});
    w.Emit(Op_ArgValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    w.Emit(Op_PushThis);
    w.Emit(Op_Ret);
  });
  AddCode(cls, "make", 1, [&](TProgWriter& w) {
    w.Emit(Op_LocalValPtr, {0});
    w.EmitPush(NullValue());
    w.EmitPush(IntValue(42));
    w.Emit(Op_Constructor, {1, cls->id});
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    w.Emit(Op_LocalValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_DMemberValPtr, {Intern("v"), 0});
    w.Emit(Op_Deref);
    w.Emit(Op_Ret);
  });
  TfObject* holder = NewObject(cls);
  TProcess* p = CreateProcess(holder, "make");
  brova::Run(p, 0);
  ASSERT_EQ(p->status, 0);
  EXPECT_EQ(ValueToText(*HeapPtr<TValue>(p->resultSlot)), "42");
  EXPECT_EQ(cls->pool.size(), 2u);
  EXPECT_TRUE(LiveInstances(cls).empty())
      << "the new object went with the local, the receiver with the bottom return";
  DestroyProcess(p);
  EXPECT_EQ(holder->refCount, 0);
}

TEST_F(Interpreter, ReferenceCountsBalanceThroughCallsAndRelease) {
  TRTTI* cls = MakeClass("Counted", {"other"});
  AddCode(cls, "id", 0, [](TProgWriter& w) {
    w.Emit(Op_ArgValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_Ret);
  });
  TfObject* target = NewObject(cls);
  target->refCount = 1; // held by the test
  // this.other = id(target); pending temporaries stay on the stack when the run stops
  AddCode(cls, "f", 2, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {0});
    w.Emit(Op_PushThis);
    w.EmitPush(RefValue(heap::kScratchValueAddr));
    w.Emit(Op_Deref);
    w.Emit(Op_DCall, {1, Intern("id"), 0});
    w.Emit(Op_Subst);
    w.Emit(Op_LocalValPtr, {1});
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_Subst);
    int32_t j = w.EmitJump(Op_Jump);
    w.PatchJump(j, j);
  });
  ScratchValue() = ObjectValue(HeapAddrOf(target));
  ++target->refCount;
  TfObject* self = NewObject(cls);
  TProcess* p = CreateProcess(self, "f");
  brova::Run(p, 50);
  EXPECT_EQ(target->refCount, 6) << "test, scratch, field, local, two results on the stack";
  DestroyProcess(p);
  EXPECT_EQ(target->refCount, 1 + 1 + 1) << "test, scratch, field of the dead receiver";
  EXPECT_EQ(self->refCount, 0);
  SetNull(ScratchValue());
}

// ---- faults that end the process cleanly

struct FaultCase {
  const char* name;
  std::function<void(TRTTI* cls, TProgWriter&)> body;
  const char* message;
};

TEST_F(Interpreter, InvalidStatesEndTheProcessWithARuntimeError) {
  TRTTI* bare = MakeClass("Bare", {});
  const FaultCase cases[] = {
      {"unknown function id", [](TRTTI*, TProgWriter& w) {
         w.Emit(Op_PushThis);
         w.Emit(Op_SuperCall, {0, 0x7FFFFFF});
       }, "Method#134217727 is not defined."},
      {"class without constructor", [bare](TRTTI*, TProgWriter& w) {
         w.EmitPush(NullValue());
         w.Emit(Op_Constructor, {0, bare->id});
       }, "ClassBare@" },
      {"undefined method without hook", [](TRTTI*, TProgWriter& w) {
         w.Emit(Op_PushThis);
         w.Emit(Op_DCall, {0, Intern("nothing"), 0});
       }, "Methodnothing is not defined."},
      {"method of null without hook", [](TRTTI*, TProgWriter& w) {
         w.EmitPush(NullValue());
         w.Emit(Op_DCall, {0, Intern("go"), 0});
       }, "null is not Object. Methodgo cannot be called."},
      {"native called by name", [](TRTTI*, TProgWriter& w) {
         w.Emit(Op_PushThis);
         w.Emit(Op_DCall, {0, Intern("nat"), 0});
       }, "Native関数nat cannot be invoked."},
      {"for-in over an integer", [](TRTTI*, TProgWriter& w) {
         w.Emit(Op_LocalValPtr, {0});
         w.EmitPush(IntValue(5));
         w.Emit(Op_InitForIn);
       }, "\"Cannot apply \"\"for in ..\"\" to non-Array Value.\""},
  };
  for (const FaultCase& c : cases) {
    log.shown.clear();
    TRTTI* cls = MakeClass("Faulty", {});
    AddNative(cls, "nat", SuspendNative);
    AddCode(cls, "f", 1, [&](TProgWriter& w) { c.body(cls, w); });
    size_t stacks = g_live.stacks;
    Outcome o = RunMethod(cls, "f");
    EXPECT_EQ(o.status, 2) << c.name;
    ASSERT_FALSE(log.shown.empty()) << c.name;
    EXPECT_EQ(log.shown.back().rfind(c.message, 0), 0u) << c.name << ": " << log.shown.back();
    EXPECT_EQ(g_live.stacks, static_cast<int64_t>(stacks)) << c.name;
  }
}

TEST_F(Interpreter, OpcodeOutsideTheTableIsARuntimeError) {
  TRTTI* cls = MakeClass("Odd", {});
  TNormalFunction* f = AddCode(cls, "f", 0, [](TProgWriter& w) {
    w.EmitPush(IntValue(1));
    w.Emit(Op_And);
    w.Emit(Op_Ret);
  });
  f->code->Words()[3] = 99; // past the fusion pass, which would refuse it
  f->code->AnalyzeStack();
  EXPECT_TRUE(f->code->Runnable());
  EXPECT_EQ(RunMethod(cls, "f").status, 2);
  EXPECT_EQ(log.shown, std::vector<std::string>{"Invalid Instruction99"});
}

// The decoding follows the words: a block changed in place runs as its new instructions
// once analysed again, and one fused without being decoded again runs by its opcode words.
TEST_F(Interpreter, CodeChangedInPlaceRunsAsItsNewInstructions) {
  TRTTI* cls = MakeClass("Changed", {});
  auto body = [](TProgWriter& w) {
    w.Emit(Op_LocalValPtr, {0});
    w.EmitPush(IntValue(5));
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    w.Emit(Op_LocalValPtr, {0});
    w.Emit(Op_Deref);
    w.EmitPush(IntValue(3));
    w.Emit(Op_Add); // word 13
    w.Emit(Op_Ret);
  };
  TNormalFunction* f = AddCode(cls, "f", 1, body);
  EXPECT_EQ(RunMethod(cls, "f").text, "8");
  f->code->Words()[13] = Op_Mul;
  f->code->AnalyzeStack();
  EXPECT_EQ(RunMethod(cls, "f").text, "15");

  // Decoded unfused, then fused: LocalValPtr 0 now starts `LocalValPtr_Deref 0; Push; Add`.
  TProgWriter w(cls);
  body(w);
  w.Emit(Op_Halt);
  TCompiledInfo* raw = w.Finish();
  delete f->code;
  f->code = raw;
  EXPECT_EQ(RunMethod(cls, "f").text, "8");
  FuseInstructions(raw->Words(), raw->size);
  EXPECT_EQ(RunMethod(cls, "f").text, "8");
  raw->Words()[13] = Op_Sub;
  raw->Fuse();
  EXPECT_EQ(RunMethod(cls, "f").text, "2");
  EXPECT_TRUE(log.shown.empty());
}

TEST_F(Interpreter, CallsOnNonObjectsWarnAndReachTheErrorHook) {
  TRTTI* object = MakeClass("Object", {"tag"});
  // _errorHook reads a field of its receiver, which need not be an object, and returns
  // the receiver's text with "!" appended
  AddCode(object, "_errorHook", 0, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_Pop);
    w.Emit(Op_PushThis);
    w.EmitPushString("!");
    w.Emit(Op_Add);
    w.Emit(Op_Ret);
  });
  SetObjectClass(object);
  TRTTI* cls = MakeClass("Caller", {}, object);
  AddCode(cls, "f", 0, [](TProgWriter& w) {
    for (int i = 0; i < 2; ++i) {
      w.EmitPush(NullValue());
      w.Emit(Op_DCall, {0, Intern("go"), 0});
      w.Emit(Op_Pop);
    }
    w.EmitPush(ErrorValue(0));
    w.Emit(Op_DCall, {0, Intern("go"), 0});
    w.Emit(Op_PushThis);
    w.Emit(Op_DCall, {0, Intern("missing"), 0});
    w.Emit(Op_Add);
    w.Emit(Op_Ret);
  });
  Outcome o = RunMethod(cls, "f");
  SetObjectClass(nullptr);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.text.substr(0, 8), "!Caller@") << "null and the error value became the hook's \"!\"";
  // Only a repeat of the last warning shown is left out.
  const std::string call = "null is not Object. Methodgo cannot be called.";
  const std::string field = "null is not Object. Fieldtag cannot be read.";
  EXPECT_EQ(log.shown,
            (std::vector<std::string>{call, field, call, field, "Methodmissing is not defined."}));
}

TEST_F(Interpreter, FieldsOfNonObjectsAndUndefinedFieldsWarnAndGiveErrorValues) {
  TRTTI* cls = MakeClass("Fields", {"x"});
  AddCode(cls, "f", 1, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_DMemberValPtr, {Intern("nope"), 0});
    w.Emit(Op_Deref);
    w.Emit(Op_PushThis);
    w.Emit(Op_DMemberValPtr, {Intern("nope"), 0});
    w.Emit(Op_Deref);
    w.Emit(Op_Pop);
    w.Emit(Op_LocalValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_DMemberValPtr, {Intern("x"), 0});
    w.Emit(Op_Deref);
    w.Emit(Op_Pop);
    w.Emit(Op_Ret);
  });
  Outcome o = RunMethod(cls, "f");
  EXPECT_EQ(o.text, "Error #0");
  EXPECT_EQ(log.shown, (std::vector<std::string>{"Variablenope is not defined.",
                                                 "null is not Object. Fieldx cannot be read."}));
}

TEST_F(Interpreter, StackOverflowRefusesEveryKindOfCall) {
  for (TOpcode op : {Op_DCall, Op_SuperCall}) {
    log.shown.clear();
    TRTTI* cls = MakeClass("Deep", {});
    auto* down = new TNormalFunction(cls, "down");
    down->localNames = {"a", "b"};
    AddMethod(cls, down);
    down->code = testing::Assemble(cls, [&](TProgWriter& w) {
      w.Emit(Op_PushThis);
      if (op == Op_DCall) w.Emit(Op_DCall, {0, Intern("down"), 0});
      else w.Emit(Op_SuperCall, {0, down->id});
      w.Emit(Op_Ret);
    });
    int64_t stacks = g_live.stacks;
    Outcome o = RunMethod(cls, "down");
    EXPECT_EQ(o.status, 2) << OpcodeName(op);
    EXPECT_EQ(log.shown, std::vector<std::string>{"Stack Overflow."}) << OpcodeName(op);
    EXPECT_EQ(g_live.stacks, stacks);
  }
}

TEST_F(Interpreter, DeepExpressionsNeedAStackThatHoldsThem) {
  constexpr int kTerms = 200;
  TRTTI* cls = MakeClass("Wide", {});
  auto sum = [](TProgWriter& w) {
    for (int i = 1; i <= kTerms; ++i) w.EmitPush(IntValue(i));
    for (int i = 1; i < kTerms; ++i) w.Emit(Op_Add);
    w.Emit(Op_Ret);
  };
  TNormalFunction* wide = AddCode(cls, "wide", 0, sum);
  EXPECT_EQ(wide->code->maxStack, static_cast<uint32_t>(kTerms));
  AddCode(cls, "call", 0, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_DCall, {0, Intern("wide"), 0});
    w.Emit(Op_Ret);
  });
  EXPECT_THROW(CreateProcess(NewObject(cls), "wide"), EScriptError) << "the first frame too";
  Outcome o = RunMethod(cls, "call");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(log.shown, std::vector<std::string>{"Stack Overflow."});
  defaultStackSize = 8 * kTerms + 48 + 40 + 8;
  EXPECT_EQ(RunMethod(cls, "wide").text, std::to_string(kTerms * (kTerms + 1) / 2));
}

// Dynamic and indexed calls keep 100 bytes below the callee's locals; super calls only what
// the callee's code pushes. The smallest stack each call fits in shows which reserve it used.
TEST_F(Interpreter, DynamicAndIndexedCallsReserveMoreThanSuperCalls) {
  TRTTI* cls = MakeClass("Reserve", {});
  TNormalFunction* inner = AddCode(cls, "inner", 0, [](TProgWriter& w) {
    w.EmitPush(IntValue(1));
    w.Emit(Op_Ret);
  });
  auto caller = [&](const char* name, TOpcode op) {
    AddCode(cls, name, 0, [&](TProgWriter& w) {
      w.Emit(Op_PushThis);
      if (op == Op_DCall) w.Emit(Op_DCall, {0, Intern("inner"), 0});
      else if (op == Op_SCall)
        w.Emit(Op_SCall, {0, static_cast<uint32_t>(IndexOfMethod(cls, inner))});
      else w.Emit(Op_SuperCall, {0, inner->id});
      w.Emit(Op_Ret);
    });
  };
  caller("viaDynamic", Op_DCall);
  caller("viaIndex", Op_SCall);
  caller("viaSuper", Op_SuperCall);
  auto smallestStack = [&](const char* name) {
    for (int32_t size = 48; size < 512; ++size) {
      defaultStackSize = size;
      log.shown.clear();
      if (RunMethod(cls, name).text == "1") return size;
    }
    return -1;
  };
  int32_t super = smallestStack("viaSuper");
  ASSERT_GT(super, 0);
  // 8 x (locals - 1) + 100 bytes for a callee without locals: 92, in whole cells 96.
  EXPECT_EQ(smallestStack("viaDynamic") - super, 96);
  EXPECT_EQ(smallestStack("viaIndex") - super, 96);
}

// A call reserves for the locals the function declares now: recompiling it with more
// must not reuse what an earlier call worked out.
TEST_F(Interpreter, CallsFollowAChangeOfDeclaredLocals) {
  TRTTI* cls = MakeClass("Grows", {});
  TNormalFunction* inner = AddCode(cls, "inner", 0, [](TProgWriter& w) {
    w.EmitPush(IntValue(1));
    w.Emit(Op_Ret);
  });
  AddCode(cls, "outer", 0, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_DCall, {0, Intern("inner"), 0});
    w.Emit(Op_Ret);
  });
  EXPECT_EQ(RunMethod(cls, "outer").text, "1");
  inner->localNames.assign(200, "v"); // 1600 bytes: more than the 1024-byte stack
  EXPECT_EQ(RunMethod(cls, "outer").status, 2);
  EXPECT_EQ(log.shown, std::vector<std::string>{"Stack Overflow."});
  inner->localNames.clear();
  EXPECT_EQ(RunMethod(cls, "outer").text, "1");
}

TEST_F(Interpreter, UnrunnableCodeIsRefusedAtTheCall) {
  TRTTI* cls = MakeClass("Broken", {});
  AddCode(cls, "under", 0, [](TProgWriter& w) {
    w.Emit(Op_Pop);
    w.Emit(Op_Pop);
    w.Emit(Op_Ret);
  });
  AddCode(cls, "f", 0, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_DCall, {0, Intern("under"), 0});
    w.Emit(Op_Ret);
  });
  EXPECT_EQ(RunMethod(cls, "f").status, 2);
  EXPECT_EQ(log.shown, std::vector<std::string>{"Invalid Instruction"});
}

// ---- for-in

TEST_F(Interpreter, ForInWalksTheElementsOfAnArray) {
  TRTTI* array = MakeClass("Array", {"_x"});
  TRTTI* sub = MakeClass("MyArray", {}, array);
  SetArrayClass(array);
  TfObject* arr = NewObject(sub);
  arr->refCount = 1;
  auto* list = new TList;
  TValue text = ObjectValue(MakeString("s"));
  AddRef(text);
  list->items = {IntValue(1), IntValue(20), text, IntValue(300)};
  arr->fields[0] = NativeValue(list->Handle());
  TRTTI* cls = MakeClass("Walker", {});
  // for (v in arr) sum = sum + v;  with sum in local 1 and v in local 0
  AddCode(cls, "f", 2, [&](TProgWriter& w) {
    w.Emit(Op_LocalValPtr, {1});
    w.EmitPush(IntValue(0));
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    w.Emit(Op_LocalValPtr, {0});
    w.EmitPush(RefValue(heap::kScratchValueAddr));
    w.Emit(Op_Deref);
    w.Emit(Op_InitForIn);
    int32_t loop = w.EmitJump(Op_DoForIn);
    w.Emit(Op_LocalValPtr, {1});
    w.Emit(Op_LocalValPtr, {1});
    w.Emit(Op_Deref);
    w.Emit(Op_LocalValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_Add);
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    int32_t back = w.EmitJump(Op_Jump);
    w.PatchJump(back, loop);
    w.PatchJump(loop, w.Pos());
    w.Emit(Op_ClearForIn);
    w.Emit(Op_LocalValPtr, {1});
    w.Emit(Op_Deref);
    w.Emit(Op_Ret);
  });
  ScratchValue() = ObjectValue(HeapAddrOf(arr));
  ++arr->refCount;
  EXPECT_EQ(RunMethod(cls, "f").text, "21s300");
  EXPECT_EQ(arr->refCount, 2) << "the loop released what it held";
  EXPECT_EQ(ObjectPtr(text)->refCount, 1) << "the variable gave the string back";

  // The variable's old object, at count zero, fails at its release in the loop's step.
  AddCode(sub, "g", 0, [&](TProgWriter& w) {
    w.EmitPush(RefValue(heap::kScratchValueAddr));
    w.Emit(Op_PushThis);
    w.Emit(Op_InitForIn);
    w.EmitJump(Op_DoForIn);
    w.Emit(Op_Ret);
  });
  SetNull(ScratchValue());
  TfObject* held = NewObject(cls);
  ScratchValue() = ObjectValue(HeapAddrOf(held));
  TProcess* p = CreateProcess(arr, "g");
  brova::Run(p, 0);
  EXPECT_EQ(p->status, 2);
  ASSERT_EQ(log.shown.size(), 1u);
  EXPECT_NE(log.shown[0].find(":negative reference count"), std::string::npos) << log.shown[0];
  EXPECT_EQ(ScratchValue().u, HeapAddrOf(held)) << "the variable is left as it was";
  DestroyProcess(p);
  ScratchValue() = NullValue();
  SetArrayClass(nullptr);
  delete list;
}

// ---- destructors and the stack dump

int g_destroyed = 0;
void CountDestroyed(TValue*, int32_t, int32_t) { ++g_destroyed; }

TEST_F(Interpreter, DestroyInstanceRunsTheDestructorProcess) {
  TRTTI* cls = MakeClass("Mortal", {});
  TNativeFunction* count = AddNative(cls, "count", CountDestroyed);
  AddCode<TDestructor>(cls, "destructor", 0, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, count->id});
    w.Emit(Op_Ret);
  });
  g_destroyed = 0;
  int64_t processes = g_live.processes, stacks = g_live.stacks;
  TfObject* obj = NewObject(cls);
  DestroyInstance(obj);
  EXPECT_EQ(g_destroyed, 1);
  EXPECT_EQ(obj->refCount, -1);
  EXPECT_EQ(g_live.processes, processes);
  EXPECT_EQ(g_live.stacks, stacks);
}

TEST_F(Interpreter, DumpStackShowsFramesFromTheTop) {
  TRTTI* cls = MakeClass("Dumped", {});
  AddCode(cls, "inner", 1, [](TProgWriter& w) {
    w.EmitPush(IntValue(7));
    int32_t j = w.EmitJump(Op_Jump);
    w.PatchJump(j, j);
  });
  AddCode(cls, "outer", 0, [](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.EmitPush(IntValue(3));
    w.Emit(Op_DCall, {1, Intern("inner"), 0});
    w.Emit(Op_Ret);
  });
  TfObject* obj = NewObject(cls);
  TProcess* p = CreateProcess(obj, "outer");
  brova::Run(p, 10);
  std::vector<std::string> lines;
  DumpStack(p, lines);
  std::string self = ValueToText(ObjectValue(HeapAddrOf(obj)));
  EXPECT_EQ(lines, (std::vector<std::string>{"stacks", "7", "null", "args/this 1", "3", self,
                                             "stacks", "args/this 0", self, "-----------", self}));
  DestroyProcess(p);
  lines.clear();
}

} // namespace
} // namespace brova
