// Cutting text into tokens: longest match, rule order, "*Stop", skipped bytes, the end of text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/language.h"
#include "compiler/yup.h"
#include "runtime/statistics.h"
#include "tests/unit/grammar_test_support.h"

namespace brova {
namespace {

using testing_support::EngineFor;
using testing_support::Kinds;
using testing_support::MessageLog;
using testing_support::PlainLists;
using testing_support::Texts;
using Strings = std::vector<std::string>;

constexpr const char* kOneToken = "Grammar\n Start\n  'a\n@\n";

TEST(Lexer, LanguageTokens) {
  struct Case {
    const char* what;
    std::string source;
    Strings texts;
    Strings kinds;
  };
  const Case cases[] = {
      {"keyword wins a tie, a longer name stays a name",
       "whilex while",
       {"whilex", "while"},
       {"SYMBOL", "while"}},
      {"longest operator", "a+=1", {"a", "+=", "1"}, {"SYMBOL", "+=", "NUM"}},
      {"unused operators are tokens", "fork*=x", {"fork", "*=", "x"}, {"fork", "*=", "SYMBOL"}},
      {"byte that begins no token", "a#b", {"a", "b"}, {"SYMBOL", "SYMBOL"}},
      {"empty text", "", {}, {}},
      {"numbers", "1.5 2. 07", {"1.5", "2", ".", "07"}, {"NUM", "NUM", ".", "NUM"}},
      {"names",
       "$score _a1 \x82\xa0z",
       {"$score", "_a1", "\x82\xa0z"},
       {"SYMBOL", "SYMBOL", "SYMBOL"}},
      {"escaped quote", R"("a\"b" c)", {R"("a\"b")", "c"}, {"STRING", "SYMBOL"}},
      {"line comment ends at a tab", "// a\tb", {"// a", "b"}, {"COMM", "SYMBOL"}},
      {"block comment", "/* a\n*b */c", {"/* a\n*b */", "c"}, {"COMM", "SYMBOL"}},
      {"unclosed block comment is code", "/* x", {"/", "*", "x"}, {"/", "*", "SYMBOL"}},
      {"**/ does not close", "/* a **/ b */ c", {"/* a **/ b */", "c"}, {"COMM", "SYMBOL"}},
      {"**/ and no later close",
       "/* a **/ b",
       {"/", "*", "a", "*", "*", "/", "b"},
       {"/", "*", "SYMBOL", "*", "*", "/", "SYMBOL"}},
      {"tab in a string: the quote is skipped", "\"a\tb\"", {"a", "b"}, {"SYMBOL", "SYMBOL"}},
      // 0xb1 (half-width katakana) takes the next byte as its second, even a closing quote.
      {"half-width katakana swallows the quote",
       "\"\xb1\" x \"y",
       {"\"\xb1\" x \"", "y"},
       {"STRING", "SYMBOL"}},
  };
  TYup& engine = LanguageEngine();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto tokens = engine.Lex(c.source.c_str());
    EXPECT_EQ(Texts(*tokens), c.texts);
    EXPECT_EQ(Kinds(*tokens), c.kinds);
  }
}

TEST(Lexer, TokensPointIntoTheTextUpToItsFirstNul) {
  const char text[] = "ab cd\0ef";
  auto tokens = LanguageEngine().Lex(text);
  ASSERT_EQ(tokens->Count(), 2);
  EXPECT_EQ((*tokens)[0].start, text);
  EXPECT_EQ((*tokens)[1].start, text + 3);
  EXPECT_EQ((*tokens)[1].End(), text + 5);
  EXPECT_EQ(TYup::TokenText((*tokens)[1]), "cd");
}

TEST(Lexer, LongestMatchThenEarlierRule) {
  auto engine = EngineFor(R"(Lexical
 'ab
 Word
  [}
   -
    'a
    'z
 'abc
 Pair
  'a
  'b
@
)",
                          kOneToken, PlainLists);
  auto tokens = engine->Lex("ab abc abcd");
  EXPECT_EQ(Texts(*tokens), (Strings{"ab", "abc", "abcd"}));
  // 'ab and Word tie on "ab": the earlier wins; 'abc ties Word on "abc" and comes later.
  EXPECT_EQ(Kinds(*tokens), (Strings{"ab", "Word", "Word"}));
}

TEST(Lexer, RulesAfterStopMakeNoTokensAndEmptyMatchesAreSkipped) {
  auto engine = EngineFor(R"(Lexical
 Maybe
  []
   'x
 Num
  Digit
 *Stop
 -Digit
  '0
  '9
 'y
@
)",
                          kOneToken, PlainLists);
  auto tokens = engine->Lex("y7x");
  EXPECT_EQ(Texts(*tokens), (Strings{"7", "x"}));
  EXPECT_EQ(Kinds(*tokens), (Strings{"Num", "Maybe"}));
}

// A range with a low bound of 0 would match the NUL that ends the text and run on into
// whatever memory follows it.
TEST(Lexer, NoRuleMatchesTheEndOfText) {
  MessageLog log; // the zero bound is reported
  auto engine =
      EngineFor("Lexical\n All\n  [}\n   -\n    $00\n    $ff\n 'ab\n@\n", kOneToken, PlainLists);
  const char text[] = "xy\0zw";
  auto tokens = engine->Lex(text);
  EXPECT_EQ(Texts(*tokens), Strings{"xy"});
  auto partial = engine->Lex("a");
  EXPECT_EQ(Texts(*partial), Strings{"a"});
}

// A rule that recurses once per byte must not take the host's stack with it.
TEST(Lexer, DeeplyRecursiveRuleIsBounded) {
  auto engine = EngineFor("Lexical\n Run\n  'a\n  []\n   Run\n@\n", kOneToken, PlainLists);
  std::string text(100000, 'a');
  auto tokens = engine->Lex(text.c_str());
  ASSERT_GT(tokens->Count(), 1);
  EXPECT_EQ((*tokens)[tokens->Count() - 1].End(), text.c_str() + text.size());
  for (int i = 1; i < tokens->Count(); ++i) EXPECT_EQ((*tokens)[i].start, (*tokens)[i - 1].End());
}

// The lexer skips a rule that cannot begin with the next byte and tests a rule of single
// bytes by a look at the byte; neither may change what matches: a part that matches nothing
// lets the next one begin, and the nesting bound holds for rules of single bytes too.
TEST(Lexer, ShortcutsMatchWhatTheRulesMatch) {
  auto nestedChoices = [](int levels) {
    std::string text = "Lexical\n Deep\n";
    for (int i = 0; i < levels; ++i) text += std::string(static_cast<size_t>(i) + 2, ' ') + "|\n";
    return text + std::string(static_cast<size_t>(levels) + 2, ' ') + "'a\n 'b\n@\n";
  };
  struct Case {
    const char* what;
    std::string lexical;
    const char* source;
    Strings texts;
  };
  const Case cases[] = {
      {"an empty literal before the byte",
       "Lexical\n T\n  []\n   'a\n  |\n   Odd\n   'c\n Odd\n  '\n  'b\n@\n",
       "b c",
       {"b", "c"}},
      {"a rule without items", "Lexical\n T\n  'x\n  |\n   Empty\n   'y\n  'z\n Empty\n@\n",
       "xz xy",
       {"xz"}},
      {"single bytes within the nesting bound", nestedChoices(kMaxSyntaxDepth - 1), "ab",
       {"a", "b"}},
      {"single bytes past the nesting bound", nestedChoices(kMaxSyntaxDepth), "ab", {"b"}},
      {"a choice that takes the byte alone only where its first fitting alternative does",
       "Lexical\n T\n  |\n   Two\n   -\n    'a\n    'z\n  'x\n Two\n  'q\n  'q\n@\n", "qqx ax q",
       {"qqx", "ax"}},
      {"rules that hold themselves", "Lexical\n X\n  []\n   X\n Y\n  |\n   Y\n   'y\n@\n", "y",
       {"y"}},
  };
  MessageLog log; // the grammar's 'a is linked to no rule
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto engine = EngineFor(c.lexical, kOneToken, PlainLists);
    EXPECT_EQ(Texts(*engine->Lex(c.source)), c.texts);
  }
}

TEST(Lexer, LiveTokenCountFollowsTheList) {
  int64_t before = g_live.tokens;
  {
    auto tokens = LanguageEngine().Lex("a = b + 1;");
    EXPECT_EQ(g_live.tokens, before + 6);
  }
  EXPECT_EQ(g_live.tokens, before);
}

} // namespace
} // namespace brova
