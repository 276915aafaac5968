#include "natives/object_natives.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <unistd.h>

#include "natives/char_natives.h"
#include "resources/generator.h"
#include "resources/resource_list.h"
#include "resources/resource_tree.h"
#include "runtime/errors.h"
#include "runtime/globals.h"
#include "runtime/heap_cell.h"
#include "runtime/progress_note.h"
#include "runtime/value_list.h"
#include "class_builder.h"
#include "native_frame.h"

namespace brova {
namespace {

using namespace natives;
using testing::Held;
using testing::MakeClass;
using testing::TNativeFrame;

TValue Str(const std::string& text) {
  testing::StringClassForTests();
  return Held(MakeString(text));
}

// A receiver for the natives that do not look at it.
class ObjectNatives : public ::testing::Test {
protected:
  void SetUp() override {
    testing::StringClassForTests();
    cls_ = MakeClass("Caller", {});
    self_ = Held(NewInstance(cls_));
  }
  void TearDown() override { SetRandomState(kInitialRandomState); }

  const TValue& Call(NativeBody body, std::initializer_list<TValue> args) {
    return frame_.Call(body, self_, args);
  }

  TRTTI* cls_ = nullptr;
  TValue self_;
  TNativeFrame frame_;
};

TEST_F(ObjectNatives, TooFewArgumentsGiveTheReceiver) {
  for (NativeBody body : {ObjectSqrt, ObjectTrunc, ObjectValueOf, ObjectAngle, ObjectGetGlobal,
                          ObjectNewInstance, ObjectRefCount, ObjectGetValueByIndex, ObjectIs,
                          ObjectSetGenAttr, CharChangeAttr}) {
    const TValue& r = Call(body, {});
    EXPECT_EQ(r.kind, vtObject);
    EXPECT_EQ(r.u, self_.u);
  }
  EXPECT_EQ(Call(ObjectAngle, {IntValue(1)}).u, self_.u);
}

TEST_F(ObjectNatives, RndStaysInItsRange) {
  for (int32_t n : {1, 0, -5}) {
    for (int i = 0; i < 200; ++i) ASSERT_EQ(Call(ObjectRnd, {IntValue(n)}).i, 0) << n;
  }
  int32_t lo = INT_MAX, hi = INT_MIN;
  for (int i = 0; i < 200000; ++i) {
    int32_t q = Call(ObjectRnd, {IntValue(100000)}).i;
    lo = std::min(lo, q);
    hi = std::max(hi, q);
  }
  EXPECT_GE(lo, 0);
  EXPECT_LT(lo, 100);
  EXPECT_LE(hi, 99999);
  EXPECT_GT(hi, 99900);
  // Above 2^30 there is no divisor left: every step is already in range.
  for (int i = 0; i < 100; ++i) {
    int32_t q = Call(ObjectRnd, {IntValue(INT_MAX)}).i;
    ASSERT_TRUE(q >= 0 && q < (1 << 30)) << q;
  }
  for (int i = 0; i < 1000; ++i) {
    const TValue& f = Call(ObjectRnd, {});
    ASSERT_EQ(f.kind, vtFloat);
    ASSERT_TRUE(f.f >= 0.0f && f.f < 1.0f) << f.f;
  }
  SetRandomState(862897803); // its next step is 2^30 - 1, whose nearest float is 1.0
  EXPECT_LT(Call(ObjectRnd, {}).f, 1.0f);
}

TEST_F(ObjectNatives, RandomizeSeedsFromTheLow24Bits) {
  Call(ObjectRandomize, {IntValue(5)});
  EXPECT_EQ(RandomStep(), 20135805u);
  std::vector<int32_t> first, second;
  Call(ObjectRandomize, {IntValue(5)});
  for (int i = 0; i < 5; ++i) first.push_back(Call(ObjectRnd, {IntValue(1000)}).i);
  Call(ObjectRandomize, {IntValue(5 + 0x1000000)});
  for (int i = 0; i < 5; ++i) second.push_back(Call(ObjectRnd, {IntValue(1000)}).i);
  EXPECT_EQ(first, second);
}

TEST_F(ObjectNatives, AnglesUseWholeDegreesReduced) {
  auto sine = [&](TValue d) { return Call(ObjectSin, {d}).f; };
  EXPECT_EQ(sine(IntValue(-90)), sine(IntValue(270)));
  EXPECT_FLOAT_EQ(sine(IntValue(270)), -1.0f);
  EXPECT_EQ(sine(IntValue(360)), sine(IntValue(0)));
  EXPECT_EQ(sine(IntValue(0)), 0.0f);
  EXPECT_EQ(sine(FloatValue(45.9f)), sine(IntValue(45)));
  EXPECT_EQ(sine(IntValue(-720)), 0.0f);
  EXPECT_EQ(sine(IntValue(INT_MIN)), sine(IntValue(232))) << "2^31 mod 360 is 128";
  EXPECT_FLOAT_EQ(Call(ObjectCos, {IntValue(-360)}).f, 1.0f);
  EXPECT_FLOAT_EQ(Call(ObjectCos, {IntValue(60)}).f, 0.5f);

  struct Case {
    float x, y, degrees;
  } cases[] = {{1, 0, 0},     {1, 1, 45},      {0, 1, 90},  {-1, 0, 180}, {0, -1, -90},
               {3, 1, 15},    {0, 0, 0},       {-1, -1, -135}, {1, 3, 75},
               {0.00005f, -0.00005f, -0.00225f}}; // x becomes 1, y stays
  for (const Case& c : cases) {
    const TValue& a = Call(ObjectAngle, {FloatValue(c.x), FloatValue(c.y)});
    EXPECT_EQ(a.kind, vtFloat);
    EXPECT_FLOAT_EQ(a.f, c.degrees) << c.x << "," << c.y;
  }
  EXPECT_FLOAT_EQ(Call(ObjectDist, {IntValue(3), IntValue(-4)}).f, 5.0f);
}

TEST_F(ObjectNatives, RoundingAndRoots) {
  struct Case {
    NativeBody body;
    TValue arg;
    TVType kind;
    std::string text;
  } cases[] = {
      {ObjectFloor, FloatValue(-2.5f), vtInt, "-3"},
      {ObjectTrunc, FloatValue(-2.5f), vtInt, "-2"},
      {ObjectFloor, FloatValue(2.5f), vtInt, "2"},
      {ObjectTrunc, FloatValue(1e10f), vtInt, "2147483647"},
      {ObjectFloor, FloatValue(-1e10f), vtInt, "-2147483648"},
      {ObjectFloor, FloatValue(NAN), vtInt, "0"},
      {ObjectTrunc, NullValue(), vtInt, "0"},
      {ObjectSqrt, FloatValue(2.25f), vtFloat, "1.5"},
      {ObjectSqrt, IntValue(0), vtFloat, "0"},
      {ObjectSqrt, IntValue(-1), vtNull, "null"},
      {ObjectIsInt, IntValue(3), vtInt, "1"},
      {ObjectIsInt, FloatValue(3), vtInt, "0"},
      {ObjectIsFloat, FloatValue(3), vtInt, "1"},
      {ObjectIsFloat, NullValue(), vtInt, "0"},
  };
  for (const Case& c : cases) {
    const TValue& r = Call(c.body, {c.arg});
    EXPECT_EQ(r.kind, c.kind) << c.text;
    EXPECT_EQ(ValueToText(r), c.text);
  }
}

TEST_F(ObjectNatives, ValueOfReadsPlainNumbersOnly) {
  struct Case {
    TValue arg;
    TVType kind;
    std::string text;
  } cases[] = {
      {Str("12"), vtInt, "12"},         {Str("-.5"), vtFloat, "-0.5"},
      {Str("1e3"), vtNull, "null"},     {Str(""), vtNull, "null"},
      {Str("3."), vtNull, "null"},      {Str("-7"), vtInt, "-7"},
      {Str("0.25"), vtFloat, "0.25"},   {Str("12abc"), vtNull, "null"},
      {Str("1.5.2"), vtNull, "null"},   {Str("+4"), vtNull, "null"},
      {Str("99999999999"), vtNull, "null"}, {Str("8\n"), vtInt, "8"},
      {IntValue(42), vtInt, "42"},      {FloatValue(2.5f), vtFloat, "2.5"},
      {NullValue(), vtNull, "null"},
  };
  for (const Case& c : cases) {
    std::string input = ValueToText(c.arg);
    const TValue& r = Call(ObjectValueOf, {c.arg});
    EXPECT_EQ(r.kind, c.kind) << input;
    EXPECT_EQ(ValueToText(r), c.text) << input;
    Release(c.arg);
  }
}

TEST_F(ObjectNatives, GlobalsNeedTheirDollar) {
  std::map<std::string, std::unique_ptr<THeapCell>> cells;
  std::vector<std::string> asked;
  brova::SetGlobalResolver([&](std::string_view name) {
    asked.emplace_back(name);
    auto& cell = cells[std::string(name)];
    if (!cell) cell = std::make_unique<THeapCell>();
    return &cell->value();
  });
  EXPECT_EQ(ValueToText(Call(ObjectGetGlobal, {Str("x")})), "0");
  EXPECT_EQ(Call(ObjectGetGlobal, {Str("x")}).kind, vtInt);
  EXPECT_TRUE(asked.empty()) << "a name without $ is no global";
  TValue text = Str("kept");
  Call(ObjectSetGlobal, {Str("$g"), text});
  EXPECT_EQ(ObjectPtr(text)->refCount, 2) << "the test and the global";
  EXPECT_EQ(ValueToText(Call(ObjectGetGlobal, {Str("$g")})), "kept");
  EXPECT_EQ(ValueToText(Call(ObjectGetGlobal, {Str("$new")})), "null");
  brova::SetGlobalResolver({});
  EXPECT_EQ(ValueToText(Call(ObjectGetGlobal, {Str("$g")})), "0") << "no globals at all";
  Release(text);
}

TEST_F(ObjectNatives, FieldsByIndexStayInsideTheObject) {
  TRTTI* cls = MakeClass("Fielded", {"a", "b", "c"});
  TValue obj = Held(NewInstance(cls));
  TValue next = Held(NewInstance(cls)); // the block laid out after obj
  int32_t nextCount = ObjectPtr(next)->refCount;
  TNativeFrame frame;
  auto call = [&](NativeBody body, std::initializer_list<TValue> args) -> const TValue& {
    return frame.Call(body, obj, args);
  };
  call(ObjectSetValueByIndex, {IntValue(1), IntValue(7)});
  EXPECT_EQ(ValueToText(call(ObjectGetValueByIndex, {FloatValue(1.9f)})), "7");
  EXPECT_EQ(call(ObjectGetValueCount, {}).i, 3);
  EXPECT_EQ(ValueToText(call(ObjectGetValueName, {IntValue(2)})), "c");
  EXPECT_EQ(call(ObjectGetValueIndex, {Str("B")}).i, 1);
  EXPECT_EQ(call(ObjectGetValueIndex, {Str("nothing here")}).i, -1);
  for (int32_t bad : {-1, 3, 4, INT_MAX, INT_MIN}) {
    EXPECT_EQ(call(ObjectGetValueByIndex, {IntValue(bad)}).kind, vtNull) << bad;
    EXPECT_EQ(call(ObjectGetValueName, {IntValue(bad)}).kind, vtNull) << bad;
    call(ObjectSetValueByIndex, {IntValue(bad), IntValue(99)});
  }
  EXPECT_EQ(ObjectPtr(next)->refCount, nextCount) << "nothing written past the fields";
  EXPECT_EQ(ObjectPtr(next)->cls, cls->id);

  // A name added after the layout was fixed has no room in the blocks made before.
  FieldIndexAdding(cls, "late");
  EXPECT_EQ(call(ObjectGetValueCount, {}).i, 3);
  EXPECT_EQ(call(ObjectGetValueByIndex, {IntValue(3)}).kind, vtNull);
  EXPECT_EQ(call(ObjectGetValueIndex, {Str("late")}).i, -1);

  TValue held = Str("held");
  call(ObjectSetValueByIndex, {IntValue(0), held});
  EXPECT_EQ(ObjectPtr(held)->refCount, 2);
  call(ObjectClearAllValues, {});
  EXPECT_EQ(ObjectPtr(held)->refCount, 1) << "clearing released the field";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ValueToText(ObjectPtr(obj)->fields[i]), "0");
  Release(held);
}

TEST_F(ObjectNatives, ClassesAndIdentities) {
  TRTTI* base = MakeClass("Base", {});
  TRTTI* derived = MakeClass("Derived", {}, base);
  TValue obj = Held(NewInstance(derived));
  TNativeFrame frame;
  EXPECT_EQ(ValueToText(frame.Call(ObjectGetClassName, obj, {})), "Derived");
  EXPECT_EQ(ValueToText(frame.Call(ObjectGetParentClassName, obj, {})), "Base");
  EXPECT_EQ(ValueToText(frame.Call(ObjectGetParentClassName, Held(NewInstance(base)), {})), "");
  EXPECT_EQ(frame.Call(ObjectIs, obj, {base->classValue()}).i, 1);
  EXPECT_EQ(frame.Call(ObjectIs, obj, {derived->classValue()}).i, 1);
  EXPECT_EQ(frame.Call(ObjectIs, Held(NewInstance(base)), {derived->classValue()}).i, 0);
  EXPECT_EQ(frame.Call(ObjectIs, obj, {IntValue(1)}).i, 0) << "not a class";
  auto* list = new TList;
  EXPECT_EQ(frame.Call(ObjectIs, obj, {NativeValue(list->Handle())}).i, 0) << "another kind";
  EXPECT_EQ(frame.Call(ObjectIs, IntValue(3), {base->classValue()}).i, 0) << "no object";

  int32_t id = frame.Call(ObjectHandle, self_, {obj}).i;
  EXPECT_EQ(static_cast<uint32_t>(id), ObjectId(ObjectPtr(obj)));
  EXPECT_EQ(frame.Call(ObjectHandle, self_, {IntValue(5)}).i, 0);
  EXPECT_EQ(frame.Call(ObjectRefCount, self_, {IntValue(id)}).i, ObjectPtr(obj)->refCount);
  EXPECT_EQ(ObjectFromId(static_cast<uint32_t>(id)), ObjectPtr(obj));
  // Only the address of a pool block is an identity: not a place inside one, not code, not
  // an address outside the heap.
  HeapAddr code = heap::Allocate(64);
  for (int64_t bad : {int64_t(0), int64_t(1), int64_t(id) + 4, int64_t(id) + 8, int64_t(code),
                      int64_t(INT_MAX), int64_t(-8), int64_t(heap::kScratchValueAddr)}) {
    const TValue& r = frame.Call(ObjectRefCount, self_, {IntValue(static_cast<int32_t>(bad))});
    EXPECT_EQ(r.kind, vtNull) << bad;
  }
  heap::Free(code, 64);

  EXPECT_EQ(frame.Call(ObjectTObject, self_, {IntValue(static_cast<int32_t>(list->Handle()))}).u,
            list->Handle());
  EXPECT_EQ(frame.Call(ObjectTObject, self_, {IntValue(123456789)}).kind, vtNull);
  NativeHandle stale = list->Handle();
  delete list;
  EXPECT_EQ(frame.Call(ObjectTObject, self_, {IntValue(static_cast<int32_t>(stale))}).kind, vtNull);
  EXPECT_EQ(frame.Call(ObjectErrorValue, self_, {}).kind, vtError);
}

TEST_F(ObjectNatives, PrintGoesToTheNoteAndTheSink) {
  std::vector<std::string> notes, printed;
  SetProgressNoteSink([&](std::string_view t) { notes.emplace_back(t); });
  SetPrintSink([&](const std::string& t) { printed.push_back(t); });
  const TValue& r = Call(ObjectPrint, {FloatValue(2.5f)});
  EXPECT_EQ(r.u, self_.u) << "no result";
  Call(ObjectPrint, {Str("hi")});
  SetPrintSink({});
  Call(ObjectPrint, {IntValue(3)});
  SetProgressNoteSink({});
  EXPECT_EQ(printed, (std::vector<std::string>{"2.5", "hi"}));
  EXPECT_EQ(notes, (std::vector<std::string>{"2.5", "hi", "3"}));
}

class ObjectResources : public ObjectNatives {
protected:
  void SetUp() override {
    ObjectNatives::SetUp();
    auto root = std::make_unique<TResourceList>();
    thing_ = MakeClass("Thing", {"v"});
    root->add(std::unique_ptr<TResource>(thing_));
    broken_ = MakeClass("Broken", {});
    broken_->compiled = false;
    root->add(std::unique_ptr<TResource>(broken_));
    auto gen = std::make_unique<TGenerator>();
    gen->name = "$hero";
    gen->instFields = {"x=10", "name=\"Bob\"", "y=1"};
    gen_ = static_cast<TGenerator*>(root->add(std::move(gen)));
    SetResourceRoot(std::move(root));
  }
  void TearDown() override {
    SetResourceRoot(nullptr);
    SetClassCompiler(nullptr);
    ObjectNatives::TearDown();
  }
  TRTTI* thing_ = nullptr;
  TRTTI* broken_ = nullptr;
  TGenerator* gen_ = nullptr;
};

TEST_F(ObjectResources, NewInstanceAndResourcesByPath) {
  const TValue& made = Call(ObjectNewInstance, {Str("Thing")});
  ASSERT_EQ(made.kind, vtObject);
  EXPECT_EQ(ObjectPtr(made)->cls, thing_->id);
  EXPECT_EQ(ObjectPtr(made)->refCount, 1) << "held by the result alone";
  EXPECT_EQ(ValueToText(Call(ObjectNewInstance, {Str("$hero")})), "0") << "not a class";
  EXPECT_EQ(ValueToText(Call(ObjectNewInstance, {Str("Nowhere")})), "0");

  EXPECT_EQ(ValueToText(Call(ObjectGetResource, {Str("nothing.here")})), "0");
  EXPECT_EQ(Call(ObjectGetResource, {Str("Thing")}).kind, vtNull)
      << "found; without snippets it has no script object yet";

  EXPECT_EQ(Call(ObjectInitResource, {Str("nothing.here")}).i, 1);
  SetClassCompiler([](TRTTI& cls) { cls.compileFailed = true; });
  EXPECT_EQ(Call(ObjectInitResource, {Str("Thing")}).i, 1) << "compiled already";
  EXPECT_EQ(Call(ObjectInitResource, {Str("Broken")}).i, 0) << "its initialisation failed";
}

TEST_F(ObjectResources, GeneratorFieldsAreReplacedAtTheEnd) {
  TValue gen = NativeValue(gen_->Handle());
  Call(ObjectSetGenAttr, {gen, Str("X"), IntValue(5)});
  EXPECT_EQ(gen_->instFields, (std::vector<std::string>{"name=\"Bob\"", "y=1", "X=5"}));
  Call(ObjectSetGenAttr, {gen, Str("name"), Str("Al")});
  EXPECT_EQ(gen_->instFields.back(), "name=\"Al\"");
  Call(ObjectSetGenAttr, {gen, Str("y"), UnsetValue(Intern("y"))});
  EXPECT_EQ(gen_->instFields, (std::vector<std::string>{"X=5", "name=\"Al\""}))
      << "an empty literal drops the line";
  Call(CharChangeAttr, {gen, Str("x"), Str("7")});
  EXPECT_EQ(gen_->instFields, (std::vector<std::string>{"name=\"Al\"", "x=7"}))
      << "_changeAttr takes the text as it is";

  std::vector<std::string> before = gen_->instFields;
  auto* list = new TList;
  for (TValue notGen : {IntValue(3), NativeValue(list->Handle()), thing_->classValue()}) {
    Call(ObjectSetGenAttr, {notGen, Str("x"), IntValue(1)});
    EXPECT_EQ(gen_->instFields, before);
    EXPECT_THROW(
        {
          try {
            Call(CharChangeAttr, {notGen, Str("x"), IntValue(1)});
          } catch (const EScriptError& e) {
            EXPECT_STREQ(e.what(), "invalid generator at chattr");
            throw;
          }
        },
        EScriptError);
  }
  delete list;
}

TEST_F(ObjectNatives, PageHashOfTheCurrentPageFile) {
  auto dir = std::filesystem::temp_directory_path() /
             ("brova_pagehash_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return (dir / name).string();
  };
  std::string page = write("page.cmml", "Brova page\r\n");
  std::string current = page;
  SetCurrentPageFileSource([&] { return current; });
  EXPECT_EQ(Call(ObjectGetPageHashCode, {}).i, 184322199);
  EXPECT_EQ(RandomState(), 627724138u) << "left at the state of the last step";
  EXPECT_EQ(PageHashCode(write("other.cmml", "Brova page\r\n")), 184322199);
  EXPECT_NE(PageHashCode(write("changed.cmml", "Brova Page\r\n")), 184322199);
  SetRandomState(99);
  for (const char* name : {"x.dll", "x.mid"}) {
    current = write(name, "Brova page\r\n");
    EXPECT_EQ(Call(ObjectGetPageHashCode, {}).i, 0) << name;
  }
  EXPECT_NE(PageHashCode(write("x.DLL", "Brova page\r\n")), 0) << "the extension is exact";
  current = (dir / "missing.cmml").string();
  SetRandomState(99);
  EXPECT_EQ(Call(ObjectGetPageHashCode, {}).i, 0);
  EXPECT_EQ(RandomState(), 99u);
  SetCurrentPageFileSource({});
  EXPECT_EQ(Call(ObjectGetPageHashCode, {}).i, 0);
  std::filesystem::remove_all(dir);
}

} // namespace
} // namespace brova
