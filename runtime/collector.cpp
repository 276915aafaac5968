#include "runtime/collector.h"

#include <algorithm>
#include <exception>

#include "platform/message_sink.h"
#include "resources/resource.h"
#include "resources/resource_tree.h"
#include "runtime/process.h"
#include "runtime/rtti.h"
#include "runtime/statistics.h"

namespace brova {

bool& checkMode = CollectorHooks().checkMode;

namespace {

// A garbage object waiting for its destruction holds this many extra references, so that
// releases from other garbage never bring it to 0 or below and no instance request reuses
// its block before the sweep is over.
constexpr int32_t kPinned = 1 << 29;
// A destroyed garbage block until every garbage object is gone: releases from the ones
// destroyed after it only move it further down, never onto the free marker -1.
constexpr int32_t kDestroyed = INT32_MIN / 2;
// A gc_mark runs slice after slice until it finishes: one default slice marks only some twenty
// thousand elements of an array, and the rest would be destroyed while still in use. A gc_mark
// still running after this many slices (a loop that never ends) abandons the collection.
constexpr int kMaxGcMarkSlices = 1000;

struct TCollector {
  bool collecting = false;
  bool draining = false;
  std::vector<TValue> work;             // objects still to visit; the top is next
  std::vector<TValue>* deferred = nullptr; // what a running gc_mark process marks
  std::vector<HeapAddr> marked;         // every object visited, to clear its count
  std::vector<HeapAddr> garbage;        // unmarked objects of the real pass
  std::function<TProcess*()> rootSource;
  std::function<void()> showDebugWindow;
  std::vector<std::string> objectList;
  std::string unfinishedMark; // the class whose gc_mark did not finish: nothing is swept
};

TCollector& Gc() {
  static TCollector gc;
  return gc;
}

void RunGcMark(TfObject* obj, TRTTI* cls) {
  int32_t cache = -1;
  TFunction* fn = MethodBySym(cls, kSymGcMark, cache);
  if (!fn || fn->IsNative()) return;
  int32_t allowance = stepAllowance;
  TProcess* p = nullptr;
  try {
    p = CreateProcess(obj, SymbolName(kSymGcMark));
  } catch (const std::exception& e) {
    platform::ShowMessage(e.what());
    return;
  }
  for (int slice = 0; slice < kMaxGcMarkSlices && !IsFinished(p) && !p->released; ++slice)
    Run(p, kDefaultSteps);
  if (!IsFinished(p) && !p->released && Gc().unfinishedMark.empty())
    Gc().unfinishedMark = cls->name;
  DestroyProcess(p);
  stepAllowance = allowance;
}

// Visits in the order of a depth-first walk: an object, then what its gc_mark marked (in
// call order), then its fields in index order, each fully before the next.
void Drain() {
  TCollector& gc = Gc();
  gc.draining = true;
  while (!gc.work.empty()) {
    TfObject* obj = ObjectPtr(gc.work.back());
    gc.work.pop_back();
    if (obj->markCount > 0) {
      ++obj->markCount;
      continue;
    }
    obj->markCount = 1;
    gc.marked.push_back(HeapAddrOf(obj));
    TRTTI* cls = ClassOf(obj);
    // A free block's fields are stale: they hold no references to follow.
    if (!cls || obj->refCount < 0) continue;
    std::vector<TValue> found;
    gc.deferred = &found;
    RunGcMark(obj, cls);
    gc.deferred = nullptr;
    // A class may have gained field names after this block was laid out.
    size_t fields = cls->fieldNames.size();
    if (cls->instanceSize >= 12)
      fields = std::min(fields, static_cast<size_t>(cls->instanceSize - 12) / 8);
    for (size_t i = fields; i-- > 0;)
      if (obj->fields[i].kind == vtObject) gc.work.push_back(obj->fields[i]);
    for (auto it = found.rbegin(); it != found.rend(); ++it) gc.work.push_back(*it);
  }
  gc.draining = false;
}

void DestroyGarbage() {
  std::vector<HeapAddr> garbage;
  garbage.swap(Gc().garbage);
  for (HeapAddr b : garbage) {
    TfObject* obj = HeapPtr<TfObject>(b);
    DestroyInstance(obj);
    obj->refCount = kDestroyed;
  }
  for (HeapAddr b : garbage) HeapPtr<TfObject>(b)->refCount = -1;
}

} // namespace

void MarkValue(const TValue& v) {
  if (v.kind == vtObject) MarkObject(ObjectPtr(v));
}

void MarkObject(TfObject* obj) {
  TCollector& gc = Gc();
  if (!gc.collecting || !obj) return;
  TValue v = ObjectValue(HeapAddrOf(obj));
  if (gc.deferred) {
    gc.deferred->push_back(v);
    return;
  }
  gc.work.push_back(v);
  if (!gc.draining) Drain();
}

void MarkProcess(TProcess* p) {
  if (!p || p->released) return;
  WalkStack(p, [](TValue& v) { MarkValue(v); });
}

void SweepObject(TfObject* obj) {
  TCollector& gc = Gc();
  if (checkMode) {
    if (obj->refCount < obj->markCount - 1) {
      if (gc.showDebugWindow) gc.showDebugWindow();
      const TRTTI* cls = ClassOf(obj);
      gc.objectList.push_back((cls ? ClassText(cls) : std::string()) +
                              ":r=" + std::to_string(obj->markCount - 1) +
                              ",f=" + std::to_string(obj->refCount) + "," +
                              std::to_string(ObjectId(obj)));
    }
  } else if (obj->markCount == 0 && obj->refCount >= 0 && obj->refCount < kPinned) {
    if (gc.collecting) {
      obj->refCount += kPinned;
      gc.garbage.push_back(HeapAddrOf(obj));
    } else {
      DestroyInstance(obj);
    }
  }
  obj->markCount = 0;
}

void CollectGarbage(bool check) {
  TCollector& gc = Gc();
  if (gc.collecting) return;
  TCollectorHooks& hooks = CollectorHooks();
  hooks.markValue = MarkValue;
  hooks.sweepObject = SweepObject;
  checkMode = check;
  gc.collecting = true;
  // Also when a pass fails: no count may stay marked and no garbage pinned.
  auto finish = [&gc] {
    gc.work.clear();
    gc.deferred = nullptr;
    gc.draining = false;
    // Objects of classes outside the tree are never swept; their counts must still go
    // back to 0 for the next collection.
    for (HeapAddr b : gc.marked) HeapPtr<TfObject>(b)->markCount = 0;
    gc.marked.clear();
    gc.collecting = false;
    gc.unfinishedMark.clear();
    checkMode = false;
    DestroyGarbage();
  };
  try {
    TResource* root = ResourceRoot();
    if (root) root->gcMark();
    MarkProcess(gc.rootSource ? gc.rootSource() : nullptr);
    // What an unfinished gc_mark did not reach may still be in use: sweep nothing.
    if (!gc.unfinishedMark.empty()) {
      std::string cls;
      cls.swap(gc.unfinishedMark);
      platform::ShowMessage("gc_mark of " + cls + " did not finish; the collection was abandoned.");
    } else if (root) {
      root->gcSweep();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void GCButton() {
  TCollector& gc = Gc();
  if (!gc.rootSource || !gc.rootSource()) return;
  gc.objectList.clear();
  CollectGarbage(true);
  CollectGarbage(false);
}

void SetRootProcessSource(std::function<TProcess*()> source) {
  Gc().rootSource = std::move(source);
}

std::vector<std::string>& GCObjectList() { return Gc().objectList; }

void SetShowDebugWindow(std::function<void()> show) { Gc().showDebugWindow = std::move(show); }

std::string StatisticsLine() {
  const LiveCounters& c = g_live;
  return "// GC=" + std::to_string(c.countedBlocks) + " gar=" + std::to_string(c.tokens) +
         " resgar=" + std::to_string(c.syntaxNodes) + " stk=" + std::to_string(c.stacks) +
         " prc=" + std::to_string(c.processes) + "list=" + std::to_string(c.listElements) +
         "/" + std::to_string(c.valueCells) + "// tfstr=" + std::to_string(c.strings) +
         " func=" + std::to_string(c.functions);
}

} // namespace brova
