#include <gtest/gtest.h>

#include <memory>

#include "runtime/code.h"
#include "process_builder.h"

namespace brova {
namespace {

struct Case {
  const char* name;
  std::function<void(TProgWriter&)> body; // Op_Halt is not appended
  uint32_t maxStack;                      // kUnrunnableStack: must not run
  uint32_t localsUsed;
};

TEST(StackAnalysis, DepthOfEveryPathAndRefusedBlocks) {
  const Case cases[] = {
      {"operands of an addition", [](TProgWriter& w) {
         w.EmitPush(IntValue(1));
         w.EmitPush(IntValue(2));
         w.Emit(Op_Add);
         w.Emit(Op_Ret);
       }, 2, 0},
      {"a call takes its receiver and arguments", [](TProgWriter& w) {
         w.Emit(Op_PushThis);
         w.EmitPush(IntValue(1));
         w.EmitPush(IntValue(2));
         w.Emit(Op_DCall, {2, Intern("f"), 0});
         w.EmitPush(IntValue(3));
         w.Emit(Op_Add);
         w.Emit(Op_Ret);
       }, 3, 0},
      {"for-in cells and the loop variable", [](TProgWriter& w) {
         w.Emit(Op_LocalValPtr, {4});
         w.Emit(Op_PushThis);
         w.Emit(Op_InitForIn);
         int32_t loop = w.EmitJump(Op_DoForIn);
         int32_t back = w.EmitJump(Op_Jump);
         w.PatchJump(back, loop);
         w.PatchJump(loop, w.Pos());
         w.Emit(Op_ClearForIn);
         w.Emit(Op_Halt);
       }, 4, 5},
      {"the kept operand of a logical jump", [](TProgWriter& w) {
         w.EmitPush(IntValue(1));
         int32_t j = w.EmitJump(Op_Jump_Or);
         w.EmitPush(IntValue(2));
         w.PatchJump(j, w.Pos());
         w.Emit(Op_Ret);
       }, 1, 0},
      {"an invalid opcode ends its path", [](TProgWriter& w) {
         w.EmitPush(IntValue(1));
         w.Emit(static_cast<TOpcode>(77));
       }, 1, 0},
      {"popping below the frame", [](TProgWriter& w) {
         w.Emit(Op_Pop);
         w.Emit(Op_Halt);
       }, kUnrunnableStack, 0},
      {"a call without its receiver", [](TProgWriter& w) {
         w.EmitPush(IntValue(1));
         w.Emit(Op_SCall, {1, 0});
         w.Emit(Op_Halt);
       }, kUnrunnableStack, 0},
      {"a jump out of the block", [](TProgWriter& w) {
         w.EmitJump(Op_Jump, 4000);
         w.Emit(Op_Halt);
       }, kUnrunnableStack, 0},
      {"a jump into an operand", [](TProgWriter& w) {
         w.EmitPush(IntValue(0));
         w.EmitJump(Op_Jump, -8);
         w.Emit(Op_Halt);
       }, kUnrunnableStack, 0},
      {"running off the end", [](TProgWriter& w) { w.EmitPush(IntValue(1)); }, kUnrunnableStack, 0},
      {"a loop that grows the stack", [](TProgWriter& w) {
         int32_t top = w.EmitPush(IntValue(1));
         int32_t j = w.EmitJump(Op_Jump);
         w.PatchJump(j, top);
       }, kUnrunnableStack, 0},
      {"a conditional jump back to itself pops on every round", [](TProgWriter& w) {
         w.EmitPush(IntValue(0));
         int32_t j = w.EmitJump(Op_JumpZero);
         w.PatchJump(j, j);
         w.Emit(Op_Halt);
       }, kUnrunnableStack, 0},
      {"a shallower path joins before a pop", [](TProgWriter& w) {
         w.EmitPush(IntValue(1));
         int32_t skip = w.EmitJump(Op_JumpZero);
         w.EmitPush(IntValue(2));
         w.PatchJump(skip, w.Emit(Op_Pop));
         w.Emit(Op_Halt);
       }, kUnrunnableStack, 0},
      {"paths of one depth join", [](TProgWriter& w) {
         w.EmitPush(IntValue(1));
         int32_t skip = w.EmitJump(Op_JumpZero);
         w.EmitPush(IntValue(2));
         int32_t over = w.EmitJump(Op_Jump);
         w.PatchJump(skip, w.EmitPush(IntValue(3)));
         w.PatchJump(over, w.Emit(Op_Pop));
         w.Emit(Op_Halt);
       }, 1, 0},
      {"an object constant", [](TProgWriter& w) {
         w.Emit(Op_Push, {vtObject, 64});
         w.Emit(Op_Halt);
       }, kUnrunnableStack, 0},
      {"a negative local", [](TProgWriter& w) {
         w.Emit(Op_LocalValPtr, {static_cast<uint32_t>(-1)});
         w.Emit(Op_Halt);
       }, kUnrunnableStack, 0},
  };
  for (const Case& c : cases) {
    TProgWriter w(nullptr);
    c.body(w);
    std::unique_ptr<TCompiledInfo> info(w.Finish());
    EXPECT_EQ(info->maxStack, c.maxStack) << c.name;
    EXPECT_EQ(info->localsUsed, c.localsUsed) << c.name;
  }
}

TEST(StackAnalysis, FusedCodeKeepsItsResultAndItsInnerJumpTargets) {
  // A jump to the Deref of a fused pair lands on an instruction of its own.
  TProgWriter w(nullptr);
  w.Emit(Op_LocalValPtr, {1});
  int32_t j = w.EmitJump(Op_Jump_Or);
  int32_t fused = w.Emit(Op_LocalValPtr, {0});
  w.PatchJump(j, w.Emit(Op_Deref));
  w.Emit(Op_Ret);
  w.Emit(Op_Halt);
  std::unique_ptr<TCompiledInfo> info(w.Finish());
  uint32_t before = info->maxStack;
  FuseInstructions(info->Words(), info->size);
  info->AnalyzeStack();
  EXPECT_EQ(info->Words()[fused / 4], Op_LocalValPtr_Deref);
  EXPECT_EQ(info->maxStack, before);
  EXPECT_TRUE(info->Runnable());
  EXPECT_EQ(info->localsUsed, 2u);
}

} // namespace
} // namespace brova
