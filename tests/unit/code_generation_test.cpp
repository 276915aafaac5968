// Code generation: the instructions each construct compiles to, the symbol table and
// position marks, fusion of finished blocks, and every compile error text with its position.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/code_verifier.h"
#include "compiler/source_position.h"
#include "compiler_support.h"
#include "resources/global_value.h"

namespace brova {
namespace {

using testing::CompileErrorLog;
using testing::Listing;
using testing::Method;

class CodeGeneration : public testing::KernelTest {};

// The body's code as generated, without the closing "Push float 0; Halt".
std::string BodyListing(const TRTTI* cls) {
  std::string text = Listing(*cls->body);
  const std::string tail = "Push float 0; Halt";
  EXPECT_GE(text.size(), tail.size());
  if (text == tail) return "";
  return text.substr(0, text.size() - tail.size() - 2);
}

TEST_F(CodeGeneration, StatementAndExpressionShapes) {
  struct Case {
    const char* source;
    const char* code; // the class body's code before "Push float 0; Halt"
  };
  const Case cases[] = {
      {"", ""},
      {"x = 1;", "PushThis; SMemberValPtr 0; Push int 1; Subst; Pop"},
      {"x = 1; X = 2;",
       "PushThis; SMemberValPtr 0; Push int 1; Subst; Pop; PushThis; SMemberValPtr 0; Push int 2; "
       "Subst; Pop"},
      {"x += 2; x -= 3;",
       "PushThis; SMemberValPtr 0; Push int 2; AddSubst; Pop; PushThis; SMemberValPtr 0; "
       "Push int 3; SubSubst; Pop"},
      {"$score = 0; y = $score;",
       "Push ref; Push int 0; Subst; Pop; PushThis; SMemberValPtr 0; Push ref; Deref; Subst; Pop"},
      {"a.b.c = 5;",
       "PushThis; SMemberValPtr 0; Deref; DMemberValPtr b; Deref; DMemberValPtr c; Push int 5; "
       "Subst; Pop"},
      {"y = Object;", "PushThis; SMemberValPtr 0; PushThis; SMemberValPtr 1; Deref; Subst; Pop"},
      {"y = this.x;", "PushThis; SMemberValPtr 0; PushThis; SMemberValPtr 1; Deref; Subst; Pop"},
      {"x = null; y = 1.5; z = \"a\\tb\";",
       "PushThis; SMemberValPtr 0; Push kind0; Subst; Pop; PushThis; SMemberValPtr 1; "
       "Push float 1.5; Subst; Pop; PushThis; SMemberValPtr 2; PushString \"a\tb\"; Subst; Pop"},
      {"a - b * c;",
       "PushThis; SMemberValPtr 0; Deref; PushThis; SMemberValPtr 1; Deref; PushThis; "
       "SMemberValPtr 2; Deref; Mul; Sub; Pop"},
      {"a == b < c;",
       "PushThis; SMemberValPtr 0; Deref; PushThis; SMemberValPtr 1; Deref; EQ; PushThis; "
       "SMemberValPtr 2; Deref; LT; Pop"},
      {"a != 1; a >= 2; a <= 3; a > 4; a / 5; a % 6;",
       "PushThis; SMemberValPtr 0; Deref; Push int 1; NEQ; Pop; PushThis; SMemberValPtr 0; Deref; "
       "Push int 2; GTE; Pop; PushThis; SMemberValPtr 0; Deref; Push int 3; LTE; Pop; PushThis; "
       "SMemberValPtr 0; Deref; Push int 4; GT; Pop; PushThis; SMemberValPtr 0; Deref; "
       "Push int 5; Div; Pop; PushThis; SMemberValPtr 0; Deref; Push int 6; Mod; Pop"},
      {"a || b || c;",
       "PushThis; SMemberValPtr 0; Deref; Jump_Or 48; PushThis; SMemberValPtr 1; Deref; "
       "Jump_Or 24; PushThis; SMemberValPtr 2; Deref; Pop"},
      {"a && b;",
       "PushThis; SMemberValPtr 0; Deref; Jump_And 24; PushThis; SMemberValPtr 1; Deref; Pop"},
      {"-a; !b;",
       "PushThis; SMemberValPtr 0; Deref; Neg; Pop; PushThis; SMemberValPtr 1; Deref; Not; Pop"},
      {"x++; x--;",
       "PushThis; SMemberValPtr 0; Push int 1; AddSubst; Pop; PushThis; SMemberValPtr 0; "
       "Push int 1; SubSubst; Pop"},
      {"a = (b = 1);",
       "PushThis; SMemberValPtr 0; PushThis; SMemberValPtr 1; Push int 1; Subst; Subst; Pop"},
      {"x is Object;", "PushThis; SMemberValPtr 0; Deref; Is Object; Pop"},
      {"x = new Object();",
       "PushThis; SMemberValPtr 0; Push float 0; Constructor Object/0; Subst; Pop"},
      {"print(1, \"s\");", "PushThis; Push int 1; PushString \"s\"; NativeCall print/2; Pop"},
      {"a.f(1).g();", "PushThis; SMemberValPtr 0; Deref; Push int 1; DCall f/1; DCall g/0; Pop"},
      {"describe(); this.describe();", "PushThis; SCall 3/0; Pop; PushThis; SCall 3/0; Pop"},
      {"while (c) { break; }", "PushThis; SMemberValPtr 0; Deref; JumpZero 24; Jump 16; Jump -32"},
      {"for (i = 0; i < 2; i++) x;",
       "PushThis; SMemberValPtr 0; Push int 0; Subst; Pop; PushThis; SMemberValPtr 0; Deref; "
       "Push int 2; LT; JumpZero 68; PushThis; SMemberValPtr 1; Deref; Pop; PushThis; "
       "SMemberValPtr 0; Push int 1; AddSubst; Pop; Jump -92"},
      {"for (e in a) break;",
       "PushThis; SMemberValPtr 0; PushThis; SMemberValPtr 1; Deref; InitForIn; DoForIn 24; "
       "Jump 16; Jump -16; ClearForIn"},
      {"if (c) a;",
       "PushThis; SMemberValPtr 0; Deref; JumpZero 36; PushThis; SMemberValPtr 1; Deref; Pop; "
       "Jump 8"},
      {"if (c) a; else b;",
       "PushThis; SMemberValPtr 0; Deref; JumpZero 36; PushThis; SMemberValPtr 1; Deref; Pop; "
       "Jump 28; PushThis; SMemberValPtr 2; Deref; Pop"},
      {"break; { x; /* c */ } // end", "PushThis; SMemberValPtr 0; Deref; Pop"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    TRTTI* cls = Compile(std::string("extends Object;\n") + c.source, "S" + std::to_string(n++));
    ASSERT_TRUE(cls);
    EXPECT_EQ(BodyListing(cls), c.code);
    EXPECT_TRUE(CheckLinkedCode(*cls->body)) << "the verifier accepts generated code";
  }
}

// The method of the example: arguments and locals by position, one position mark at the
// start, and after fusion the pointer-then-dereference pairs as single instructions.
TEST_F(CodeGeneration, MethodCodeFusedAndRecorded) {
  const std::string source = "function f(a) { var b; b = a + 1; return b; }";
  TRTTI* cls = Compile(source);
  ASSERT_TRUE(cls);
  TNormalFunction* f = Method(cls, "f");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->paramNames, std::vector<std::string>{"a"});
  EXPECT_EQ(f->localNames, std::vector<std::string>{"b"});
  EXPECT_EQ(Listing(*f->code),
            "LocalValPtr 0; ArgValPtr 0; Deref; Push int 1; Add; Subst; Pop; LocalValPtr 0; "
            "Deref; Ret; PushThis; Ret; Halt");
  EXPECT_EQ(Listing(*f->code, false),
            "LocalValPtr 0; ArgValPtr_Deref 0; Push int 1; Add; Subst; Pop; LocalValPtr_Deref 0; "
            "Ret; PushThis; Ret; Halt");
  ASSERT_EQ(f->code->symbols.positions.size(), 1u);
  EXPECT_EQ(f->code->symbols.positions[0].position, std::to_string(source.find("1;") + 1));
  EXPECT_EQ(f->code->symbols.positions[0].offset, 0);
  EXPECT_TRUE(CheckLinkedCode(*f->code));
  EXPECT_TRUE(f->code->Runnable());

  // Field and global reads fuse too; a class without statements still gets its body.
  TRTTI* reads = Compile("$g = 1; x = y + $g;", "Reads");
  ASSERT_TRUE(reads);
  EXPECT_EQ(
      Listing(*reads->body, false),
      "Push ref; Push int 1; Subst; Pop; PushThis_SMemberValPtr 0; PushThis_SMemberValPtr_Deref 1; "
      "Push_Deref ref; Add; Subst; Pop; Push float 0; Halt");
  EXPECT_EQ(Listing(*Compile("", "Empty")->body), "Push float 0; Halt");
}

TEST_F(CodeGeneration, SymbolTableNamesWhatRelinkingRewrites) {
  TRTTI* cls = Compile("extends Object;\n"
                       "function f(v) { x = $g; v.m(x); describe(); print(1); "
                       "return new Object() is Object; }\n"
                       "constructor T() { super(); super.describe(); }");
  ASSERT_TRUE(cls);
  std::vector<std::string> lines;
  Method(cls, "f")->code->symbols.WriteListing(lines);
  const std::string expected[] = {
      "op=Op_SMemberValPtr ,addr=4 ,info=x",
      "op=Op_Push ,addr=12 ,info=$g",
      "op=Op_SMemberValPtr ,addr=52 ,info=x",
      "op=Op_DCall ,addr=64 ,info=m",
      "op=Op_SCall ,addr=88 ,info=describe",
      "op=Op_Push ,addr=108 ,info=",
      "op=Op_Push ,addr=136 ,info=",
      "op=Op_NativeCall ,addr=120 ,info=print",
      "op=Op_Constructor ,addr=148 ,info=classes.lang.Object",
      "op=Op_Is ,addr=160 ,info=classes.lang.Object",
  };
  std::vector<std::string> sorted(lines);
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> want(std::begin(expected), std::end(expected));
  std::sort(want.begin(), want.end());
  EXPECT_EQ(sorted, want);

  TNormalFunction* ctor = Method(cls, "T");
  ASSERT_TRUE(ctor);
  EXPECT_EQ(ctor->kind, FunctionKind::Constructor);
  EXPECT_EQ(Listing(*ctor->code),
            "PushThis; SuperCall Object/0; Pop; PushThis; SuperCall describe/0; Pop; PushThis; "
            "Ret; Halt");
  lines.clear();
  ctor->code->symbols.WriteListing(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"op=Op_SuperCall ,addr=4 ,info=constructor",
                                             "op=Op_SuperCall ,addr=24 ,info=describe"}));
}

TEST_F(CodeGeneration, MethodsAndFields) {
  TRTTI* base = Compile("extends Object;\n"
                        "function f(a, b) { return a; }\n"
                        "function g() { return f(1, 2); }\n"
                        "native n;\n"
                        "function h() { n(); k = 1; }",
                        "Base");
  ASSERT_TRUE(base);
  int32_t fIndex = MethodIndexByName(base, "f");
  EXPECT_EQ(Listing(*Method(base, "g")->code), "PushThis; Push int 1; Push int 2; SCall " +
                                                   std::to_string(fIndex) +
                                                   "/2; Ret; PushThis; Ret; Halt");
  TFunction* n = MethodByName(base, "n");
  ASSERT_TRUE(n && n->IsNative());
  EXPECT_EQ(n->owner, base);

  // An override keeps the inherited index; a new function is appended; fields of the
  // superclass keep their indexes.
  TRTTI* sub = Compile("extends usr.Base;\n"
                       "function f(a, b) { return b; }\n"
                       "function z() { return f(3, 4) + k + w; }",
                       "Sub");
  ASSERT_TRUE(sub);
  EXPECT_EQ(MethodIndexByName(sub, "f"), fIndex);
  EXPECT_EQ(MethodByIndex(sub, fIndex)->owner, sub);
  EXPECT_EQ(sub->methods.size(), base->methods.size() + 1);
  EXPECT_EQ(Listing(*Method(sub, "z")->code),
            "PushThis; Push int 3; Push int 4; SCall " + std::to_string(fIndex) +
                "/2; PushThis; SMemberValPtr 0; Deref; Add; PushThis; SMemberValPtr 1; Deref; Add; "
                "Ret; PushThis; Ret; Halt");
  EXPECT_EQ(SymbolName(sub->fieldNames[0].sym), "k");
}

TEST_F(CodeGeneration, NativeDeclarationsGetAPlaceholderBody) {
  TRTTI* cls =
      Compile("extends Object; native missing; function go() { return missing(); }", "Native");
  ASSERT_TRUE(cls);
  testing::MessageLog log;
  EXPECT_EQ(EvalSnippet("$_1 = new usr.Native(); $_1.go();"), 2);
  EXPECT_EQ(log.shown, std::vector<std::string>{"native Method is not implemented."});
}

TEST_F(CodeGeneration, AClassWaitsForItsSuperclass) {
  TRTTI* later = AddClass("Later", "extends classes.lang.Object;");
  later->compiled = false;
  TRTTI* cls = static_cast<TRTTI*>(attachResource("usr.Waiting", std::make_unique<TRTTI>()));
  CompileErrorLog errors;
  EXPECT_EQ(CompileClass(*cls, "extends usr.Later; x = 1;", true), 0);
  EXPECT_FALSE(cls->compiled);
  EXPECT_FALSE(cls->compileFailed);
  EXPECT_EQ(cls->superClass, later);
  EXPECT_TRUE(errors.entries.empty());

  // Without an extends clause a class has no superclass, unless the caller gives one.
  TRTTI* plain = Compile("x = 1;", "Plain");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->superClass, nullptr);
  auto* given = static_cast<TRTTI*>(attachResource("usr.Given", std::make_unique<TRTTI>()));
  EXPECT_EQ(CompileClass(*given, "print(describe());", true, {"classes.lang.Object"}), 0);
  EXPECT_EQ(given->superClass, object_);
  EXPECT_EQ(BodyListing(given), "PushThis; PushThis; SCall " +
                                    std::to_string(MethodIndexByName(object_, "describe")) +
                                    "/0; NativeCall print/1; Pop");
  EXPECT_EQ(RunClassBody(*given), 0);
  EXPECT_EQ(testing::Printed(), std::vector<std::string>{"object"});
}

TEST_F(CodeGeneration, CompileErrorsAndTheirPositions) {
  struct Case {
    std::string source;
    std::string message; // after "E:"
    std::string at;      // the source from the reported position on
  };
  const Case cases[] = {
      {"extends Nowhere;", "Nowhere is undefined.", "extends Nowhere;"},
      {"x = 1;\ny = new Nowhere();", "Nowhere is not defined.", ";"},
      {"y = new classes.lang();", "classes.lang(TResourceList) is not a Class.", ";"},
      {"y = new $g();", "$g(TGlobalValue) is not a Class.", ";"},
      {"y = x is usrglobal;", "\" \"\"is\"\" Operator must be followed by Class.\"", ";"},
      {"f() = 1;", "Left side of assertion cannot be a method invocation.", ";"},
      {"x.f()++;", "Left side of assertion cannot be a method invocation.", ";"},
      {"nothing(1);", "Methodnothing is undefined.", ";"},
      {"extends Object; function g() { super.nothing(); }", "Method super.nothing is undefined.",
       "; }"},
      {"extends Object; function g() { super.print(); }",
       "Method super.print is native method. Cannot invoke.", "; }"},
      {"extends Object; y = super.x;",
       "super.x\": \"\"super\"\" must be followed by Method invocation.\"", ";"},
      {"function g() { super(); }", "Method super.constructor is undefined.", "; }"},
      {"x = 1;\ny = 2147483648;", "'2147483648' is not a valid integer value", "2147483648;"},
      {"x = 2147483647;\ny = 99999999999999999999999999999999999999999.0;",
       "'99999999999999999999999999999999999999999.0' is not a valid floating point value",
       "99999999999999999999999999999999999999999.0;"},
      {"x = 1;\ny = (1;", "Syntax Error", "1;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    auto* cls = static_cast<TRTTI*>(attachResource("usr.E", std::make_unique<TRTTI>()));
    CompileErrorLog errors;
    EXPECT_EQ(CompileClass(*cls, c.source, true), 1);
    EXPECT_TRUE(cls->compileFailed);
    EXPECT_FALSE(cls->compiled);
    ASSERT_EQ(errors.entries.size(), 1u);
    const auto& e = errors.entries[0];
    EXPECT_EQ(e.message, c.message == "Syntax Error" ? c.message : "E:" + c.message);
    ASSERT_GE(e.position, 0);
    ASSERT_LE(static_cast<size_t>(e.position), c.source.size());
    EXPECT_EQ(c.source.substr(static_cast<size_t>(e.position)), c.at);
    detachResource("usr.E");
  }

  // With reporting off nothing is shown, and the class is still marked failed.
  auto* quiet = static_cast<TRTTI*>(attachResource("usr.Q", std::make_unique<TRTTI>()));
  CompileErrorLog errors;
  EXPECT_EQ(CompileClass(*quiet, "nothing();", false), 1);
  EXPECT_TRUE(quiet->compileFailed);
  EXPECT_TRUE(errors.entries.empty());
  // The player's display shows the message alone.
  SetCompileErrorDisplay({});
  testing::MessageLog shown;
  EXPECT_EQ(CompileClass(*quiet, "x = (;", true), 1);
  EXPECT_EQ(shown.shown, std::vector<std::string>{"Syntax Error"});
}

// Nesting as deep as the parser accepts compiles without exhausting the host stack; deeper
// nesting is a syntax error.
TEST_F(CodeGeneration, DeepNestingStaysWithinTheDepthBound) {
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  const std::string fits[] = {
      "x = " + repeat("(", 150) + "1" + repeat(")", 150) + ";",
      repeat("{", 300) + "x;" + repeat("}", 300),
      repeat("if (x) ", 300) + "x;",
      "x = 1" + repeat(" + 1", 5000) + ";",
      "x = a" + repeat(".b", 3000) + ";",
  };
  int n = 0;
  for (const std::string& source : fits) {
    SCOPED_TRACE(n);
    TRTTI* cls = Compile(source, "Deep" + std::to_string(n++));
    ASSERT_TRUE(cls);
    EXPECT_TRUE(cls->body->Runnable());
  }
  CompileErrorLog errors;
  auto* cls = static_cast<TRTTI*>(attachResource("usr.TooDeep", std::make_unique<TRTTI>()));
  EXPECT_EQ(CompileClass(*cls, repeat("{", 5000) + repeat("}", 5000), true), 1);
  ASSERT_EQ(errors.entries.size(), 1u);
  EXPECT_EQ(errors.entries[0].message, "Syntax Error");
}

TEST_F(CodeGeneration, SourcePositionOfAnAddress) {
  const std::string source = "extends Object;\r\nfunction f() {\r\n  x = 1;\r\n  print(x);\r\n}";
  TRTTI* cls = Compile(source, "Where");
  ASSERT_TRUE(cls);
  const TCompiledInfo& code = *Method(cls, "f")->code;
  size_t first = source.find("1;") + 1, second = source.find(";", first + 1);
  EXPECT_EQ(SourcePositionOf(code, code.code), "none");
  EXPECT_EQ(SourcePositionOf(code, code.code + 4), "usr.Where," + std::to_string(first));
  EXPECT_EQ(SourcePositionOf(code, code.code + code.size), "usr.Where," + std::to_string(second));
}

} // namespace
} // namespace brova
