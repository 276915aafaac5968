#include "runtime/value.h"

#include <gtest/gtest.h>

#include "runtime/errors.h"
#include "runtime/rtti.h"
#include "class_builder.h"

namespace brova {
namespace {

using testing::MakeClass;
using testing::StringClassForTests;

// Held values: a block at count 0 is dead and the next instance request reuses it.
TValue Held(HeapAddr obj) {
  TValue v = ObjectValue(obj);
  AddRef(v);
  return v;
}

TValue Str(const char* text) {
  StringClassForTests();
  return Held(MakeString(text));
}

TEST(ValueText, FormsOfEveryKind) {
  THeapCell seven;
  seven.value() = IntValue(7);
  struct Case {
    TValue v;
    const char* text;
  } cases[] = {
      {NullValue(), "null"},
      {IntValue(-42), "-42"},
      {FloatValue(0.1f), "0.100000001490116"},
      {FloatValue(3.0f), "3"},
      {FloatValue(-2.5f), "-2.5"},
      {FloatValue(0.0f), "0"},
      {FloatValue(1e20f), "1.00000002004088E20"},
      {FloatValue(0.0001f), "9.99999974737875E-5"},
      {FloatValue(123456.5f), "123456.5"},
      {ErrorValue(3), "Error #3"},
      {UnsetValue(Intern("x")), "Variablex"},
      {RefValue(seven.addr()), "[7]"},
      {Str("hello"), "hello"},
  };
  for (const Case& c : cases) EXPECT_EQ(ValueToText(c.v), c.text) << c.text;
}

TEST(ValueText, SelfReferenceDoesNotRecurseForever) {
  THeapCell cell;
  cell.value() = RefValue(cell.addr());
  EXPECT_EQ(ValueToText(cell.value()).substr(0, 3), "[[[");
}

TEST(ValueText, JoinedTextsStopAtTheLongestString) {
  EXPECT_EQ(JoinTexts(IntValue(12), FloatValue(0.5f)), "120.5");
  EXPECT_NO_THROW(CheckJoinedLength(kMaxStringBytes - 1, 1));
  EXPECT_NO_THROW(CheckJoinedLength(0, kMaxStringBytes));
  for (auto [first, second] : {std::pair<size_t, size_t>{kMaxStringBytes, 1},
                               {1, kMaxStringBytes},
                               {kMaxStringBytes + 1, 0},
                               {SIZE_MAX, 2}})
    EXPECT_THROW(CheckJoinedLength(first, second), EScriptError) << first << " + " << second;
}

TEST(ValueText, ObjectsShowClassAndIdentityAndLiteral) {
  TRTTI* cls = MakeClass("Ship", {"x"});
  HeapAddr obj = NewInstance(cls);
  TValue v = ObjectValue(obj);
  std::string id = std::to_string(ObjectId(ObjectPtr(v)));
  EXPECT_EQ(ValueToText(v), "Ship@" + id);
  EXPECT_EQ(ValueToLiteral(v), "objectFromID(" + id + ")");
  EXPECT_EQ(ValueToText(ObjectPtr(v)->fields[0]), "Variablex");
  EXPECT_EQ(ValueToLiteral(Str("a\"b")), "\"a\"b\"");
  EXPECT_EQ(ValueToLiteral(UnsetValue(Intern("y"))), "");
}

TEST(ValueCompare, RulesAndAsymmetries) {
  TRTTI* cls = MakeClass("Thing", {});
  TValue obj = Held(NewInstance(cls));
  TValue other = Held(NewInstance(cls));
  TValue nat = StringClassForTests()->classValue();
  struct Case {
    TValue a, b;
    float d;
  } cases[] = {
      {NullValue(), UnsetValue(0), 0.0f},
      {NullValue(), IntValue(0), 1.0f},
      {IntValue(5), FloatValue(5.0f), 0.0f},
      {IntValue(3), IntValue(5), -2.0f},
      {FloatValue(2.5f), IntValue(1), 1.5f},
      {Str("abc"), Str("abd"), 1.0f},
      {Str("abd"), Str("abc"), 1.0f},
      {Str("5"), IntValue(5), 0.0f},
      {IntValue(5), Str("5"), 1.0f},
      {obj, obj, 0.0f},
      {obj, other, 1.0f},
      {nat, nat, 1.0f},
      {ErrorValue(0), ErrorValue(0), 1.0f},
      // the difference of extreme integers keeps its sign
      {IntValue(2147483647), IntValue(-1), 2147483648.0f},
      {IntValue(-2147483647 - 1), IntValue(1), -2147483649.0f},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(CompareValues(cases[i].a, cases[i].b), cases[i].d) << "case " << i;
}

TEST(ValueConvert, IntFloatTruth) {
  TValue str = Str("");
  EXPECT_EQ(ValueToInt(FloatValue(2.9f)), 2);
  EXPECT_EQ(ValueToInt(FloatValue(-2.9f)), -2);
  EXPECT_EQ(ValueToInt(FloatValue(1e30f)), INT32_MAX);
  EXPECT_EQ(ValueToInt(FloatValue(-1e30f)), INT32_MIN);
  EXPECT_EQ(ValueToInt(str), 1);
  EXPECT_EQ(ValueToInt(NullValue()), 0);
  EXPECT_EQ(ValueToFloat(IntValue(3)), 3.0f);
  EXPECT_EQ(ValueToFloat(str), 0.0f);

  THeapCell cell;
  for (TValue v : {ErrorValue(1), RefValue(cell.addr()), NullValue(), UnsetValue(0),
                   IntValue(0), FloatValue(0.0f), FloatValue(__builtin_nanf(""))})
    EXPECT_FALSE(IsTruthy(v)) << ValueToText(v);
  for (TValue v : {str, IntValue(-1), FloatValue(0.5f), StringClassForTests()->classValue()})
    EXPECT_TRUE(IsTruthy(v)) << ValueToText(v);
}

TEST(ValueRefCount, SettersCountAndReleaseBelowZeroRaises) {
  TRTTI* cls = MakeClass("Counted", {});
  HeapAddr addr = NewInstance(cls);
  TfObject* obj = HeapPtr<TfObject>(addr);
  THeapCell a, b;
  ClearValue(a.value());
  ClearValue(b.value());
  SetObject(a.value(), addr);
  AssignValue(b.value(), a.value());
  EXPECT_EQ(obj->refCount, 2);
  AssignValue(a.value(), a.value()); // self-assignment keeps the count
  EXPECT_EQ(obj->refCount, 2);
  SetInt(a.value(), 1);
  SetNull(b.value());
  EXPECT_EQ(obj->refCount, 0);
  try {
    Release(ObjectValue(addr));
    FAIL() << "no error";
  } catch (const EScriptError& e) {
    EXPECT_EQ(std::string(e.what()), ValueToText(ObjectValue(addr)) + ":negative reference count ");
  }
  EXPECT_EQ(obj->refCount, -1);
}

TEST(Symbols, InternIgnoresCaseKeepsFirstSpelling) {
  EXPECT_EQ(Intern("_body"), kSymBody);
  EXPECT_EQ(Intern("_ERRORHOOK"), kSymErrorHook);
  SymbolId a = Intern("MixedCaseName");
  EXPECT_EQ(Intern("mixedcasename"), a);
  EXPECT_EQ(SymbolName(a), "MixedCaseName");
  EXPECT_EQ(Intern("Another_Name"), a + 1);
  EXPECT_EQ(SymbolName(0xFFFFFFu), "");
  // the second byte of a double-byte character is not a letter to fold: 0x83 0x41 vs 0x83 0x61
  EXPECT_NE(Intern("\x83\x41"), Intern("\x83\x61"));
}

TEST(NativeHandles, StaleAndForgedHandlesAreRejected) {
  auto* s = new TfString("x");
  NativeHandle h = s->Handle();
  EXPECT_EQ(NativeFromHandleAs<TfString>(h), s);
  EXPECT_EQ(NativeFromHandleAs<TResource>(h), nullptr); // wrong kind
  delete s;
  EXPECT_EQ(NativeFromHandle(h), nullptr);
  EXPECT_EQ(NativeFromHandle(0), nullptr);
  EXPECT_EQ(NativeFromHandle(0x00FFFFFFu), nullptr);
  EXPECT_EQ(ValueToText(NativeValue(h)), "TObject");
}

// A handle has 8 bits of generation: its slot must not come round 256 times soon after, or a
// stale handle (a Process object whose process is gone, say) names a stranger again.
TEST(NativeHandles, AStaleHandleStaysStaleThroughHundredsOfThousandsOfReuses) {
  auto* first = new TfString("x");
  NativeHandle stale = first->Handle();
  delete first;
  for (int i = 0; i < 400000; ++i) {
    auto* s = new TfString("y");
    ASSERT_EQ(NativeFromHandle(stale), nullptr) << "after " << i << " reuses";
    delete s;
  }
}

} // namespace
} // namespace brova

#include "runtime/globals.h"

namespace brova {
namespace {

TEST(GlobalNames, ValidForms) {
  struct Case {
    const char* name;
    bool valid;
  } cases[] = {
      {"$a_1", true},    {"$", true},       {"$\x83\x41x", true}, {"a", false},
      {"$a-b", false},   {"", false},       {"$a\n", false},      {"$_tmp_valueOf", true},
      {"$a b", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidGlobalName(c.name), c.valid) << c.name;
}

} // namespace
} // namespace brova
