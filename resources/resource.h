// The base of every resource of the resource tree: lists, global values, parameters,
// classes, generators, patterns, modules and custom resources.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/heap_cell.h"
#include "runtime/native_object.h"
#include "runtime/value.h"

namespace brova {

class TSGML;
class TResource;

// Counters of one pass of the tree-wide initialisation.
struct TInitContext {
  int pending = 0;
  int done = 0;
  int failed = 0;
};

// Walks the children of one list.
class TIterator {
public:
  virtual ~TIterator() = default;
  virtual bool hasNext() = 0;
  virtual TResource* next() = 0;
  // Removes and frees the child returned last; iteration goes on with the one after it.
  virtual void removeCurrent() = 0;
};

// A visitor of `accept`: called for every resource, lists before their children.
class TResourceIterator {
public:
  virtual ~TResourceIterator() = default;
  virtual void visit(TResource& resource) = 0;
};

// What the collector lends the tree while it marks and sweeps. Unset members do nothing.
struct TCollectorHooks {
  void (*markValue)(const TValue& v) = nullptr;
  void (*sweepObject)(TfObject* obj) = nullptr;
  bool checkMode = false;
};
TCollectorHooks& CollectorHooks();

class TResource : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::Resource;
  TResource();
  // Tells the script object (if any) onDestroy, releases it, and leaves the alias table.
  ~TResource() override;
  const char* NativeClassName() const override { return "TResource"; }

  std::string src;  // absolute path of the file the resource stands for; empty when none
  // The name within the parent list. Once attached, change it with rename() so that the
  // parent's name index follows.
  std::string name;
  TResource* parent = nullptr;
  // The script object that represents the resource to scripts; null until asked for.
  TValue& wrapper() const { return wrapper_.value(); }

  // Fills the resource from its markup element: `name`, and `src` joined with `baseDir`.
  // Kinds read their own attributes after calling this.
  virtual void readFrom(const TSGML& element, const std::string& baseDir);

  virtual std::unique_ptr<TIterator> iterator() { return nullptr; }
  // Takes the child; a resource that holds no children discards it and returns null.
  virtual TResource* add(std::unique_ptr<TResource> child) { return nullptr; }
  // Case-insensitive; the first child of that name.
  virtual TResource* findChild(std::string_view childName) const { return nullptr; }
  virtual TValue* valuePtr() { return nullptr; }
  // The wrapper, made on first demand by the script side (a snippet). Stays null until the
  // snippet evaluator is installed.
  virtual TValue& scriptObject();
  // The resource at a dotted path below this one, names compared ignoring case. From the
  // root, a single name also finds classes by short name and "$" globals (made on first use).
  TResource* resolve(std::string_view path);
  // Removes and frees the child.
  virtual void remove(TResource* child) {}
  // Repeats initPass until nothing is pending; raises "Initialization Failed" or
  // "Recursive Inheritance".
  bool initialize();
  virtual void initPass(TInitContext&) {}
  virtual void save(std::vector<std::string>& lines, const std::string& indent) {}
  // Forgets the wrapper object without releasing it (the collector reclaims it).
  virtual void releaseObjects();
  virtual void gcMark();
  virtual void gcSweep() {}
  virtual void listNames(std::vector<std::string>& lines, const std::string& path);
  virtual void accept(TResourceIterator& visitor) { visitor.visit(*this); }
  // A copy made by saving and reading back; it is not attached.
  std::unique_ptr<TResource> clone();

  void rename(std::string newName);
  // The dotted path from the root ("usr.gen.$player"); the bare name when unattached.
  std::string dottedPath() const;

private:
  THeapCell wrapper_;
};

// The parts of an element line as the tree writes it: tag, then ` name="escaped value"` for
// every attribute (empty values included), closed with "/>" or ">".
// True when `v` is an object whose block is still a live instance in its class's pool. A
// resource freed after the classes (at exit, or a page's globals) must not release a
// reference into a block that its class has already freed or handed out again.
bool IsLiveInstanceValue(const TValue& v);

using TAttrList = std::vector<std::pair<std::string, std::string>>;
std::string ElementLine(std::string_view tag, const TAttrList& attrs, bool selfClosed = true);

} // namespace brova
