#include "tools/bregexp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brova {
namespace {

// A group written as "-" is expected unset or empty.
struct MatchCase {
  const char* command;
  std::string text;
  bool matches;
  int count;
  std::vector<std::string> items;
};

class RegExpMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(RegExpMatch, CountAndItems) {
  const MatchCase& c = GetParam();
  TBRegExp re;
  EXPECT_EQ(re.Match(c.command, c.text), c.matches);
  EXPECT_EQ(re.Count(), c.count);
  for (std::size_t i = 0; i < c.items.size(); ++i)
    EXPECT_EQ(re.Item(static_cast<int>(i)), c.items[i] == "-" ? "" : c.items[i]) << "item " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegExpMatch,
    testing::Values(
        MatchCase{"/a(b)(c)?/", "xabz", true, 2, {"ab", "b", "-"}},
        MatchCase{"/(\\w+)-(\\d+)/", "id: name_2-42;", true, 3, {"name_2-42", "name_2", "42"}},
        MatchCase{"/^b/", "ab", false, 0, {}},
        MatchCase{"/b$/", "ab\r", false, 0, {}},
        MatchCase{"m/ABC/i", "xabc", true, 1, {"abc"}},
        MatchCase{"/^(a)$/m", "x\na\ny", true, 2, {"a", "a"}},
        // Bytes above 0x7f are neither word characters nor lower than a hex class bound.
        MatchCase{"/([\\x80-\\x9f].)(\\W)/", "ab\x83\x41\xa0", true, 3,
                  {"\x83\x41\xa0", "\x83\x41", "\xa0"}},
        MatchCase{"/\\W/", "ab\x83", true, 1, {"\x83"}},
        // An empty group ends the count, though later groups matched.
        MatchCase{"/(a)()(b)/", "ab", true, 2, {"ab", "a", "-"}},
        MatchCase{"/x*/", "abc", true, 0, {"-"}},
        // The global-name test of the runtime.
        MatchCase{"/^\\$([\\_A-Za-z0-9]|([\\x80-\\x9f\\xa0-\\xff].))*$/", "$a_1", true, 2, {}},
        MatchCase{"/^\\$([\\_A-Za-z0-9]|([\\x80-\\x9f\\xa0-\\xff].))*$/", "$\x83=", true, 3, {}},
        MatchCase{"/^\\$([\\_A-Za-z0-9]|([\\x80-\\x9f\\xa0-\\xff].))*$/", "$", true, 1, {"$"}},
        MatchCase{"/^\\$([\\_A-Za-z0-9]|([\\x80-\\x9f\\xa0-\\xff].))*$/", "a", false, 0, {}},
        MatchCase{"/^\\$([\\_A-Za-z0-9]|([\\x80-\\x9f\\xa0-\\xff].))*$/", "$a-b", false, 0, {}}));

TEST(RegExp, ItemPastAnEmptyGroupOrThePatternIsOutOfRange) {
  TBRegExp re;
  ASSERT_TRUE(re.Match("/(a)()(b)/", "ab"));
  EXPECT_EQ(re.Item(2), "");
  EXPECT_THROW(re.Item(3), EBRegExpError);
  ASSERT_TRUE(re.Match("/a(b)/", "ab"));
  EXPECT_THROW(re.Item(2), EBRegExpError);
  EXPECT_THROW(re.Item(-1), EBRegExpError);
  ASSERT_FALSE(re.Match("/z/", "ab"));
  EXPECT_THROW(re.Item(0), EBRegExpError);
}

TEST(RegExp, ItemPositions) {
  TBRegExp re;
  ASSERT_TRUE(re.Match("/<(\\w*)/", "  <tag a>"));
  EXPECT_EQ(re.ItemStart(0), 2u);
  EXPECT_EQ(re.ItemEnd(0), 6u);
  EXPECT_EQ(re.ItemStart(1), 3u);
}

struct SubstCase {
  const char* command;
  std::string text;
  bool replaced;
  std::string result;
};

class RegExpSubst : public testing::TestWithParam<SubstCase> {};

TEST_P(RegExpSubst, Result) {
  const SubstCase& c = GetParam();
  TBRegExp re;
  std::string text = c.text;
  EXPECT_EQ(re.Subst(c.command, text), c.replaced);
  EXPECT_EQ(text, c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegExpSubst,
    testing::Values(SubstCase{"s/a/b/", "aaa", true, "baa"},
                    SubstCase{"s/a/b/g", "aaa", true, "bbb"},
                    SubstCase{"s/A/b/gi", "aAa", true, "bbb"},
                    SubstCase{"s/z/y/g", "abc", false, "abc"},
                    SubstCase{"s/\\d+/<$&>/g", "a1b22", true, "a<1>b<22>"},
                    SubstCase{"s/(\\w+)@(\\w+)/$2 at $1/", "me@host", true, "host at me"},
                    SubstCase{"s/(a)|(b)/[$2]/g", "ab", true, "[][b]"},
                    SubstCase{"s/x*/-/g", "abc", true, "-a-b-c-"},
                    SubstCase{"s/x*/-/g", "axc", true, "-a--c-"},
                    SubstCase{"s/\\//\\\\/g", "a/b/c", true, "a\\b\\c"},
                    SubstCase{"s/a/\\$&\\n/", "a", true, "$&\n"},
                    SubstCase{"s/[^@a-zA-Z0-9_]//g", "Usr\\in-dex.cmml", true, "Usrindexcmml"},
                    SubstCase{"s/^/>/g", "", true, ">"}));

struct SplitCase {
  const char* command;
  std::string text;
  int limit;
  std::vector<std::string> pieces;
};

class RegExpSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(RegExpSplit, Pieces) {
  const SplitCase& c = GetParam();
  TBRegExp re;
  EXPECT_EQ(re.Split(c.command, c.text, c.limit), !c.pieces.empty());
  ASSERT_EQ(re.Count(), static_cast<int>(c.pieces.size()));
  for (std::size_t i = 0; i < c.pieces.size(); ++i)
    EXPECT_EQ(re.Item(static_cast<int>(i)), c.pieces[i]) << "piece " << i;
  EXPECT_THROW(re.Item(re.Count()), EBRegExpError);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegExpSplit,
    testing::Values(SplitCase{"/,/", "a,b,c", 0, {"a", "b", "c"}},
                    SplitCase{"/,/", "abc", 0, {"abc"}},
                    SplitCase{"/,/", ",a", 0, {"", "a"}},
                    SplitCase{"/,/", "a,b,,,", 0, {"a", "b"}},
                    SplitCase{"/,/", "a,b,,,", -1, {"a", "b", "", "", ""}},
                    SplitCase{"/,/", "a,b,c", 2, {"a", "b,c"}},
                    SplitCase{"/,/", "a,b,c", 1, {"a,b,c"}},
                    SplitCase{"/,/", ",,,", 0, {}},
                    SplitCase{"/,/", "", 0, {}},
                    SplitCase{"//", "abc", 0, {"a", "b", "c"}},
                    SplitCase{"/,*/", "a,,b", 0, {"a", "b"}},
                    SplitCase{"/\\./", "a.b", 0, {"a", "b"}},
                    SplitCase{"/\\.\\./", "a..b.c", 0, {"a", "b.c"}}));

TEST(RegExp, MalformedCommandsRaise) {
  TBRegExp re;
  std::string text = "abc";
  for (const char* command : {"/(a/", "abc", "/a", "/a/q", "", "/[z-a]/"})
    EXPECT_THROW(re.Match(command, text), EBRegExpError) << command;
  EXPECT_THROW(re.Subst("s/a/b", text), EBRegExpError);
  EXPECT_THROW(re.Subst("/a/b/", text), EBRegExpError);
  EXPECT_THROW(re.Split("/(/", text, 0), EBRegExpError);
  EXPECT_EQ(text, "abc");
  // A failed call leaves no results of an earlier one behind.
  ASSERT_TRUE(re.Match("/b/", text));
  EXPECT_THROW(re.Match("/(/", text), EBRegExpError);
  EXPECT_THROW(re.Count(), EBRegExpError);
}

TEST(RegExp, ResultsExistOnlyAfterAMatchOrSplit) {
  TBRegExp re;
  try {
    re.Count();
    ADD_FAILURE();
  } catch (const EBRegExpError& e) {
    EXPECT_STREQ(e.what(), "no count now");
  }
  try {
    re.Item(0);
    ADD_FAILURE();
  } catch (const EBRegExpError& e) {
    EXPECT_STREQ(e.what(), "no strings now");
  }
  ASSERT_TRUE(re.Split("/,/", "a,b", 0));
  std::string text = "x";
  ASSERT_TRUE(re.Subst("s/x/y/", text));
  EXPECT_THROW(re.Count(), EBRegExpError);
}

TEST(RegExp, SecondInstanceAnswersFalseForAnEmptyTextWithoutCompiling) {
  TBRegExp2& re = PathRegExp();
  std::string empty;
  EXPECT_FALSE(re.Match("/(/", ""));
  EXPECT_EQ(re.Count(), 0);
  EXPECT_FALSE(re.Subst("s/^/x/", empty));
  EXPECT_EQ(empty, "");
  EXPECT_FALSE(re.Split("//", "", 0));
  EXPECT_EQ(re.Count(), 0);
  EXPECT_TRUE(re.Match("/a/", "a"));
  EXPECT_EQ(&GeneralRegExp(), &GeneralRegExp());
}

TEST(RegExp, EachCommandIsCompiledOnce) {
  using platform::CompileRegexCommand;
  using platform::RegexKind;
  auto first = CompileRegexCommand(RegexKind::Match, "/cached(x)/");
  EXPECT_EQ(CompileRegexCommand(RegexKind::Match, "/cached(x)/"), first);
  EXPECT_NE(CompileRegexCommand(RegexKind::Split, "/cached(x)/"), first);
  EXPECT_EQ(platform::RegexGroupCount(*first), 2);
}

} // namespace
} // namespace brova
