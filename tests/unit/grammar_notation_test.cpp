// Reading rule texts in the tree notation: items, names, bounds, messages and faulty texts.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "compiler/yup.h"
#include "runtime/errors.h"
#include "tests/unit/grammar_test_support.h"

namespace brova {
namespace {

using testing_support::EngineFor;
using testing_support::MessageLog;
using testing_support::PlainLists;

constexpr const char* kOneToken = "Grammar\n Start\n  'a\n@\n";

TEST(RuleNotation, ItemsGiveKindsNamesCountsAndBounds) {
  auto engine = EngineFor(R"(Lexical
 'ab
 []Opt
  'x
 [}More
  'y
 {}Any
  'z
 |Alt
  'p
  'q
 -Low
  'a
  $7a
 Word
  Low
  label
   'k
 $41
 ab
 AB
@
 'after
)",
                          kOneToken, PlainLists);
  engine->Lex("");
  const std::vector<TRuleNode*>& top = engine->LexicalTree()->TopLevel();
  ASSERT_EQ(top.size(), 10u); // nothing after the closing line is read

  struct Expect {
    TRuleKind kind;
    std::string name;
    int32_t min, max;
  };
  const Expect expected[] = {
      {TRuleKind::Literal, "ab", 1, 1},         {TRuleKind::Sequence, "Opt", 0, 1},
      {TRuleKind::Sequence, "More", 1, 123456}, {TRuleKind::Sequence, "Any", 0, 123456},
      {TRuleKind::Choice, "Alt", 1, 1},         {TRuleKind::Range, "Low", 1, 1},
      {TRuleKind::Sequence, "Word", 1, 1},      {TRuleKind::Literal, "A", 1, 1},
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(top[i]->kind, expected[i].kind);
    EXPECT_EQ(top[i]->name, expected[i].name);
    EXPECT_EQ(top[i]->target, top[i]);
    if (expected[i].kind == TRuleKind::Sequence) {
      EXPECT_EQ(top[i]->min, expected[i].min);
      EXPECT_EQ(top[i]->max, expected[i].max);
    }
  }
  // The bound lines are the range's bounds and also its ordinary children.
  EXPECT_EQ(top[5]->low, 'a');
  EXPECT_EQ(top[5]->high, 0x7a);
  EXPECT_EQ(top[5]->children.size(), 2u);
  // Inside Word: Low names a top-level rule, label names none and is a sequence of its own.
  const TRuleNode* low = top[6]->children[0];
  const TRuleNode* label = top[6]->children[1];
  EXPECT_EQ(low->kind, TRuleKind::Name);
  EXPECT_EQ(low->target, top[5]);
  EXPECT_EQ(label->kind, TRuleKind::Sequence);
  EXPECT_EQ(label->target, label);
  // A top-level plain name refers to an earlier rule of that name; names compare exactly.
  EXPECT_EQ(top[8]->kind, TRuleKind::Name);
  EXPECT_EQ(top[8]->target, top[0]);
  EXPECT_EQ(top[9]->kind, TRuleKind::Sequence);
  EXPECT_EQ(top[9]->target, top[9]);
}

TEST(RuleNotation, FirstSetsFollowReferencesAndGroups) {
  auto engine = EngineFor(R"(Lexical
 Word
  Letter
  {}
   Letter
 Num
  [}
   Digit
 Maybe
  []
   'x
  'y
 *Stop
 -Letter
  'a
  'c
 |Digit
  '0
  '1
@
)",
                          kOneToken, PlainLists);
  engine->Lex("");
  auto bytes = [&](const char* name) {
    std::string set;
    for (int b = 0; b < 256; ++b)
      if (engine->LexicalRule(name)->first.Has(static_cast<uint8_t>(b)))
        set += static_cast<char>(b);
    return set;
  };
  EXPECT_EQ(bytes("Word"), "abc");
  EXPECT_EQ(bytes("Num"), "01");
  EXPECT_EQ(bytes("Maybe").size(), 256u); // an optional first child lets any byte begin
}

TEST(RuleNotation, FaultsInATextAreReportedAndReadingGoesOn) {
  struct Case {
    const char* what;
    const char* lexical;
    const char* grammar;
    std::string message;
  };
  const std::string bug = "\x83\x6f\x83\x4f\x94\xad\x90\xb6:";
  const Case cases[] = {
      {"trailing space", "Lexical\n 'if \n 'a\n@\n", kOneToken, "Wanring: extra space in  'if "},
      {"bound without marker", "Lexical\n -R\n  x\n  'z\n 'a\n@\n", kOneToken,
       bug + "Please Put '' or $ at the first letters of each children"},
      {"bound of zero", "Lexical\n -R\n  $00\n  'z\n 'a\n@\n", kOneToken,
       bug + "Please Put '' or $ at the first letters of each children"},
      {"literal without a lexical rule", "Lexical\n 'a\n@\n",
       "Grammar\n Start\n  'a\n  'nothing\n@\n", bug + "nothing is not linked."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MessageLog log;
    auto engine = EngineFor(c.lexical, c.grammar, PlainLists);
    auto tokens = engine->Lex("a");
    ASSERT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(log.seen[0], c.message);
    EXPECT_EQ(tokens->Count(), 1);
  }
}

TEST(RuleNotation, TrailingSpaceStaysPartOfTheLiteral) {
  MessageLog log;
  auto engine =
      EngineFor("Lexical\n 'if \n SYMBOL\n  [}\n   -\n    'a\n    'z\n@\n", kOneToken, PlainLists);
  auto alone = engine->Lex("if");
  ASSERT_EQ(alone->Count(), 1);
  EXPECT_EQ(alone->RuleOf((*alone)[0])->name, "SYMBOL");
  auto spaced = engine->Lex("if x");
  ASSERT_EQ(spaced->Count(), 2);
  EXPECT_EQ(spaced->RuleOf((*spaced)[0])->name, "if ");
  EXPECT_EQ((*spaced)[0].Text(), "if ");
}

// A text whose root never ends would be read past its last line: it is refused instead, and
// the engine stays unbuilt so that a mended text can still be used.
TEST(RuleNotation, TextWithoutClosingLineIsRefused) {
  struct Case {
    const char* what;
    const char* lexical;
    const char* grammar;
    const char* label;
  };
  const Case cases[] = {
      {"lexical", "Lexical\n 'a\n  'b", kOneToken, "Lexical"},
      {"grammar", "Lexical\n 'a\n@\n", "Grammar\n Start\n  'a\n", "Grammar"},
      {"empty lexical", "", kOneToken, ""},
      {"only a root", "Lexical\n 'a\n@\n", "Grammar", "Grammar"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto engine = EngineFor(c.lexical, c.grammar, PlainLists);
    try {
      engine->Lex("a");
      ADD_FAILURE() << "no error";
    } catch (const EScriptError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("Rule text ended before its closing line at depth 0: ") + c.label);
    }
    EXPECT_FALSE(engine->RulesRead());
    engine->SetLexNode(SplitRuleLines("Lexical\n 'a\n@\n"));
    engine->SetGramNode(SplitRuleLines(kOneToken));
    EXPECT_EQ(engine->Lex("a")->Count(), 1);
  }
}

TEST(RuleNotation, LinesMayEndWithCarriageReturns) {
  auto engine =
      EngineFor("Lexical\r\n 'a\r\n@\r\n", "Grammar\r\n Start\r\n  'a\r\n@\r\n", PlainLists);
  auto tokens = engine->Lex("a");
  ASSERT_EQ(tokens->Count(), 1);
  EXPECT_TRUE(engine->Parse(*tokens));
}

TEST(RuleNotation, GrammarNeedsAHandlerThatGivesPrototypes) {
  auto without = EngineFor("Lexical\n 'a\n@\n", kOneToken, nullptr);
  EXPECT_THROW(
      {
        try {
          without->Lex("a");
        } catch (const EScriptError& e) {
          EXPECT_STREQ(e.what(), "No onCreateList Assigned");
          throw;
        }
      },
      EScriptError);
  auto empty = EngineFor("Lexical\n 'a\n@\n", kOneToken, [](PResListGetter) {});
  EXPECT_THROW(empty->Lex("a"), EScriptError);
}

TEST(RuleNotation, HandlerIsAskedOncePerGrammarLineInOrder) {
  std::vector<std::string> names;
  auto engine = EngineFor("Lexical\n 'a\n 'b\n@\n", R"(Grammar
 Start
  []
   'a
  Item
 |Item
  'b
@
 Ignored
)",
                          [&](PResListGetter g) {
                            names.push_back(g->name);
                            g->prototype = std::make_unique<TResultList>();
                          });
  engine->Lex("");
  engine->Lex("a");
  EXPECT_EQ(names, (std::vector<std::string>{"Grammar", "Start", "", "a", "Item", "Item", "b"}));
}

TEST(RuleNotation, RulesAreReadOnceAndLaterTextChangesAreIgnored) {
  int asked = 0;
  auto engine = EngineFor("Lexical\n 'a\n@\n", kOneToken, [&](PResListGetter g) {
    ++asked;
    g->prototype = std::make_unique<TResultList>();
  });
  EXPECT_FALSE(engine->RulesRead());
  engine->Lex("a");
  EXPECT_TRUE(engine->RulesRead());
  engine->SetLexNode(SplitRuleLines("Lexical\n 'b\n@\n"));
  auto tokens = engine->Lex("b a");
  EXPECT_EQ(testing_support::Texts(*tokens), std::vector<std::string>{"a"});
  EXPECT_EQ(asked, 3);
}

} // namespace
} // namespace brova
