#include "natives/array_natives.h"

#include <gtest/gtest.h>

#include "runtime/errors.h"
#include "runtime/statistics.h"
#include "runtime/value_list.h"
#include "native_frame.h"
#include "process_builder.h"

namespace brova {
namespace {

using namespace natives;
using testing::Held;
using testing::MakeClass;
using testing::TNativeFrame;

// An Array receiver with a fresh list, and a counted object to store in it.
class ArrayNatives : public ::testing::Test {
protected:
  void SetUp() override {
    cls_ = MakeClass("Array", {"_x"});
    self_ = Held(NewInstance(cls_));
    elements_ = g_live.listElements;
    cells_ = g_live.valueCells;
    list_ = frame_.Call(ArrayInit, self_, {});
    item_ = Held(NewInstance(MakeClass("Item", {})));
  }

  const TValue& Call(NativeBody body, std::initializer_list<TValue> args) {
    std::vector<TValue> all{list_};
    all.insert(all.end(), args);
    switch (all.size()) {
    case 1: return frame_.Call(body, self_, {all[0]});
    case 2: return frame_.Call(body, self_, {all[0], all[1]});
    default: return frame_.Call(body, self_, {all[0], all[1], all[2]});
    }
  }
  std::string Items() {
    std::string s;
    for (const TValue& v : NativeOfKind<TList>(list_)->items) s += ValueToText(v) + " ";
    return s;
  }
  int64_t Elements() const { return g_live.listElements - elements_; }

  TRTTI* cls_ = nullptr;
  TValue self_, list_, item_;
  TNativeFrame frame_;
  int64_t elements_ = 0, cells_ = 0;
};

TEST_F(ArrayNatives, ElementsKeepTheirReferences) {
  ASSERT_NE(NativeOfKind<TList>(list_), nullptr);
  EXPECT_EQ(Call(ArraySize, {}).kind, vtFloat) << "the size is a float, also when 0";
  EXPECT_EQ(Call(ArraySize, {}).f, 0.0f);
  Call(ArrayAdd, {IntValue(1)});
  Call(ArrayAdd, {item_});
  Call(ArrayInsert, {IntValue(0), FloatValue(0.5f)});
  Call(ArrayInsert, {IntValue(3), IntValue(3)}); // at the end
  EXPECT_EQ(Items(), "0.5 1 " + ValueToText(item_) + " 3 ");
  EXPECT_EQ(ObjectPtr(item_)->refCount, 2);
  EXPECT_EQ(Elements(), 4);
  EXPECT_EQ(g_live.valueCells - cells_, 4);

  EXPECT_EQ(Call(ArrayGet, {IntValue(2)}).u, item_.u);
  EXPECT_EQ(ObjectPtr(item_)->refCount, 3) << "the copy in the result";
  Call(ArraySet, {IntValue(2), IntValue(9)});
  EXPECT_EQ(ObjectPtr(item_)->refCount, 1) << "overwritten, and the result slot reused";
  Call(ArraySet, {IntValue(0), item_});
  const TValue& removed = Call(ArrayDelete, {IntValue(0)});
  EXPECT_EQ(removed.u, item_.u);
  EXPECT_EQ(ObjectPtr(item_)->refCount, 2) << "the test and the result; the cell gave its own";
  EXPECT_EQ(Items(), "1 9 3 ");
  EXPECT_EQ(Elements(), 3);
  EXPECT_EQ(Call(ArraySize, {}).f, 3.0f);

  Call(ArrayAdd, {item_});
  EXPECT_EQ(ObjectPtr(item_)->refCount, 2);
  Call(ArrayFree, {});
  EXPECT_EQ(ObjectPtr(item_)->refCount, 1) << "freeing the list released its elements";
  EXPECT_EQ(Elements(), 0);
  EXPECT_EQ(g_live.valueCells, cells_);
}

TEST_F(ArrayNatives, IndexesOutsideTheListRaise) {
  for (int i = 0; i < 3; ++i) Call(ArrayAdd, {IntValue(i)});
  struct Case {
    NativeBody body;
    int32_t index;
    const char* message;
  } cases[] = {
      {ArrayGet, 3, "List index out of bounds (3)"},
      {ArrayGet, -1, "List index out of bounds (-1)"},
      {ArraySet, 5, "List index out of bounds (5)"},
      {ArrayDelete, 3, "List index out of bounds (3)"},
      {ArrayInsert, 4, "List index out of bounds (4)"},
  };
  for (const Case& c : cases) {
    try {
      Call(c.body, {IntValue(c.index), IntValue(0)});
      ADD_FAILURE() << c.message;
    } catch (const EScriptError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  EXPECT_EQ(Items(), "0 1 2 ");
}

LeafBody LeafOf(const char* name) {
  for (size_t i = 0; i < kArrayNativeCount; ++i)
    if (std::string_view(kArrayNatives[i].name) == name) return kArrayNatives[i].leaf;
  return nullptr;
}

// The short forms do what the bodies do, or decline with nothing changed where a body would
// raise, grow the list or release a count to below zero.
TEST_F(ArrayNatives, ShortFormsDoWhatTheBodiesDoOrDecline) {
  Call(ArrayAdd, {IntValue(10)});
  Call(ArrayAdd, {item_});
  Call(ArrayAdd, {IntValue(30)});
  NativeOfKind<TList>(list_)->items.shrink_to_fit();
  const std::string item = ValueToText(item_);
  struct Case {
    const char* name;
    TValue index, value;
    bool done;
    const char* result; // what `result` holds afterwards
    std::string items;
  } cases[] = {
      {"native_get", IntValue(1), NullValue(), true, "item", "10 item 30 "},
      {"native_get", FloatValue(2.9f), NullValue(), true, "30", "10 item 30 "},
      {"native_get", IntValue(3), NullValue(), false, "self", "10 item 30 "},
      {"native_get", IntValue(-1), NullValue(), false, "self", "10 item 30 "},
      {"native_set", IntValue(2), IntValue(7), true, "self", "10 item 7 "},
      {"native_set", IntValue(3), IntValue(7), false, "self", "10 item 7 "},
      {"native_add", IntValue(5), NullValue(), false, "self", "10 item 7 "}, // full
  };
  int32_t count = ObjectPtr(item_)->refCount;
  for (const Case& c : cases) {
    TValue operands[] = {list_, c.index, c.value};
    TValue result = self_;
    EXPECT_EQ(LeafOf(c.name)(result, operands, c.value.kind == vtNull ? 2 : 3), c.done) << c.name;
    std::string text = result.u == self_.u   ? "self"
                       : result.u == item_.u ? "item"
                                             : ValueToText(result);
    EXPECT_EQ(text, c.result) << c.name;
    std::string items = Items();
    EXPECT_EQ(items.replace(items.find(item), item.size(), "item"), c.items) << c.name;
    EXPECT_EQ(ObjectPtr(item_)->refCount, count) << c.name << ": nothing counted for the result";
  }

  TValue operands[] = {list_, IntValue(1), IntValue(0)};
  TValue result = self_;
  ObjectPtr(item_)->refCount = 0; // its release would fail: the body says so
  EXPECT_FALSE(LeafOf("native_set")(result, operands, 3));
  EXPECT_EQ(NativeOfKind<TList>(list_)->items[1].u, item_.u);
  ObjectPtr(item_)->refCount = count;

  NativeOfKind<TList>(list_)->items.reserve(8);
  operands[1] = item_;
  EXPECT_TRUE(LeafOf("native_add")(result, operands, 2));
  EXPECT_EQ(ObjectPtr(item_)->refCount, count + 1);
  EXPECT_EQ(Elements(), 4);
  EXPECT_EQ(g_live.valueCells - cells_, 4);

  operands[0] = NativeValue(12345); // no list
  for (const char* name : {"native_get", "native_set", "native_add"})
    EXPECT_FALSE(LeafOf(name)(result, operands, 3)) << name;
}

TEST_F(ArrayNatives, SearchesByValueAndByIdentity) {
  testing::StringClassForTests();
  TValue text = Held(MakeString("ab"));
  TValue sameText = Held(MakeString("ab"));
  for (TValue v : {IntValue(2), FloatValue(2.0f), text, item_}) Call(ArrayAdd, {v});
  struct Case {
    NativeBody body;
    TValue v;
    int32_t index;
  } cases[] = {
      {ArrayIndexOf, FloatValue(2.0f), 0},   {ArrayLightIndexOf, FloatValue(2.0f), 1},
      {ArrayIndexOf, sameText, 2},           {ArrayLightIndexOf, sameText, -1},
      {ArrayLightIndexOf, text, 2},          {ArrayIndexOf, item_, 3},
      {ArrayIndexOf, IntValue(7), -1},       {ArrayLightIndexOf, NullValue(), -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Call(c.body, {c.v}).i, c.index) << ValueToText(c.v);
}

TEST_F(ArrayNatives, PackDropsWhatTruncatesToZero) {
  TValue keep[] = {IntValue(1), FloatValue(2.5f), item_, FloatValue(-1.0f)};
  TValue drop[] = {IntValue(0), FloatValue(0.4f), FloatValue(-0.5f), NullValue(),
                   ErrorValue(3), UnsetValue(Intern("u")), NativeValue(list_.u)};
  for (size_t i = 0; i < std::size(drop); ++i) {
    Call(ArrayAdd, {drop[i]});
    if (i < std::size(keep)) Call(ArrayAdd, {keep[i]});
  }
  Call(ArrayPack, {IntValue(0)});
  EXPECT_EQ(Items(), "1 2.5 " + ValueToText(item_) + " -1 ");
  EXPECT_EQ(Elements(), 4);
  EXPECT_EQ(ObjectPtr(item_)->refCount, 2);
  Call(ArrayPack, {}); // p2 is required, though unused
  EXPECT_EQ(Elements(), 4);
}

TEST_F(ArrayNatives, NoListNoEffect) {
  Call(ArrayAdd, {IntValue(1)});
  auto* other = new TList;
  NativeHandle stale = other->Handle();
  delete other;
  testing::StringClassForTests();
  TValue text = Held(MakeString("not a list"));
  TValue body = HeapPtr<TfObject>(text.u)->fields[0]; // a text holder, the wrong kind
  for (TValue notList : {IntValue(1), NullValue(), NativeValue(stale), body, text}) {
    list_ = notList;
    std::string what = ValueToText(notList);
    Call(ArrayAdd, {IntValue(5)});
    Call(ArrayInsert, {IntValue(0), IntValue(5)});
    Call(ArraySet, {IntValue(0), IntValue(5)});
    Call(ArrayPack, {IntValue(0)});
    Call(ArrayFree, {});
    EXPECT_EQ(Call(ArrayGet, {IntValue(0)}).kind, vtNull) << what;
    EXPECT_EQ(Call(ArrayDelete, {IntValue(0)}).kind, vtNull) << what;
    EXPECT_EQ(Call(ArraySize, {}).kind, vtNull) << what;
    EXPECT_EQ(Call(ArrayIndexOf, {IntValue(5)}).i, -1) << what;
    EXPECT_EQ(Call(ArrayLightIndexOf, {IntValue(5)}).i, -1) << what;
  }
  EXPECT_EQ(Elements(), 1);
  EXPECT_NE(NativeOfKind<TfString>(body), nullptr) << "the text holder was not freed as a list";
}

TEST(ArrayNativesInAProcess, AnIndexErrorEndsTheProcess) {
  testing::ResetInterpreter();
  testing::MessageLog log;
  TRTTI* cls = MakeClass("Reader", {"_x"});
  TNativeFunction* init = testing::AddNative(cls, "native_init", ArrayInit);
  TNativeFunction* get = testing::AddNative(cls, "native_get", ArrayGet);
  // _x = native_init(); return native_get(_x, 5);
  testing::AddCode(cls, "f", 0, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {0});
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, init->id});
    w.Emit(Op_Subst);
    w.Emit(Op_Pop);
    w.Emit(Op_PushThis);
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {0});
    w.Emit(Op_Deref);
    w.EmitPush(IntValue(5));
    w.Emit(Op_NativeCall, {2, get->id});
    w.Emit(Op_Ret);
  });
  TfObject* obj = testing::NewObject(cls);
  TProcess* p = CreateProcess(obj, "f");
  brova::Run(p, 0);
  EXPECT_EQ(p->status, 2);
  EXPECT_EQ(log.shown, std::vector<std::string>{"List index out of bounds (5)"});
  DestroyProcess(p);
  delete NativeOfKind<TList>(obj->fields[0]);
}

TEST(ElementLists, ListsMadeElsewhereAreCounted) {
  int64_t elements = g_live.listElements;
  NativeHandle h = NewElementList({IntValue(1), IntValue(2)});
  EXPECT_EQ(NativeFromHandleAs<TList>(h)->items.size(), 2u);
  EXPECT_EQ(g_live.listElements - elements, 2);
  TNativeFrame frame;
  frame.Call(ArrayFree, NullValue(), {NativeValue(h)});
  EXPECT_EQ(g_live.listElements, elements);
  EXPECT_EQ(NativeFromHandle(h), nullptr);
}

} // namespace
} // namespace brova
