// The base of every resource of the resource tree: lists, global values, parameters,
// classes, generators, patterns, modules and custom resources.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "runtime/heap_cell.h"
#include "runtime/native_object.h"
#include "runtime/value.h"

namespace brova {

// Counters of one pass of the tree-wide initialisation.
struct TInitContext {
  int pending = 0;
  int done = 0;
  int failed = 0;
};

class TResource : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::Resource;
  TResource();
  ~TResource() override;
  const char* NativeClassName() const override { return "TResource"; }

  std::string src;  // absolute path of the file the resource stands for; empty when none
  std::string name; // the name within the parent list
  TResource* parent = nullptr;
  // The script object that represents the resource to scripts; null until asked for.
  TValue& wrapper() const { return wrapper_.value(); }

  virtual TValue* valuePtr() { return nullptr; }
  virtual void initPass(TInitContext&) {}
  virtual void save(std::vector<std::string>& lines, const std::string& indent) {}
  // Forgets the wrapper object without releasing it (the collector reclaims it).
  virtual void releaseObjects();

private:
  THeapCell wrapper_;
};

} // namespace brova
