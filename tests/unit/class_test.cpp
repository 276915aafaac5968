#include "runtime/rtti.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/errors.h"
#include "class_builder.h"

namespace brova {
namespace {

using testing::MakeClass;

TEST(Classes, OverrideKeepsTheInheritedIndex) {
  TRTTI* base = MakeClass("Base", {"a"});
  AddMethod(base, new TNormalFunction(base, "move"));
  AddMethod(base, new TNormalFunction(base, "draw"));
  TRTTI* sub = MakeClass("Sub", {"b"}, base);
  auto* over = new TNormalFunction(sub, "MOVE");
  AddOrOverrideMethod(sub, over);
  AddOrOverrideMethod(sub, new TNormalFunction(sub, "extra"));
  EXPECT_EQ(MethodByIndex(sub, 0), over);
  EXPECT_EQ(MethodIndexByName(sub, "extra"), 2);
  EXPECT_EQ(MethodByIndex(base, 0)->owner, base);
  EXPECT_EQ(MethodByIndex(sub, 0)->shareCount, 1);
  EXPECT_EQ(MethodByIndex(base, 1)->shareCount, 2);
  // fields: inherited first; lookups search from the last entry
  int32_t cache = 0;
  EXPECT_EQ(FieldIndex(sub, Intern("b"), cache), 1);
  EXPECT_EQ(cache, 1);
  EXPECT_EQ(FieldIndex(sub, Intern("nothing"), cache), -1);
  EXPECT_EQ(cache, -1);
  EXPECT_TRUE(IsSubclass(sub, base));
  EXPECT_FALSE(IsSubclass(base, sub));
  EXPECT_FALSE(IsSubclass(sub, nullptr));
}

TEST(Classes, LastConstructorWins) {
  TRTTI* cls = MakeClass("Twice", {});
  AddMethod(cls, new TConstructor(cls, "constructor"));
  auto* second = new TConstructor(cls, "constructor");
  AddMethod(cls, second);
  EXPECT_EQ(ConstructorOf(cls), second);
  EXPECT_EQ(DestructorOf(cls), nullptr);
  auto* destructor = new TDestructor(cls, "destructor");
  AddMethod(cls, destructor);
  EXPECT_EQ(DestructorOf(cls), destructor) << "a destructor added after a search is found";
}

int g_destructorRuns = 0;
void CountDestructor(TfObject*) { ++g_destructorRuns; }

TEST(Instances, PoolReusesFirstDeadBlockAndGrowsWhenAllLive) {
  TRTTI* cls = MakeClass("Pooled", {"x", "y"});
  AddMethod(cls, new TDestructor(cls, "destructor"));
  SetDestructorRunner(CountDestructor);
  HeapAddr a = NewInstance(cls), b = NewInstance(cls);
  ++HeapPtr<TfObject>(b)->refCount; // b live, a dead (count 0)
  EXPECT_EQ(a, b) << "a dead block is handed out again";
  HeapAddr c = NewInstance(cls);
  EXPECT_EQ(g_destructorRuns, 1) << "the dead block was destroyed before reuse";
  EXPECT_NE(c, b);
  ++HeapPtr<TfObject>(c)->refCount;
  HeapAddr d = NewInstance(cls);
  ++HeapPtr<TfObject>(d)->refCount;
  EXPECT_EQ(cls->pool.size(), 3u);
  HeapAddr e = NewInstance(cls); // three live: the pool grows
  EXPECT_EQ(cls->pool.size(), 4u);
  TfObject* obj = HeapPtr<TfObject>(e);
  EXPECT_EQ(ValueToText(obj->fields[1]), "Variabley");
  EXPECT_EQ(cls->instanceSize, 28);
  EXPECT_EQ(LiveInstances(cls).size(), 3u);
  SetDestructorRunner(nullptr);

  try {
    DestroyClassRecord(cls);
    FAIL();
  } catch (const EScriptError& err) {
    EXPECT_EQ(std::string(err.what()), ClassText(cls) + ": Object still remaining");
  }
  DestroyAllInstances(cls);
  EXPECT_TRUE(HasNoLiveInstances(cls));
  DestroyClassRecord(cls);
}

// A pool of many live blocks: creation must not search all of them (a million live strings
// made each new one scan a million blocks), and dead blocks must still be found and reused
// rather than the pool growing.
TEST(Instances, LargePoolsReuseDeadBlocksWithoutSearchingTheLiveOnes) {
  TRTTI* cls = MakeClass("Crowded", {"x"});
  constexpr size_t kLive = 200000;
  std::vector<HeapAddr> live;
  for (size_t i = 0; i < kLive; ++i) {
    live.push_back(NewInstance(cls));
    ++HeapPtr<TfObject>(live.back())->refCount;
  }
  auto refCount = [](HeapAddr b) -> int32_t& { return HeapPtr<TfObject>(b)->refCount; };
  struct Case {
    const char* what;
    size_t firstDead, deadStep, deadCount; // which held blocks die before the new ones come
    size_t maxGrowth;
  };
  const Case cases[] = {
      {"temporaries only", 0, 1, 0, 1},
      {"every other block", 0, 2, kLive / 2, 0},
      {"a run in the middle", kLive / 2, 1, 10000, kLive / 16},
      {"the last blocks", kLive - 5000, 1, 5000, kLive / 16},
  };
  for (const Case& c : cases) {
    size_t before = cls->pool.size();
    std::vector<size_t> died;
    for (size_t k = 0; k < c.deadCount; ++k) {
      size_t i = c.firstDead + k * c.deadStep;
      --refCount(live[i]);
      died.push_back(i);
    }
    // As many replacements as died, each made alongside a temporary that dies at once.
    for (size_t i : died) {
      NewInstance(cls);
      live[i] = NewInstance(cls);
      ++refCount(live[i]);
    }
    for (int k = 0; k < 100000; ++k) NewInstance(cls);
    EXPECT_LE(cls->pool.size(), before + c.maxGrowth) << c.what;
    size_t holding = 0;
    for (HeapAddr b : cls->pool) holding += refCount(b) > 0;
    EXPECT_EQ(holding, kLive) << c.what;
  }
  DestroyAllInstances(cls);
  DestroyClassRecord(cls);
}

TEST(Instances, UncompiledClassRefuses) {
  TRTTI* cls = MakeClass("NotYet", {});
  cls->compiled = false;
  EXPECT_THROW(NewInstance(cls), EScriptError);
  delete cls;
}

TEST(Instances, ResetForgetsLayoutAndMethods) {
  TRTTI* cls = MakeClass("Reset", {"f"});
  AddMethod(cls, new TNormalFunction(cls, "m"));
  NewInstance(cls);
  ResetClass(cls);
  EXPECT_FALSE(cls->compiled);
  EXPECT_TRUE(cls->fieldNames.empty());
  EXPECT_TRUE(cls->methods.empty());
  EXPECT_EQ(cls->instanceSize, -1);
  EXPECT_TRUE(cls->pool.empty());
  delete cls;
}

void NativeBodyForTest(TValue*, int32_t, int32_t) {}

TEST(Natives, BindFindsTheMethodOrSaysWhatIsMissing) {
  TRTTI* cls = MakeClass("Host", {});
  auto* nf = new TNativeFunction(cls, "_n_thing");
  AddMethod(cls, nf);
  BindNative(cls, "_n_thing", NativeBodyForTest);
  EXPECT_EQ(nf->callback, &NativeBodyForTest);
  ::testing::internal::CaptureStderr();
  BindNative(cls, "_n_missing", NativeBodyForTest);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "message: ClassHost: native function_n_missing is undefined.\n");
}

} // namespace
} // namespace brova
