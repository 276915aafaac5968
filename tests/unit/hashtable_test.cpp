#include "natives/hashtable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "natives/hashtable_natives.h"
#include "class_builder.h"
#include "native_frame.h"

namespace brova {
namespace {

using namespace natives;
using testing::Held;
using testing::StringClassForTests;
using testing::TNativeFrame;

TValue Str(const char* text) {
  StringClassForTests();
  return Held(MakeString(text));
}

class HashTables : public ::testing::Test {
protected:
  TValue NewTable(NativeBody init) {
    TValue t = frame.Call(init, NullValue(), {});
    EXPECT_EQ(t.kind, vtNative);
    return t;
  }
  void Put(const TValue& t, const TValue& k, const TValue& v) {
    frame.Call(HashTablePut, NullValue(), {t, k, v});
  }
  TValue Get(const TValue& t, const TValue& k) {
    return frame.Call(HashTableGet, NullValue(), {t, k});
  }
  int32_t Size(const TValue& t) { return frame.Call(HashTableSize, NullValue(), {t}).i; }
  std::vector<std::string> Keys(const TValue& t) {
    std::vector<std::string> keys;
    frame.Call(HashTableStartFind, NullValue(), {t});
    while (frame.Call(HashTableHasNext, NullValue(), {t}).i == 1)
      keys.push_back(ValueToText(frame.Call(HashTableNextKey, NullValue(), {t})));
    return keys;
  }

  TNativeFrame frame;
};

TEST_F(HashTables, ValueTableMatchesEqualNumbersAndEqualTexts) {
  TValue t = NewTable(HashTableInit);
  // An integral float is the same key as its integer, whichever was stored first.
  for (int32_t i : {0, 1, -1, 7, 1 << 24, -2147483647 - 1}) {
    Put(t, IntValue(i), IntValue(100));
    EXPECT_EQ(Get(t, FloatValue(static_cast<float>(i))).i, 100) << i;
  }
  for (float f : {0.5f, -1.5f, 7.25f}) {
    Put(t, FloatValue(f), IntValue(200));
    EXPECT_EQ(Get(t, FloatValue(f)).i, 200) << f;
  }
  Put(t, FloatValue(-0.0f), IntValue(300));
  EXPECT_EQ(Get(t, IntValue(0)).i, 300);
  Put(t, FloatValue(7.0f), IntValue(400));
  EXPECT_EQ(Get(t, IntValue(7)).i, 400);
  EXPECT_EQ(Size(t), 9);

  Put(t, Str("abc"), IntValue(1));
  Put(t, Str("abc"), IntValue(2));
  EXPECT_EQ(Get(t, Str("abc")).i, 2);
  EXPECT_EQ(Get(t, Str("abd")).kind, vtNull);
  EXPECT_EQ(Size(t), 10);
}

TEST_F(HashTables, IdentityTableKeepsKindsAndObjectsApart) {
  TValue t = NewTable(LightHashTableInit);
  TValue a = Str("abc"), b = Str("abc");
  Put(t, IntValue(1), IntValue(10));
  Put(t, FloatValue(1.0f), IntValue(20));
  Put(t, a, IntValue(30));
  Put(t, b, IntValue(40));
  EXPECT_EQ(Size(t), 4);
  EXPECT_EQ(Get(t, IntValue(1)).i, 10);
  EXPECT_EQ(Get(t, FloatValue(1.0f)).i, 20);
  EXPECT_EQ(Get(t, a).i, 30);
  EXPECT_EQ(Get(t, b).i, 40);
  EXPECT_EQ(Get(t, Str("abc")).kind, vtNull);
}

TEST_F(HashTables, ReplacingAKeyKeepsItsPlaceAndTakesTheNewKey) {
  TValue t = NewTable(HashTableInit);
  auto* table = NativeOfKind<TAbstractHashtable>(t);
  // Three integer keys of one bucket, so the order within the bucket shows.
  std::vector<int32_t> same;
  for (int32_t k = 1; same.size() < 3; ++k)
    if (table->BucketOf(IntValue(k)) == table->BucketOf(IntValue(1))) same.push_back(k);
  for (int32_t k : same) Put(t, IntValue(k), IntValue(k));
  Put(t, FloatValue(static_cast<float>(same[0])), IntValue(-1));
  std::vector<std::string> keys = Keys(t);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], ValueToText(FloatValue(static_cast<float>(same[0]))));
  EXPECT_EQ(keys[1], std::to_string(same[1]));
  EXPECT_EQ(Get(t, IntValue(same[0])).i, -1);
}

TEST_F(HashTables, EmptyTableAndWalkOverEveryBucket) {
  TValue t = NewTable(HashTableInit);
  EXPECT_EQ(Size(t), 0);
  EXPECT_TRUE(Keys(t).empty());
  EXPECT_EQ(frame.Call(HashTableNextKey, IntValue(5), {t}).kind, vtNull);
  EXPECT_EQ(frame.Call(HashTableRemove, IntValue(5), {t, IntValue(1)}).kind, vtNull);

  for (int32_t k = 0; k < 200; ++k) Put(t, IntValue(k), IntValue(k));
  std::vector<std::string> keys = Keys(t);
  EXPECT_EQ(keys.size(), 200u);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(std::unique(keys.begin(), keys.end()), keys.end());
  EXPECT_EQ(frame.Call(HashTableRemove, NullValue(), {t, IntValue(42)}).i, 42);
  EXPECT_EQ(Size(t), 199);
  EXPECT_EQ(Get(t, IntValue(42)).kind, vtNull);
}

TEST_F(HashTables, CellsHoldTheirOwnReferencesUntilRemovedOrDestroyed) {
  TValue t = NewTable(HashTableInit);
  TValue key = Str("k"), value = Str("v"), other = Str("o");
  Put(t, key, value);
  Put(t, other, other);
  EXPECT_EQ(ObjectPtr(key)->refCount, 2);
  EXPECT_EQ(ObjectPtr(value)->refCount, 2);
  EXPECT_EQ(ObjectPtr(other)->refCount, 3);
  {
    TNativeFrame f;
    EXPECT_EQ(f.Call(HashTableRemove, NullValue(), {t, Str("k")}).u, value.u);
    EXPECT_EQ(ObjectPtr(key)->refCount, 1);
    EXPECT_EQ(ObjectPtr(value)->refCount, 2) << "the removed value is the call's value";
  }
  EXPECT_EQ(ObjectPtr(value)->refCount, 1);

  size_t live = LiveNativeObjects();
  frame.Call(HashTableDestroy, NullValue(), {t});
  EXPECT_EQ(ObjectPtr(other)->refCount, 1);
  EXPECT_EQ(LiveNativeObjects(), live - 1);
  // The handle is stale now: every body leaves the receiver as the value.
  for (NativeBody body : {HashTableSize, HashTableHasNext, HashTableNextKey, HashTableDestroy,
                          HashTableStartFind})
    EXPECT_EQ(frame.Call(body, IntValue(9), {t}).i, 9);
  EXPECT_EQ(frame.Call(HashTableGet, IntValue(9), {t, other}).i, 9);
  frame.Call(HashTablePut, IntValue(9), {t, other, other});
  EXPECT_EQ(ObjectPtr(other)->refCount, 1);
}

// The plain 32-bucket table: every bucket scanned in insertion order, the walk a bucket and a
// position within it. The indexed table must give the same answers, walk included.
class ScanTable {
public:
  explicit ScanTable(const TAbstractHashtable& t) : t_(t) {}
  int Find(int b, const TValue& key) const {
    for (size_t i = 0; i < buckets_[b].size(); ++i)
      if (t_.SameKey(buckets_[b][i].key, key)) return static_cast<int>(i);
    return -1;
  }
  const TValue* Get(const TValue& key) const {
    int b = t_.BucketOf(key), i = Find(b, key);
    return i < 0 ? nullptr : &buckets_[b][i].value;
  }
  void Put(const TValue& key, const TValue& value) {
    int b = t_.BucketOf(key), i = Find(b, key);
    if (i < 0) buckets_[b].push_back({key, value});
    else buckets_[b][i] = {key, value};
  }
  bool Remove(const TValue& key) {
    int b = t_.BucketOf(key), i = Find(b, key);
    if (i >= 0) buckets_[b].erase(buckets_[b].begin() + i);
    return i >= 0;
  }
  size_t Size() const {
    size_t n = 0;
    for (const auto& b : buckets_) n += b.size();
    return n;
  }
  void StartWalk() {
    wb_ = 0;
    wp_ = -1;
    Advance();
  }
  bool Stands() const { return wb_ < 32 && wp_ < static_cast<int>(buckets_[wb_].size()); }
  TValue Next() {
    TValue k = Stands() ? buckets_[wb_][wp_].key : NullValue();
    Advance();
    return k;
  }

private:
  void Advance() {
    ++wp_;
    while (wb_ < 32 && wp_ >= static_cast<int>(buckets_[wb_].size())) ++wb_, wp_ = 0;
  }
  const TAbstractHashtable& t_;
  std::array<std::vector<TAbstractHashtable::Entry>, 32> buckets_;
  int wb_ = 0, wp_ = 0;
};

bool Identical(const TValue& a, const TValue& b) { return a.kind == b.kind && a.u == b.u; }

TEST_F(HashTables, IndexedTablesAnswerAsABucketScanDoes) {
  // Keys that meet across kinds (1 and 1.0, the text "1" stored before the integer 1, null and
  // unset), keys that never meet (NaN), floats that several integers convert to, and enough
  // integers to grow the index and leave gaps that get compacted.
  std::vector<TValue> keys = {NullValue(), UnsetValue(Intern("hashKeyField")),
                              FloatValue(std::numeric_limits<float>::quiet_NaN()),
                              FloatValue(std::numeric_limits<float>::infinity()),
                              FloatValue(-0.0f), FloatValue(0.5f), FloatValue(16777216.0f),
                              IntValue(16777216), IntValue(16777217), IntValue(INT32_MAX),
                              FloatValue(2147483648.0f), IntValue(INT32_MIN)};
  for (const char* text : {"1", "1", "abc", "abc", "null", "", "0.5", "2"})
    keys.push_back(Str(text));
  for (int32_t i = 0; i < 1500; ++i) {
    keys.push_back(IntValue(i));
    if (i % 5 == 0) keys.push_back(FloatValue(static_cast<float>(i)));
  }
  // Scattered integers share home cells, so chains form, break and move.
  std::mt19937 scatter(11);
  for (int i = 0; i < 600; ++i) keys.push_back(IntValue(static_cast<int32_t>(scatter())));
  for (bool byValue : {true, false}) {
    std::unique_ptr<TAbstractHashtable> table;
    if (byValue) table = std::make_unique<THashtable>();
    else table = std::make_unique<TLightHashtable>();
    ScanTable scan(*table);
    int inPlace = 0, declined = 0;
    std::mt19937 rng(7);
    auto anyKey = [&] { return keys[rng() % keys.size()]; };
    for (int phase = 0; phase < 3; ++phase) {
      int removeShare = phase == 1 ? 50 : 20; // the middle phase empties most of the table
      for (int step = 0; step < 30000; ++step) {
        int op = static_cast<int>(rng() % 100);
        TValue k = anyKey();
        if (op < removeShare) {
          TValue out = NullValue();
          ASSERT_EQ(table->Remove(k, out), scan.Remove(k)) << step;
        } else if (op < removeShare + 30) {
          // Every other put tries the form without allocation first, which either does what
          // Put does or leaves the table as it was.
          TValue v = IntValue(step);
          if (step % 2 != 0 && table->PutInPlace(k, v)) {
            ++inPlace;
          } else {
            declined += step % 2;
            table->Put(k, v);
          }
          scan.Put(k, v);
        } else if (op < 97) {
          const TValue* want = scan.Get(k);
          TAbstractHashtable::Entry* got = table->Find(k);
          ASSERT_EQ(got != nullptr, want != nullptr) << ValueToText(k) << " step " << step;
          if (got) {
            ASSERT_TRUE(Identical(got->value, *want)) << ValueToText(k);
          }
        } else if (op < 98) {
          table->StartWalk();
          scan.StartWalk();
        } else {
          ASSERT_EQ(table->WalkStandsOnEntry(), scan.Stands()) << step;
          ASSERT_TRUE(Identical(table->NextKey(), scan.Next())) << step;
        }
        ASSERT_EQ(static_cast<size_t>(table->Size()), scan.Size());
      }
      table->StartWalk();
      scan.StartWalk();
      while (scan.Stands()) {
        ASSERT_TRUE(table->WalkStandsOnEntry());
        ASSERT_TRUE(Identical(table->NextKey(), scan.Next()));
      }
      EXPECT_FALSE(table->WalkStandsOnEntry());
    }
    EXPECT_GT(inPlace, 1000);
    EXPECT_GT(declined, 100);
    table->ReleaseAll();
  }
}

TEST_F(HashTables, TooFewArgumentsOrAForeignHandleDoNothing) {
  TValue t = NewTable(HashTableInit);
  EXPECT_EQ(frame.Call(HashTablePut, IntValue(9), {t, IntValue(1)}).i, 9);
  EXPECT_EQ(Size(t), 0);
  EXPECT_EQ(frame.Call(HashTableGet, IntValue(9), {t}).i, 9);
  EXPECT_EQ(frame.Call(HashTableSize, IntValue(9), {}).i, 9);
  TfString text("x");
  EXPECT_EQ(frame.Call(HashTableSize, IntValue(9), {NativeValue(text.Handle())}).i, 9);
  EXPECT_EQ(frame.Call(HashTableSize, IntValue(9), {IntValue(static_cast<int32_t>(t.u))}).i, 9);
}

} // namespace
} // namespace brova
