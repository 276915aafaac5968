// The grammar-driven parser on small grammars: ordered choice, greedy repetition, node
// ownership and counts, error positions.
#include <gtest/gtest.h>

#include <string>

#include "compiler/yup.h"
#include "runtime/errors.h"
#include "runtime/statistics.h"
#include "tests/unit/grammar_test_support.h"

namespace brova {
namespace {

using testing_support::Dump;
using testing_support::EngineFor;
using testing_support::PlainLists;

constexpr const char* kLetters = "Lexical\n 'a\n 'b\n 'c\n@\n";

struct Outcome {
  bool parsed;
  std::string tree; // when parsed
  int errorOffset;  // when not
};

Outcome ParseWith(const char* grammar, const char* source) {
  auto engine = EngineFor(kLetters, grammar, PlainLists);
  auto tokens = engine->Lex(source);
  TSyntaxTree tree = engine->Parse(*tokens);
  if (tree) return {true, Dump(*tree.Root()), -1};
  return {false, "", tokens->ErrorOffset()};
}

TEST(Parser, OrderedChoiceGreedyRepetitionAndGivingBack) {
  struct Case {
    const char* what;
    const char* grammar;
    const char* source;
    Outcome expected;
  };
  const char* pairs = "Grammar\n Start\n  {}\n   'a\n   'b\n  'a\n@\n";
  const char* firstWins = "Grammar\n Start\n  {}\n   |\n    'a\n    Pair\n Pair\n  'a\n  'b\n@\n";
  const char* longerFirst = "Grammar\n Start\n  {}\n   |\n    Pair\n    'a\n Pair\n  'a\n  'b\n@\n";
  const char* optional = "Grammar\n Start\n  []\n   'a\n  [}\n   'b\n@\n";
  const Case cases[] = {
      // The third repetition takes a, fails at the end, and gives the a back to the last 'a.
      {"repetition gives back a failed round",
       pairs,
       "a b a b a",
       {true, "TResultList(TResultList(a b a b) a)", -1}},
      {"a repetition never gives back a completed round", pairs, "a b", {false, "", 2}},
      // The earlier alternative wins though the later one would go further; the choice is
      // not tried again when the group cannot go on at b.
      {"earlier alternative wins", firstWins, "a b", {false, "", 0}},
      {"order decides",
       longerFirst,
       "a b a",
       {true, "TResultList(TResultList(TResultList(a b) a))", -1}},
      {"optional and repeated parts",
       optional,
       "b b",
       {true, "TResultList(TResultList() TResultList(b b))", -1}},
      {"one-or-more needs one", optional, "a", {false, "", 0}},
      {"nothing accepts the first token", optional, "c a", {false, "", 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome got = ParseWith(c.grammar, c.source);
    EXPECT_EQ(got.parsed, c.expected.parsed);
    EXPECT_EQ(got.tree, c.expected.tree);
    EXPECT_EQ(got.errorOffset, c.expected.errorOffset);
  }
}

TEST(Parser, EveryNodeIsANewObjectOfItsRulesPrototype) {
  struct TPair : TResultList {
    TResultList* MakeNode(TNodeArena& arena, std::span<const TResItem> items) const override {
      return Place<TPair>(arena, items);
    }
  };
  auto engine = EngineFor(kLetters, "Grammar\n Start\n  {}\n   Pair\n Pair\n  'a\n  'b\n@\n",
                          [](PResListGetter g) {
                            if (g->name == "Pair") g->prototype = std::make_unique<TPair>();
                            else g->prototype = std::make_unique<TResultList>();
                          });
  auto tokens = engine->Lex("a b a b");
  TSyntaxTree tree = engine->Parse(*tokens);
  ASSERT_TRUE(tree);
  const TResultList* group = tree.Root()->ListAt(0);
  ASSERT_EQ(group->Count(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(dynamic_cast<const TPair*>(group->ListAt(i)), nullptr);
    EXPECT_EQ(group->ListAt(i)->TokenAt(1), &(*tokens)[2 * i + 1]);
  }
}

TEST(Parser, TreesAndParsesAreCountedUntilFreed) {
  auto engine = EngineFor(kLetters, "Grammar\n Start\n  {}\n   'a\n   'b\n  'a\n@\n", PlainLists);
  auto tokens = engine->Lex("a b a b a");
  engine->Parse(*tokens); // builds the rules and their prototypes
  int64_t nodes = g_live.syntaxNodes, tokenCount = g_live.tokens, parses = TYup::LiveParses();
  {
    TSyntaxTree tree = engine->Parse(*tokens);
    ASSERT_TRUE(tree);
    EXPECT_EQ(g_live.syntaxNodes, nodes + TResultList::CountNodes(tree.Root()));
    EXPECT_EQ(TYup::LiveParses(), parses + 1);
    TSyntaxTree moved = std::move(tree);
    EXPECT_FALSE(tree);
    EXPECT_EQ(TYup::LiveParses(), parses + 1);
  }
  EXPECT_EQ(g_live.syntaxNodes, nodes);
  EXPECT_EQ(g_live.tokens, tokenCount);
  EXPECT_EQ(TYup::LiveParses(), parses);
  auto bad = engine->Lex("a b");
  EXPECT_FALSE(engine->Parse(*bad));
  EXPECT_EQ(g_live.syntaxNodes, nodes);
  EXPECT_EQ(TYup::LiveParses(), parses);
}

// A prototype may hand back a node that stands for the new one: an item of the match or
// itself when the match is empty. Only the nodes placed in the tree are counted, also when
// backtracking throws such a match away and takes it again.
TEST(Parser, NodesThatStandForOthersAreNotCounted) {
  struct TFolding : TResultList {
    TResultList* MakeNode(TNodeArena& arena, std::span<const TResItem> items) const override {
      if (items.empty()) return const_cast<TFolding*>(this);
      if (items.size() == 2 && ItemIsList(items[0]) && ItemIsList(items[1]) &&
          ItemList(items[1])->Count() == 0)
        return ItemList(items[0]);
      return Place<TFolding>(arena, items);
    }
  };
  // Wrap is tried first inside Pair, which fails at a token other than b.
  auto engine = EngineFor(
      kLetters,
      "Grammar\n Start\n  {}\n   |\n    Pair\n    Wrap\n Pair\n  Wrap\n  'b\n Wrap\n  Inner\n"
      "  []\n   'c\n Inner\n  'a\n@\n",
      [](PResListGetter g) { g->prototype = std::make_unique<TFolding>(); });
  auto tokens = engine->Lex("a a b a c");
  engine->Parse(*tokens);
  int64_t nodes = g_live.syntaxNodes;
  {
    TSyntaxTree tree = engine->Parse(*tokens);
    ASSERT_TRUE(tree);
    EXPECT_EQ(Dump(*tree.Root()), "TFolding(TFolding(TFolding(a) TFolding(TFolding(a) b) "
                                  "TFolding(TFolding(a) TFolding(c))))");
    EXPECT_EQ(g_live.syntaxNodes, nodes + TResultList::CountNodes(tree.Root()));
  }
  EXPECT_EQ(g_live.syntaxNodes, nodes);
  // The whole tree may be such a node.
  auto optional = EngineFor(kLetters, "Grammar\n {}Start\n  'a\n@\n",
                            [](PResListGetter g) { g->prototype = std::make_unique<TFolding>(); });
  auto none = optional->Lex("");
  TSyntaxTree empty = optional->Parse(*none);
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty.Root()->Placed());
  EXPECT_EQ(TResultList::CountNodes(empty.Root()), 0);
}

TEST(Parser, ItemAccessChecksIndexAndKind) {
  auto engine =
      EngineFor(kLetters, "Grammar\n Start\n  'a\n  Inner\n Inner\n  'b\n@\n", PlainLists);
  auto tokens = engine->Lex("a b");
  TSyntaxTree tree = engine->Parse(*tokens);
  ASSERT_TRUE(tree);
  TResultList* root = tree.Root();
  EXPECT_TRUE(root->IsToken(0));
  EXPECT_THROW(root->ListAt(0), EScriptError);
  EXPECT_THROW(root->TokenAt(1), EScriptError);
  EXPECT_THROW(root->TokenAt(2), EScriptError);
  root->Delete(0);
  ASSERT_EQ(root->Count(), 1);
  EXPECT_EQ(root->ListAt(0)->TokenAt(0)->Text(), "b");
}

TEST(Parser, RefusesWhatItCannotMakeATreeOf) {
  // The start rule's result is a token, not a node.
  auto engine = EngineFor(kLetters, "Grammar\n |Start\n  'a\n@\n", PlainLists);
  auto tokens = engine->Lex("a");
  EXPECT_FALSE(engine->Parse(*tokens));
  // Tokens cut by another engine's rules.
  auto other = EngineFor(kLetters, "Grammar\n Start\n  'a\n@\n", PlainLists);
  auto foreign = other->Lex("a");
  auto own = EngineFor(kLetters, "Grammar\n Start\n  'a\n@\n", PlainLists);
  own->Lex("");
  EXPECT_FALSE(own->Parse(*foreign));
  EXPECT_TRUE(other->Parse(*foreign));
}

// A left-recursive grammar would recurse without end.
TEST(Parser, LeftRecursionEndsAtTheDepthBound) {
  Outcome got = ParseWith("Grammar\n |Start\n  Pair\n  'a\n Pair\n  Start\n  'b\n@\n", "a b");
  EXPECT_FALSE(got.parsed);
}

} // namespace
} // namespace brova
