#include "runtime/collector.h"

#include <gtest/gtest.h>

#include <set>

#include "natives/array_natives.h"
#include "natives/object_natives.h"
#include "natives/process_natives.h"
#include "resources/global_value.h"
#include "resources/resource_list.h"
#include "resources/resource_tree.h"
#include "runtime/statistics.h"
#include "native_frame.h"
#include "process_builder.h"

namespace brova {
namespace {

using testing::AddCode;
using testing::AddNative;
using testing::MakeClass;
using testing::TNativeFrame;

// A tree with three globals and the class Node (fields next and other), built by hand.
class Collector : public ::testing::Test {
protected:
  void SetUp() override {
    testing::ResetInterpreter();
    auto root = std::make_unique<TResourceList>();
    for (const char* name : {"$a", "$b", "$c"})
      globals_.push_back(static_cast<TGlobalValue*>(root->add(std::make_unique<TGlobalValue>(name))));
    root_ = root.get();
    SetResourceRoot(std::move(root));
    node_ = AddClass("Node", {"next", "other"});
  }
  void TearDown() override {
    SetRootProcessSource({});
    SetShowDebugWindow({});
    GCObjectList().clear();
    SetArrayClass(nullptr);
    SetResourceRoot(nullptr);
  }

  TRTTI* AddClass(const std::string& name, std::initializer_list<const char*> fields) {
    TRTTI* cls = MakeClass(name, fields);
    root_->add(std::unique_ptr<TResource>(cls));
    return cls;
  }
  // Held by the test until Drop, so that the next instance request does not reuse it.
  static TfObject* New(TRTTI* cls) {
    TfObject* obj = HeapPtr<TfObject>(NewInstance(cls));
    ++obj->refCount;
    return obj;
  }
  static void Drop(std::initializer_list<TfObject*> objs) {
    for (TfObject* o : objs) --o->refCount;
  }
  static void Link(TfObject* from, int field, TfObject* to) {
    SetObject(from->fields[field], HeapAddrOf(to));
  }
  void Hold(int global, TfObject* obj) { SetObject(globals_[global]->value(), HeapAddrOf(obj)); }

  // gc_mark: for (e in this) native_gc_mark(e);
  static void MarkElements(TRTTI* cls) {
    TNativeFunction* mark = AddNative(cls, "native_gc_mark", natives::ObjectGcMark);
    AddCode(cls, "gc_mark", 1, [&](TProgWriter& w) {
      w.Emit(Op_LocalValPtr, {0});
      w.Emit(Op_PushThis);
      w.Emit(Op_InitForIn);
      int32_t loop = w.EmitJump(Op_DoForIn);
      w.Emit(Op_PushThis);
      w.Emit(Op_LocalValPtr, {0});
      w.Emit(Op_Deref);
      w.Emit(Op_NativeCall, {1, mark->id});
      w.Emit(Op_Pop);
      int32_t back = w.EmitJump(Op_Jump);
      w.PatchJump(back, loop);
      w.PatchJump(loop, w.Pos());
      w.Emit(Op_ClearForIn);
      w.EmitPush(NullValue());
      w.Emit(Op_Ret);
    });
  }

  TResourceList* root_ = nullptr;
  std::vector<TGlobalValue*> globals_;
  TRTTI* node_ = nullptr;
  testing::MessageLog log_;
};

TEST_F(Collector, TheRealPassDestroysAGarbageCycle) {
  TfObject* a = New(node_);
  TfObject* b = New(node_);
  Link(a, 0, b);
  Link(b, 0, a);
  TfObject* kept = New(node_);
  TfObject* child = New(node_);
  Hold(0, kept);
  Link(kept, 1, child);
  Drop({a, b, kept, child});

  CollectGarbage(false);
  EXPECT_EQ(a->refCount, -1) << "free, and not driven below by its partner's release";
  EXPECT_EQ(b->refCount, -1);
  EXPECT_EQ(kept->refCount, 1);
  EXPECT_EQ(child->refCount, 1);
  for (TfObject* o : {a, b, kept, child}) EXPECT_EQ(o->markCount, 0);
  EXPECT_EQ((std::set<HeapAddr>{HeapAddrOf(New(node_)), HeapAddrOf(New(node_))}),
            (std::set<HeapAddr>{HeapAddrOf(a), HeapAddrOf(b)}))
      << "both blocks are handed out again";
  EXPECT_TRUE(log_.shown.empty());
}

TEST_F(Collector, AnElementOnlyInAListLivesThroughGcMark) {
  for (bool withGcMark : {true, false}) {
    SCOPED_TRACE(withGcMark ? "with gc_mark" : "without gc_mark");
    TRTTI* array = AddClass(withGcMark ? "Array" : "Bag", {"_x"});
    SetArrayClass(array);
    if (withGcMark) MarkElements(array);
    TfObject* holder = New(array);
    TfObject* element = New(node_);
    TValue v = ObjectValue(HeapAddrOf(element));
    AddRef(v);
    holder->fields[0] = NativeValue(natives::NewElementList({v}));
    Hold(0, holder);
    Drop({holder, element});
    int64_t processes = g_live.processes;
    CollectGarbage(false);
    EXPECT_EQ(holder->refCount, 1);
    EXPECT_EQ(element->refCount, withGcMark ? 1 : -1);
    EXPECT_EQ(g_live.processes, processes) << "the gc_mark processes were freed";
    SetNull(globals_[0]->value());
  }
}

// One default slice of gc_mark covers some twenty thousand elements; the rest must live too.
TEST_F(Collector, EveryElementOfAListLongerThanOneSliceLives) {
  TRTTI* array = AddClass("Array", {"_x"});
  SetArrayClass(array);
  MarkElements(array);
  TfObject* holder = New(array);
  std::vector<TValue> elements;
  for (int i = 0; i < 50000; ++i) {
    TValue v = ObjectValue(HeapAddrOf(New(node_)));
    elements.push_back(v); // New's reference becomes the list's
  }
  holder->fields[0] = NativeValue(natives::NewElementList(std::vector<TValue>(elements)));
  Hold(0, holder);
  Drop({holder});
  CollectGarbage(false);
  int destroyed = 0;
  for (const TValue& v : elements) destroyed += ObjectPtr(v)->refCount != 1;
  EXPECT_EQ(destroyed, 0);
  EXPECT_TRUE(log_.shown.empty());
  SetNull(globals_[0]->value());
}

// A gc_mark that never ends leaves unknown what it would have marked: nothing is destroyed.
TEST_F(Collector, AGcMarkThatNeverEndsAbandonsTheCollection) {
  TRTTI* spinner = AddClass("Spinner", {"held"});
  AddCode(spinner, "gc_mark", 0, [&](TProgWriter& w) {
    int32_t top = w.Pos();
    int32_t back = w.EmitJump(Op_Jump);
    w.PatchJump(back, top);
  });
  TfObject* holder = New(spinner);
  Hold(0, holder);
  TfObject* garbage = New(node_);
  Drop({holder, garbage});
  CollectGarbage(false);
  EXPECT_EQ(garbage->refCount, 0) << "unreached, but not swept";
  EXPECT_EQ(holder->refCount, 1);
  ASSERT_EQ(log_.shown.size(), 1u);
  EXPECT_EQ(log_.shown[0], "gc_mark of Spinner did not finish; the collection was abandoned.");
  log_.shown.clear();
  // The next collection, with the spinner gone, sweeps again.
  SetNull(globals_[0]->value());
  CollectGarbage(false);
  EXPECT_EQ(garbage->refCount, -1);
}

TEST_F(Collector, TheCheckingPassListsCountsTooLow) {
  TfObject* x = New(node_);
  for (int g = 0; g < 3; ++g) Hold(g, x);
  TfObject* right = New(node_);
  Link(x, 0, right);
  Drop({right});
  x->refCount = 1; // three references, one counted
  int shows = 0;
  SetShowDebugWindow([&] { ++shows; });
  CollectGarbage(true);
  EXPECT_EQ(GCObjectList(), std::vector<std::string>{ClassText(node_) + ":r=3,f=1," +
                                                     std::to_string(ObjectId(x))});
  EXPECT_EQ(shows, 1);
  EXPECT_EQ(x->refCount, 1) << "the checking pass destroys nothing";
  EXPECT_EQ(right->refCount, 1);
  EXPECT_EQ(x->markCount, 0);
  EXPECT_EQ(right->markCount, 0);
  x->refCount = 3;
}

TEST_F(Collector, GCButtonNeedsARootProcess) {
  TfObject* a = New(node_);
  TfObject* b = New(node_);
  Link(a, 0, b);
  Link(b, 0, a);
  Drop({a, b});
  GCObjectList() = {"old line"};
  GCButton();
  EXPECT_EQ(a->refCount, 1) << "no root process: nothing ran";
  EXPECT_EQ(GCObjectList(), std::vector<std::string>{"old line"});

  AddCode(node_, "idle", 0, [](TProgWriter& w) {
    w.EmitPush(NullValue());
    w.Emit(Op_Ret);
  });
  TfObject* booted = New(node_);
  TfObject* reached = New(node_);
  Link(booted, 1, reached);
  TProcess* root = CreateProcess(booted, "idle");
  Drop({booted, reached});
  SetRootProcessSource([&] { return root; });
  GCButton();
  EXPECT_TRUE(GCObjectList().empty());
  EXPECT_EQ(a->refCount, -1);
  EXPECT_EQ(booted->refCount, 1) << "held by the root process's stack";
  EXPECT_EQ(reached->refCount, 1);
  DestroyProcess(root);
}

TEST_F(Collector, ProcessesHeldByObjectsKeepTheirStacks) {
  AddCode(node_, "idle", 0, [](TProgWriter& w) {
    w.EmitPush(NullValue());
    w.Emit(Op_Ret);
  });
  TRTTI* process = AddClass("Process", {"_p"});
  TNativeFunction* mark = AddNative(process, "native_proc_mark", natives::ProcessMark);
  AddCode(process, "gc_mark", 0, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {0});
    w.Emit(Op_Deref);
    w.Emit(Op_NativeCall, {1, mark->id});
    w.Emit(Op_Ret);
  });
  TfObject* runner = New(node_);
  TProcess* p = CreateProcess(runner, "idle");
  TfObject* holder = New(process);
  holder->fields[0] = NativeValue(p->Handle());
  Hold(0, holder);
  Drop({runner, holder});
  CollectGarbage(false);
  EXPECT_EQ(runner->refCount, 1) << "marked through the holder's gc_mark";
  ReleaseStack(p);
  CollectGarbage(false);
  EXPECT_EQ(runner->refCount, -1) << "a released stack holds nothing";
  DestroyProcess(p);
}

std::vector<TfObject*> g_order;
void RecordVisit(TValue* result, int32_t, int32_t) { g_order.push_back(ObjectOf(*result)); }

TEST_F(Collector, MarkingVisitsDepthFirst) {
  // gc_mark: record(this); native_gc_mark(this.other);
  TNativeFunction* record = AddNative(node_, "record", RecordVisit);
  TNativeFunction* mark = AddNative(node_, "native_gc_mark", natives::ObjectGcMark);
  AddCode(node_, "gc_mark", 0, [&](TProgWriter& w) {
    w.Emit(Op_PushThis);
    w.Emit(Op_NativeCall, {0, record->id});
    w.Emit(Op_Pop);
    w.Emit(Op_PushThis);
    w.Emit(Op_PushThis);
    w.Emit(Op_SMemberValPtr, {1});
    w.Emit(Op_Deref);
    w.Emit(Op_NativeCall, {1, mark->id});
    w.Emit(Op_Ret);
  });
  TfObject* a = New(node_);
  TfObject* b = New(node_);
  TfObject* c = New(node_);
  TfObject* d = New(node_);
  Link(a, 0, b);
  Link(a, 1, c);
  Link(b, 0, d);
  Hold(0, a);
  Drop({a, b, c, d});
  g_order.clear();
  CollectGarbage(false);
  EXPECT_EQ(g_order, (std::vector<TfObject*>{a, c, b, d}))
      << "what gc_mark marks comes before the fields, each subtree before the next";
  for (TfObject* o : {a, b, c, d}) {
    EXPECT_EQ(o->refCount, 1);
    EXPECT_EQ(o->markCount, 0);
  }

  TNativeFrame frame;
  frame.Call(natives::ObjectGcMark, NullValue(), {ObjectValue(HeapAddrOf(a))});
  EXPECT_EQ(a->markCount, 0) << "no mark outside a collection";
}

TEST_F(Collector, AMillionLongChainNeedsNoDeepStack) {
  constexpr int kLength = 1000000;
  TRTTI* link = AddClass("Link", {"next"});
  FixLayout(link);
  // Blocks laid into the pool by hand: a million instance requests would search the pool
  // a million times.
  auto chain = [&] {
    std::vector<TfObject*> objs;
    objs.reserve(kLength);
    for (int i = 0; i < kLength; ++i) {
      HeapAddr b = heap::Allocate(static_cast<uint32_t>(link->instanceSize));
      link->pool.push_back(b);
      TfObject* o = HeapPtr<TfObject>(b);
      o->cls = link->id;
      o->refCount = i == 0 ? 0 : 1;
      if (i > 0) objs.back()->fields[0] = ObjectValue(b);
      objs.push_back(o);
    }
    return objs;
  };
  std::vector<TfObject*> held = chain();
  std::vector<TfObject*> lost = chain();
  Hold(0, held.front());
  CollectGarbage(true);
  EXPECT_TRUE(GCObjectList().empty());
  CollectGarbage(false);
  EXPECT_EQ(held.back()->refCount, 1);
  EXPECT_EQ(held.back()->markCount, 0);
  EXPECT_EQ(lost.front()->refCount, -1);
  EXPECT_EQ(lost.back()->refCount, -1);
}

TEST(StatisticsLine, CountersInTheirPlaces) {
  LiveCounters saved = g_live;
  g_live = LiveCounters();
  EXPECT_EQ(StatisticsLine(), "// GC=0 gar=0 resgar=0 stk=0 prc=0list=0/0// tfstr=0 func=0");
  g_live = LiveCounters{1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(StatisticsLine(), "// GC=1 gar=2 resgar=3 stk=4 prc=5list=6/7// tfstr=8 func=9");
  g_live = saved;
}

} // namespace
} // namespace brova
