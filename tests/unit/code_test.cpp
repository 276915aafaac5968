#include "runtime/code.h"

#include <gtest/gtest.h>

#include <memory>

#include "runtime/errors.h"
#include "runtime/rtti.h"

namespace brova {
namespace {

std::unique_ptr<TCompiledInfo> Finish(TProgWriter& w) {
  w.Emit(Op_Halt);
  std::unique_ptr<TCompiledInfo> info(w.Finish());
  FuseInstructions(info->Words(), info->size);
  return info;
}

TEST(CodeWriter, StringConstantSizes) {
  struct Case {
    const char* text;
    uint32_t size;
  } cases[] = {{"", 12}, {"abc", 12}, {"abcd", 16}, {"abcdefg", 16}, {"abcdefgh", 20}};
  for (const Case& c : cases) {
    TProgWriter w(nullptr);
    w.EmitPushString(c.text);
    EXPECT_EQ(w.Pos(), static_cast<int32_t>(c.size)) << c.text;
  }
}

TEST(CodeWriter, ObjectConstantIsRefused) {
  TProgWriter w(nullptr);
  EXPECT_THROW(
      {
        try {
          w.EmitPush(ObjectValue(64));
        } catch (const EScriptError& e) {
          EXPECT_STREQ(e.what(), "WritePush Error");
          throw;
        }
      },
      EScriptError);
}

TEST(CodeWriter, JumpsArePatchedRelativeToTheirOpcode) {
  TProgWriter w(nullptr);
  int32_t j = w.EmitJump(Op_JumpZero);
  w.Emit(Op_Pop);
  w.PatchJump(j, w.Pos());
  int32_t self = w.EmitJump(Op_Jump);
  w.PatchJump(self, self);
  auto info = Finish(w);
  EXPECT_EQ(static_cast<int32_t>(info->Words()[1]), 12);
  EXPECT_EQ(static_cast<int32_t>(info->Words()[4]), 0);
}

TEST(Fusion, PairsBecomeFusedInstructionsInPlace) {
  TProgWriter w(nullptr);
  w.Emit(Op_LocalValPtr, {2});       // 0
  w.Emit(Op_Deref);                  // 8
  w.Emit(Op_PushThis);               // 12
  w.Emit(Op_SMemberValPtr, {3});     // 16
  w.Emit(Op_Deref);                  // 24
  w.Emit(Op_PushThis);               // 28
  w.Emit(Op_SMemberValPtr, {1});     // 32: no Deref after it
  w.EmitPush(RefValue(8));           // 40
  w.Emit(Op_Deref);                  // 52
  w.Emit(Op_DMemberValPtr, {Intern("f"), 0}); // 56
  w.Emit(Op_Deref);                  // 68
  w.Emit(Op_ArgValPtr, {0});         // 72
  w.Emit(Op_Pop);                    // 80
  w.Emit(Op_PushThis);               // 84: alone
  auto info = Finish(w);
  const uint32_t* c = info->Words();
  EXPECT_EQ(c[0], Op_LocalValPtr_Deref);
  EXPECT_EQ(c[1], 2u);
  EXPECT_EQ(c[2], Op_Deref); // left in place: a jump to it still dereferences
  EXPECT_EQ(c[12 / 4], Op_PushThis_SMemberValPtr_Deref);
  EXPECT_EQ(c[20 / 4], 3u);
  EXPECT_EQ(c[28 / 4], Op_PushThis_SMemberValPtr);
  EXPECT_EQ(c[40 / 4], Op_Push_Deref);
  EXPECT_EQ(c[56 / 4], Op_DMemberValPtr_Deref);
  EXPECT_EQ(c[72 / 4], Op_ArgValPtr);
  EXPECT_EQ(c[84 / 4], Op_PushThis);
}

TEST(Fusion, InvalidOpcodeIsReported) {
  uint32_t code[] = {Op_Pop, 77, Op_Halt};
  try {
    FuseInstructions(code, sizeof code);
    FAIL();
  } catch (const EScriptError& e) {
    EXPECT_STREQ(e.what(), "Invalid Instruction77");
  }
}

TEST(Listing, LinesAndTheUnlistedInstruction) {
  TProgWriter w(nullptr);
  w.EmitPush(IntValue(5));
  w.EmitPushString("hi");
  w.Emit(Op_DMemberValPtr, {Intern("speed"), 0});
  w.Emit(Op_Pop);
  w.Emit(Op_DCall, {2, Intern("move"), 0});
  int32_t j = w.EmitJump(Op_Jump);
  w.PatchJump(j, 0);
  w.Emit(Op_InitForIn);
  w.Emit(Op_Add);
  auto info = Finish(w);
  std::vector<std::string> lines;
  ListCode(*info, lines);
  std::vector<std::string> texts;
  for (const std::string& l : lines) {
    ASSERT_EQ(l[8], ':');
    texts.push_back(l.substr(9));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Push 5", "PushString hi", "DMemberValPtr speed", "Pop",
                                             "DCall 2,move", "Jump-56", "InitForin", "Add"}));
  char addr[16];
  std::snprintf(addr, sizeof addr, "%08X", info->code + 12);
  EXPECT_EQ(lines[1].substr(0, 8), addr);

  TProgWriter w2(nullptr);
  w2.Emit(Op_Pop);
  w2.EmitPush(RefValue(8));
  w2.Emit(Op_Deref); // fused into the unlisted Op_Push_Deref
  auto fused = Finish(w2);
  lines.clear();
  EXPECT_THROW(ListCode(*fused, lines), EScriptError);
  EXPECT_EQ(lines.size(), 1u);
}

TEST(Opcodes, Names) {
  EXPECT_STREQ(OpcodeName(0), "Op_Pop");
  EXPECT_STREQ(OpcodeName(44), "Op_InitForIn");
  EXPECT_STREQ(OpcodeName(48), "Op_Halt");
  EXPECT_STREQ(OpcodeName(49), "Invalid Code");
}

TEST(SymbolInfo, RecordsGroupByKindAndText) {
  TSymInfoList s;
  s.Record(Op_DCall, "move", 8);
  s.Record(Op_DCall, "move", 40);
  s.Record(Op_SCall, "move", 60);
  s.Record(Op_Point, "17", 0);
  std::vector<std::string> lines;
  s.WriteListing(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"op=Op_DCall ,addr=8 ,info=move",
                                             "op=Op_DCall ,addr=40 ,info=move",
                                             "op=Op_SCall ,addr=60 ,info=move"}));
  ASSERT_EQ(s.positions.size(), 1u);
  EXPECT_EQ(s.positions[0].position, "17");
}

} // namespace
} // namespace brova
