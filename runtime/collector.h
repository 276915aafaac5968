// The mark-and-sweep collector behind the debug window's "GC" button, and the statistics
// line of live counters. Reference counting reclaims most objects; this pass finds what it
// cannot (garbage cycles, counts too high) and, in its checking pass, counts too low.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "runtime/value.h"

namespace brova {

class TProcess;

// True during the checking pass (the collector hooks' flag of the resource tree).
extern bool& checkMode;

// Marking only counts while a collection runs; outside one these do nothing, since a mark
// left behind would make the next collection skip that object's fields.
void MarkValue(const TValue& v);
// Counts one more reference; at the first visit runs the class's "gc_mark" method and
// visits the fields in index order. Follows a work list, so graph depth is unbounded.
void MarkObject(TfObject* obj);
// Every value the process holds, in the order ReleaseStack releases them.
void MarkProcess(TProcess* p);
// Checking pass: lists an object whose count is below the references found. Real pass: an
// unmarked object is destroyed once the sweep of the whole tree is over.
void SweepObject(TfObject* obj);
// One pass over the resource tree and the root process.
void CollectGarbage(bool check);
// Without a root process nothing; otherwise clears the object list and runs the checking
// pass, then the real one.
void GCButton();

// Where the collector finds the root process (the page's Boot process); none while unset.
void SetRootProcessSource(std::function<TProcess*()> source);
// The debug window's object list: one line per object listed by a checking pass.
std::vector<std::string>& GCObjectList();
// Shows the debug window when a checking pass lists an object.
void SetShowDebugWindow(std::function<void()> show);

// "// GC=… gar=… resgar=… stk=… prc=…list=…/…// tfstr=… func=…" from the live counters.
std::string StatisticsLine();

} // namespace brova
