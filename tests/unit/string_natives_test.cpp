#include "natives/string_natives.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "natives/script_services.h"
#include "resources/snippet_evaluator.h"
#include "runtime/globals.h"
#include "runtime/value_list.h"
#include "runtime/heap_cell.h"
#include "class_builder.h"
#include "native_frame.h"

namespace brova {
namespace {

using namespace natives;
using testing::Held;
using testing::StringClassForTests;
using testing::TNativeFrame;

TValue Str(const std::string& text) {
  StringClassForTests();
  return Held(MakeString(text));
}

// Half-width katakana (0xb1) is one byte to substring but pairs with the next byte when
// characters are counted; 0x82 starts a double-byte character to both.
const std::string kTwoWide = "\x82\xa0\x82\xa2";
const std::string kKatakana = "a\xb1"
                              "b";

TEST(StringNatives, SubstringsClipTheirRange) {
  struct Case {
    NativeBody body;
    std::string text;
    std::vector<int32_t> args;
    std::string expected;
  } cases[] = {
      {StringSubstring, "abcdef", {2, 4}, "cd"},
      {StringSubstring, "abcdef", {-2, 3}, "abcde"},
      {StringSubstring, "abcdef", {4}, "ef"},
      {StringSubstring, "abcdef", {5, 2}, ""},
      {StringSubstring, "abcdef", {6, 9}, ""},
      {StringSubstring, "abcdef", {1, 2147483647}, "bcdef"},
      {StringSubstring, "abcdef", {-2147483647 - 1, 2147483647}, "abcdef"},
      {StringWSubstring, "abcdef", {-2, 3}, "abcde"},
      {StringWSubstring, kTwoWide + "c", {1, 2}, "\x82\xa2"},
      {StringWSubstring, kTwoWide + "c", {1}, "\x82\xa2"
                                              "c"},
      {StringWSubstring, kTwoWide + "c", {2, 99}, "c"},
      {StringWSubstring, kKatakana, {1, 2}, "\xb1"},
      {StringWSubstring, kKatakana, {2, 3}, "b"},
      {StringWSubstring, "\x82", {0, 1}, "\x82"},
  };
  TNativeFrame frame;
  for (const Case& c : cases) {
    std::vector<TValue> args;
    for (int32_t a : c.args) args.push_back(IntValue(a));
    const TValue& r = args.size() == 1 ? frame.Call(c.body, Str(c.text), {args[0]})
                                       : frame.Call(c.body, Str(c.text), {args[0], args[1]});
    EXPECT_TRUE(IsStringObject(r));
    EXPECT_EQ(ValueToText(r), c.expected) << c.text << " " << c.args[0];
  }
}

TEST(StringNatives, LengthsCharactersAndBytes) {
  TNativeFrame frame;
  EXPECT_EQ(frame.Call(StringLength, Str(kTwoWide), {}).i, 4);
  EXPECT_EQ(frame.Call(StringWLength, Str(kTwoWide), {}).i, 2);
  EXPECT_EQ(frame.Call(StringWLength, Str(kKatakana), {}).i, 2);
  EXPECT_EQ(frame.Call(StringWLength, Str("ab\x82"), {}).i, 3);
  EXPECT_EQ(frame.Call(StringLength, Str(""), {}).i, 0);

  EXPECT_EQ(frame.Call(StringCharAt, Str("ab"), {IntValue(1)}).i, 98);
  EXPECT_EQ(frame.Call(StringCharAt, Str("\xff"), {IntValue(0)}).i, 255);
  TValue self = Str("ab");
  for (int32_t pos : {2, -1})
    EXPECT_EQ(frame.Call(StringCharAt, self, {IntValue(pos)}).u, self.u) << pos;
  EXPECT_EQ(frame.Call(StringCharAt, self, {}).u, self.u);

  EXPECT_EQ(ValueToText(frame.Call(StringStrcat, Str("ab"), {IntValue(12)})), "ab12");
}

TEST(StringNatives, DestroyingAStringFreesItsTextUnlessItsClassHasADestructor) {
  // Fresh classes below String, so no earlier test's dead blocks are in their pools.
  TRTTI* string = StringClassForTests();
  TRTTI* plain = testing::MakeClass("PlainText", {}, string);
  TRTTI* guarded = testing::MakeClass("GuardedText", {}, string);
  AddMethod(guarded, new TDestructor(guarded, "GuardedText"));
  SetDestructorRunner([](TfObject*) {});
  for (TRTTI* cls : {plain, guarded}) {
    size_t live = LiveNativeObjects();
    TValue s = Held(NewInstance(cls));
    TfObject* o = ObjectPtr(s);
    auto* text = new TfString("text");
    o->fields[0] = NativeValue(text->Handle());
    Release(s);
    EXPECT_EQ(LiveNativeObjects(), live + 1) << cls->name << ": a dead block keeps its text";
    // The next instance request reuses the dead block and destroys it first.
    TValue next = Held(NewInstance(cls));
    EXPECT_EQ(next.u, s.u);
    EXPECT_EQ(LiveNativeObjects(), cls == guarded ? live + 1 : live) << cls->name;
    if (cls == guarded) delete text;
    Release(next);
  }
  SetDestructorRunner(nullptr);
}

TEST(StringNatives, InitAndFreeTheTextHolder) {
  TNativeFrame frame;
  TRTTI* cls = StringClassForTests();
  TValue s = Held(NewInstance(cls));
  EXPECT_EQ(frame.Call(StringInit, s, {IntValue(321)}).u, s.u);
  EXPECT_EQ(ValueToText(s), "A");

  size_t live = LiveNativeObjects();
  TValue body = ObjectPtr(s)->fields[0];
  frame.Call(StringFreeBody, NullValue(), {body});
  EXPECT_EQ(LiveNativeObjects(), live - 1);
  EXPECT_EQ(ValueToText(s), "") << "a freed holder reads as no text";
  EXPECT_EQ(frame.Call(StringLength, s, {}).i, 0);
  frame.Call(StringFreeBody, NullValue(), {body});
  EXPECT_EQ(LiveNativeObjects(), live - 1);
}

TEST(StringNatives, SplitMatchesTheSeparatorLiterally) {
  using Pieces = std::vector<std::string>;
  struct Case {
    std::string text, separator;
    int32_t limit;
    Pieces expected;
  } cases[] = {
      {"a,b,c", "", 0, {"a", "b", "c"}},
      {"", ",", 0, {}},
      {"a.b.c", ".", 0, {"a", "b", "c"}},
      {"a..b.c", "..", 0, {"a", "b.c"}},
      {"a|b/c", "|", 0, {"a", "b/c"}},
      {"a/b", "/", 0, {"a", "b"}},
      {"a[1]b", "[1]", 0, {"a", "b"}},
      {"a,b,c", ",", 2, {"a", "b,c"}},
      {"a,b,,", ",", 0, {"a", "b"}},
      {"x" + kTwoWide + "y", "\x82\xa2", 0, {"x\x82\xa0", "y"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SplitText(c.text, c.separator, c.limit), c.expected) << c.text << c.separator;
}

class SplitWithServices : public ::testing::Test {
protected:
  void SetUp() override {
    SetGlobalResolver([this](std::string_view name) {
      auto& cell = globals[std::string(name)];
      if (!cell) cell = std::make_unique<THeapCell>();
      return &cell->value();
    });
    SetSnippetEvaluator([this](std::string_view text, bool) {
      snippets.emplace_back(text);
      AssignValue(*ResolveGlobal("$_2"), *ResolveGlobal("$_1"));
      return 0;
    });
  }
  void TearDown() override {
    SetGlobalResolver(nullptr);
    SetSnippetEvaluator(nullptr);
  }

  std::map<std::string, std::unique_ptr<THeapCell>> globals;
  std::vector<std::string> snippets;
  TNativeFrame frame;
};

TEST_F(SplitWithServices, ResultIsTheArrayMadeAroundANewListOfStrings) {
  const TValue& r = frame.Call(StringSplit, Str("a;b;c"), {Str(";")});
  ASSERT_EQ(snippets, std::vector<std::string>{"$_2=new Array();$_2._setBody($_1);"});
  auto* list = NativeOfKind<TList>(r);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->items.size(), 3u);
  for (const TValue& item : list->items) {
    EXPECT_TRUE(IsStringObject(item));
    EXPECT_EQ(ObjectPtr(item)->refCount, 1) << "the list holds the only reference";
  }
  EXPECT_EQ(ValueToText(list->items[2]), "c");

  // A null separator means the default ",".
  auto* byComma = NativeOfKind<TList>(frame.Call(StringSplit, Str("a,b"), {NullValue()}));
  ASSERT_TRUE(byComma);
  EXPECT_EQ(byComma->items.size(), 2u);
  auto* empty = NativeOfKind<TList>(frame.Call(StringSplit, Str(""), {}));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->items.empty());
}

TEST(StringNatives, SplitWithoutServicesLeavesTheReceiver) {
  TNativeFrame frame;
  TValue self = Str("a,b");
  EXPECT_EQ(frame.Call(StringSplit, self, {}).u, self.u);
}

} // namespace
} // namespace brova
