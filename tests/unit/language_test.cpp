// The script language: its rule texts, node classes and the shapes of its syntax trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "compiler/language.h"
#include "compiler/syntax_tree.h"
#include "runtime/statistics.h"
#include "tests/unit/grammar_test_support.h"

namespace brova {
namespace {

using testing_support::ClassName;
using testing_support::Dump;
using testing_support::MessageLog;

// Dump, with the precedence chain folded away: a level that applies no operator prints as
// its operand, so `x` is `x` rather than a dozen nested nodes.
std::string Shape(const TResultList& node) {
  static const std::set<std::string> chain = {"G_RVal", "G_OrEx", "G_AndEx", "G_IsEx", "G_CompEx",
                                              "G_ASEx", "G_LVal", "G_IncEx", "G_LValE"};
  std::string name = ClassName(node);
  auto emptyGroup = [&](int i) { return !node.IsToken(i) && node.ListAt(i)->Count() == 0; };
  auto item = [&](int i) {
    return node.IsToken(i) ? std::string(node.TokenAt(i)->Text()) : Shape(*node.ListAt(i));
  };
  if (chain.count(name) && node.Count() == 2 && emptyGroup(1)) return item(0);
  if (name == "G_MDEx" && emptyGroup(0)) return item(1);
  if (name == "G_Const") return item(0);
  std::string shown = name == "G_Err" ? "" : name.substr(name.rfind('_') + 1);
  std::string out = shown + (shown.empty() ? "[" : "(");
  for (int i = 0; i < node.Count(); ++i) out += (i ? " " : "") + item(i);
  return out + (shown.empty() ? "]" : ")");
}

// A source with its tokens and tree, which point into it: made in place, never moved.
struct Parsed {
  explicit Parsed(std::string text)
      : source(std::move(text)), tokens(LanguageEngine().Lex(source.c_str())),
        tree(LanguageEngine().Parse(*tokens)) {}
  Parsed(Parsed&&) = delete;

  const std::string source;
  const std::unique_ptr<TLexList> tokens;
  TSyntaxTree tree;
};

// The items of the program's group, one shape each.
std::vector<std::string> Statements(const std::string& source) {
  Parsed p(source);
  if (!p.tree) return {"error at " + std::to_string(p.tokens->ErrorOffset())};
  std::vector<std::string> out;
  const TResultList* group = p.tree.Root()->ListAt(1);
  for (int i = 0; i < group->Count(); ++i) out.push_back(Shape(*group->ListAt(i)));
  return out;
}

TEST(Language, RuleTextsAreReadWithoutComplaint) {
  const auto& lexical = LexicalRuleLines();
  const auto& grammar = GrammarRuleLines();
  EXPECT_EQ(lexical.size(), 144u);
  EXPECT_EQ(grammar.size(), 209u);
  EXPECT_EQ(lexical.front(), "Lexical");
  EXPECT_EQ(grammar.front(), "Grammar");
  EXPECT_EQ(lexical.back(), "@");
  EXPECT_EQ(grammar.back(), "@");
  MessageLog log;
  TYup engine;
  InstallLanguage(engine);
  engine.Lex("");
  EXPECT_EQ(log.seen, std::vector<std::string>{});
  std::vector<std::string> tokenRules;
  for (const TRuleNode* rule : engine.LexicalTree()->TopLevel()) tokenRules.push_back(rule->name);
  ASSERT_EQ(tokenRules.size(), 56u);
  EXPECT_EQ(std::vector<std::string>(tokenRules.begin() + 48, tokenRules.end()),
            (std::vector<std::string>{"COMM", "NUM", "STRING", "SYMBOL", "*Stop", "Digit", "Alpha",
                                      "Kanji"}));
  EXPECT_EQ(engine.GrammarTree()->TopLevel().size(), 34u);
}

TEST(Language, RuleNamesGiveNodeClasses) {
  const std::pair<const char*, const char*> cases[] = {
      {"Program", "G_Program"},
      {"Sentence", "G_Sentence"},
      {"Una", "G_Una"},
      {"This", "G_This"},
      {"ResourceVal", "G_ResourceVal"},
      {"VarDecl", "G_VarDecl"},
      {"Comment", "TResList"},
      {"", "G_Err"},
      {"Grammar", "G_Err"},
      {"program", "G_Err"},
      {"SYMBOL", "G_Err"},
  };
  for (const auto& [rule, cls] : cases) {
    TResListGetter getter{rule, nullptr};
    Yup1CreateList(&getter);
    ASSERT_TRUE(getter.prototype);
    EXPECT_EQ(ClassName(*getter.prototype), cls) << rule;
  }
}

TEST(Language, NodeShapes) {
  struct Case {
    const char* source;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"x = 1;", {"ExprS(Expr([x =] 1) ;)"}},
      {"a += b - 2 * c;", {"ExprS(Expr([a +=] CompEx(b [- ASEx(2 [* c])])) ;)"}},
      {"a == b;", {"ExprS(Expr([] AndEx(a [== b])) ;)"}},
      {"a || b && c;", {"ExprS(Expr([] RVal(a [|| OrEx(b [&& c])])) ;)"}},
      {"a < b != c;", {"ExprS(Expr([] AndEx(a [< b != c])) ;)"}},
      {"x is classes.lang.String;",
       {"ExprS(Expr([] IsEx(x [is ResourceVal(classes [. lang . String])])) ;)"}},
      {"-x; !y; x++; y--;",
       {"ExprS(Expr([] MDEx([-] x)) ;)", "ExprS(Expr([] MDEx([!] y)) ;)",
        "ExprS(Expr([] IncEx(x [++])) ;)", "ExprS(Expr([] IncEx(y [--])) ;)"}},
      {"a = (b = c);", {"ExprS(Expr([a =] Par(( Expr([b =] c) ))) ;)"}},
      {"a.b(1, \"s\").c = null;",
       {"ExprS(Expr([LVal(a [. LValE(b [( ArgList(Expr([] 1) [, Expr([] \"s\")]) )]) . c]) =] "
        "null) ;)"}},
      {"constructor(1); f();",
       {"ExprS(Expr([] LValE(constructor [( ArgList(Expr([] 1) []) )])) ;)",
        "ExprS(Expr([] LValE(f [( ArgList() )])) ;)"}},
      {"o = new a.B(x);",
       {"ExprS(Expr([o =] NewObj(new ResourceVal(a [. B]) ( ArgList(Expr([] x) []) ))) ;)"}},
      {"while (a) { b; break; }",
       {"While(while ( Expr([] a) ) Block({ [ExprS(Expr([] b) ;) Break(break ;)] }))"}},
      {"for (i = 0; i < n; i++) s += i;",
       {"For(for ( Expr([i =] 0) ; Expr([] AndEx(i [< n])) ; Expr([] IncEx(i [++])) ) "
        "ExprS(Expr([s +=] i) ;))"}},
      {"for (e in list.items) print(e);",
       {"Forin(for ( e in Expr([] LVal(list [. items])) ) "
        "ExprS(Expr([] LValE(print [( ArgList(Expr([] e) []) )])) ;))"}},
      {"if (a) b; else c; if (d) e;",
       {"If(if ( Expr([] a) ) ExprS(Expr([] b) ;) [else ExprS(Expr([] c) ;)])",
        "If(if ( Expr([] d) ) ExprS(Expr([] e) ;) [])"}},
      {"return; return x;", {"Return(return [] ;)", "Return(return [Expr([] x)] ;)"}},
      {"// note\n/* block */", {"TResList(// note)", "TResList(/* block */)"}},
      {"native draw; function f(a, b) { var x; var y, z; x = a; return x; } destructor d() {}",
       {"NativeDecl(native draw ;)",
        "FuncDecl(function f ( VArgList(a [, b]) ) VarBlock({ [VarDecl(var VArgList(x []) ;) "
        "VarDecl(var VArgList(y [, z]) ;)] [ExprS(Expr([x =] a) ;) Return(return [Expr([] x)] ;)] "
        "}))",
        "FuncDecl(destructor d ( VArgList() ) VarBlock({ [] [] }))"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Statements(c.source), c.items) << c.source;
}

// A precedence level that applies no operator is its operand in the tree, and every empty
// node of a rule is one shared node: `x` lies right under its Expr.
TEST(Language, FullShapeOfAnExpression) {
  Parsed p("extends classes.Base; x; -a * b;");
  ASSERT_TRUE(p.tree);
  EXPECT_EQ(Dump(*p.tree.Root()),
            "Program(Extends(extends ResourceVal(classes [. Base]) ;) [ExprS(Expr([] LVal(LValE(x "
            "[]) [])) ;) ExprS(Expr([] ASEx(MDEx([-] LVal(LValE(a []) [])) [* LVal(LValE(b []) "
            "[])])) ;)])");
  const TResultList* group = p.tree.Root()->ListAt(1);
  const TResultList* x = group->ListAt(0)->ListAt(0)->ListAt(1);
  const TResultList* b = group->ListAt(1)->ListAt(0)->ListAt(1)->ListAt(1)->ListAt(1);
  EXPECT_EQ(x->ListAt(1), b->ListAt(1));
  EXPECT_FALSE(x->ListAt(1)->Placed());
  Parsed empty("");
  ASSERT_TRUE(empty.tree);
  EXPECT_EQ(Dump(*empty.tree.Root()), "Program(Extends() [])");
}

// Each fails; the error is reported at the start of the token matched last.
TEST(Language, SyntaxErrors) {
  struct Case {
    const char* source;
    const char* at; // the text from the reported position on
  };
  const Case cases[] = {
      {"a = b = c;", "b = c;"},
      {"a = - -x;", "- -x;"},
      {"++x;", "++x;"},
      {"for (;;) x;", "(;;) x;"},
      {"a is B is C;", "B is C;"},
      {"x = 1;\nfork y;", ";\nfork y;"},
      {"a *= 2;", "a *= 2;"},
      {"a = b;;", ";;"},
      {"f(1,);", ",);"},
      {"function f() { x; var y; }", "; var y; }"},
      {"if (a) b; else", "else"},
      {"x = \"a\tb\";", "a\tb\";"},
      // The for-in alternative is tried after the three-part for and matches last.
      {"for (i = 0; i < 3; i++) ;", "i = 0; i < 3; i++) ;"},
  };
  for (const Case& c : cases) {
    Parsed p(c.source);
    EXPECT_FALSE(p.tree) << c.source;
    EXPECT_EQ(std::string(c.source + p.tokens->ErrorOffset()), c.at) << c.source;
  }
}

int Depth(const TResultList& node) {
  int deepest = 0;
  for (int i = 0; i < node.Count(); ++i)
    if (!node.IsToken(i)) deepest = std::max(deepest, Depth(*node.ListAt(i)));
  return deepest + 1;
}

// Each parenthesis costs ten levels of rule nesting; nesting past the bound is a syntax error
// at a position, never a blown stack.
TEST(Language, NestingIsBoundedAndReportedAsASyntaxError) {
  auto nested = [](int levels) {
    return "x = " + std::string(levels, '(') + "1" + std::string(levels, ')') + ";";
  };
  Parsed fits(nested(150));
  ASSERT_TRUE(fits.tree);
  EXPECT_LE(Depth(*fits.tree.Root()), kMaxSyntaxDepth);

  int64_t nodes = g_live.syntaxNodes;
  Parsed tooDeep(nested(100000));
  EXPECT_EQ(g_live.syntaxNodes, nodes);
  const std::string& deep = tooDeep.source;
  EXPECT_FALSE(tooDeep.tree);
  int at = tooDeep.tokens->ErrorOffset();
  EXPECT_GT(at, 4);
  EXPECT_LT(at, 4 + 100000);
  EXPECT_EQ(deep[at], '(');
}

// The bound falls at one depth whichever way the operand reached it (through every
// precedence level, or past levels that apply no operator): the deepest nesting that fits,
// and the opener of the first that does not, where the error is reported.
TEST(Language, NestingBoundFallsAtAFixedDepth) {
  struct Case {
    const char* open;
    const char* close;
    int fits;  // openers that still parse
    int delta; // the reported position from the first opener too many on
  };
  const Case cases[] = {
      {"(", ")", 203, 0},
      {"-(", ")", 203, 1},
      {"(a < ", ")", 184, 1},
      {"a + (b * (c || (", ")))", 61, 10},
      // Calls: reported among the closing parentheses.
      {"f(", ")", 145, 146},
  };
  for (const Case& c : cases) {
    auto nested = [&](int levels) {
      std::string s = "x = ";
      for (int i = 0; i < levels; ++i) s += c.open;
      s += "1";
      for (int i = 0; i < levels; ++i) s += c.close;
      return s + ";";
    };
    Parsed fits(nested(c.fits));
    EXPECT_TRUE(fits.tree) << c.open;
    Parsed over(nested(c.fits + 1));
    EXPECT_FALSE(over.tree) << c.open;
    EXPECT_EQ(over.tokens->ErrorOffset(),
              4 + c.fits * static_cast<int>(std::string(c.open).size()) + c.delta)
        << c.open;
  }
}

// The assignment target is tried before the value, and both may begin with the same call;
// forty nested calls would take 2^40 attempts if the first try were thrown away.
TEST(Language, NestedCallsParseInLinearTime) {
  std::string source = "x = ";
  for (int i = 0; i < 40; ++i) source += "f(a.b, ";
  source += "1";
  for (int i = 0; i < 40; ++i) source += ")";
  Parsed ok(source + ";");
  ASSERT_TRUE(ok.tree);
  std::string call = "1";
  for (int i = 0; i < 40; ++i)
    call = "LValE(f [( ArgList(Expr([] LVal(a [. b])) [, Expr([] " + call + ")]) )])";
  EXPECT_EQ(Statements(ok.source), std::vector<std::string>{"ExprS(Expr([x =] " + call + ") ;)"});
  Parsed bad(source + " y;");
  EXPECT_FALSE(bad.tree);
  EXPECT_EQ(bad.tokens->ErrorOffset(), static_cast<int>(source.size()) - 1);
}

} // namespace
} // namespace brova
