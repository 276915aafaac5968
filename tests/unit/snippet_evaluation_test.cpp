// Snippet evaluation: throw-away classes run to their end, the seams that reach it, and the
// multi-statement evaluator's check points.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/multi_evaluator.h"
#include "compiler_support.h"

namespace brova {
namespace {

namespace fs = std::filesystem;
using testing::Printed;

class Snippets : public testing::KernelTest {
protected:
  TValue& Global(const char* name) { return *GlobalSlotInTree(name); }
};

TEST_F(Snippets, EachEvaluationCompilesAClassOfItsOwn) {
  int first = EvalCache().counter;
  const std::string text = "extends Object; className();";
  EXPECT_EQ(EvalSnippet(text), 0);
  EXPECT_EQ(EvalSnippet(text), 0);
  EXPECT_EQ(Printed(), (std::vector<std::string>{"eval" + std::to_string(first),
                                                 "eval" + std::to_string(first + 1)}));
  EXPECT_EQ(EvalCache().counter, first + 2);
  EXPECT_EQ(EvalCache().lastCode, text);
  EXPECT_TRUE(EvalCache().cached.empty());
  // Not attached and not aliased: no later snippet can see it.
  EXPECT_EQ(findClass("eval" + std::to_string(first)), nullptr);
  EXPECT_EQ(EvalSnippet("x = new eval" + std::to_string(first) + "();", false), 1);
}

TEST_F(Snippets, ValuesTravelThroughGlobals) {
  EXPECT_EQ(ValueToText(Global("$answer")), "42") << "a global's initial value is a snippet";
  TValue* v = EvaluateToValue("1+2");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->kind, vtInt);
  EXPECT_EQ(v->i, 3);
  EXPECT_EQ(v, &Global("$_tmp_valueOf"));
  TValue* w = natives::EvaluateExpression("$answer * 2");
  ASSERT_TRUE(w);
  EXPECT_EQ(ValueToText(*w), "84");
  EXPECT_EQ(EvaluateSnippet("$_2 = \"made\" + $answer;"), 0);
  EXPECT_EQ(ValueToText(Global("$_2")), "made42");
}

TEST_F(Snippets, FailuresGiveOneOrTwo) {
  testing::MessageLog log;
  EXPECT_EQ(EvalSnippet("x = (;", false), 1);
  EXPECT_EQ(EvalSnippet("extends Object; nothing();", false), 1);
  EXPECT_TRUE(log.shown.empty()) << "reporting off shows nothing";
  EXPECT_EQ(EvalSnippet("x = (;", true), 1);
  EXPECT_EQ(log.shown, std::vector<std::string>{"Syntax Error"});

  log.shown.clear();
  EXPECT_EQ(EvalSnippet("extends Object; print(1); $_nothing.f(); print(2);", false), 2);
  EXPECT_EQ(Printed(), std::vector<std::string>{"1"});
  ASSERT_FALSE(log.shown.empty()) << "a runtime error is always shown";
  EXPECT_EQ(log.shown.back(), "Variable$_nothing is not initialized. Methodf cannot be called.");
  EXPECT_EQ(EvalSnippet("x = 1 / 0;", false), 2);
}

// A snippet run from inside a native of a running snippet runs to its end first, and the
// outer one goes on where it was.
TEST_F(Snippets, SnippetsNestInsideNatives) {
  TRTTI* cls = Compile(
      "extends Object; native nested; function go() { print(1); nested(); print(3); }", "Outer");
  ASSERT_TRUE(cls);
  static TProcess* outer;
  static TProcess* during;
  static TProcess* after;
  BindNative(cls, "nested", [](TValue*, int32_t, int32_t) {
    outer = currentProcess;
    EvalSnippet("extends Object; print(2);");
    during = currentProcess;
  });
  EXPECT_EQ(EvalSnippet("$_1 = new usr.Outer(); $_1.go();"), 0);
  after = currentProcess;
  EXPECT_EQ(Printed(), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_NE(outer, nullptr);
  EXPECT_EQ(during, outer);
  EXPECT_EQ(after, nullptr);
}

// An instance the snippet handed out keeps its class, so the reference never points into a
// freed block.
TEST_F(Snippets, AnInstanceKeptByAGlobalKeepsItsClass) {
  EXPECT_EQ(EvalSnippet("extends Object; $_keep = this;"), 0);
  TValue& kept = Global("$_keep");
  ASSERT_TRUE(IsLiveInstanceValue(kept));
  EXPECT_EQ(ClassOf(ObjectOf(kept))->name.rfind("eval", 0), 0u);
  EXPECT_EQ(EvalSnippet("extends Object; print($_keep.describe());"), 0);
  EXPECT_EQ(Printed(), std::vector<std::string>{"object"});
  EXPECT_EQ(EvalSnippet("$_keep = null;"), 0);
}

TEST_F(Snippets, MultiStatementScriptsRecordHowFarTheyGot) {
  TMultiEvaluator script;
  EXPECT_EQ(script.Lines(), std::vector<std::string>{"extends Object; $_exec_checkPoint=-1;"});
  script.AddStatement("print(1);");
  script.AddStatement("x = 1 / 0;");
  script.AddStatement("print(3);");
  EXPECT_EQ(script.Text(), "extends Object; $_exec_checkPoint=-1;\r\n"
                           "print(1);\r\n$_exec_checkPoint=1;\r\n"
                           "x = 1 / 0;\r\n$_exec_checkPoint=2;\r\n"
                           "print(3);\r\n$_exec_checkPoint=3;\r\n");
  EXPECT_EQ(EvalSnippet(script.Text(), false), 2);
  EXPECT_EQ(ValueToText(Global("$_exec_checkPoint")), "1");
  EXPECT_EQ(Printed(), std::vector<std::string>{"1"});

  TMultiEvaluator failsAtOnce;
  failsAtOnce.AddStatement("x = 1 / 0;");
  EXPECT_EQ(EvalSnippet(failsAtOnce.Text(), false), 2);
  EXPECT_EQ(ValueToText(Global("$_exec_checkPoint")), "-1");

  fs::path file = Home() / "Temp" / "eval.script";
  ASSERT_TRUE(script.SaveTo(file.string()));
  EXPECT_EQ(testing::ReadBytes(file), script.Text());
  EXPECT_FALSE(script.SaveTo((Home() / "no" / "such" / "folder" / "x").string()));
}

} // namespace
} // namespace brova
