// A custom resource: a tag T for which the script class classes.customres.T exists (the
// project's `page` entries among them). Its script instance, an object of the class found by
// the short name T, is its wrapper; the instance's `_generator` points back to the resource.
// The instance's string fields are stored as `resinst` children.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"
#include "runtime/value.h"

namespace brova {

class TCustomResource : public TResource {
public:
  const char* NativeClassName() const override { return "TCustomResource"; }

  std::string tag;
  // The string fields as name and text, in the order they are written: as read, and
  // refreshed from the instance whenever the resource is saved.
  std::vector<std::pair<std::string, std::string>> fields;

  // Reads `name`, `src` and every `resinst` of type "string", then makes the instance
  // (without running a constructor) when the class of the tag is compiled, and sets the
  // stored fields on it. A Ranking element of an older version (a `browserURL`) says so and
  // gets no instance.
  void readFrom(const TSGML& element, const std::string& baseDir) override;
  // Runs the instance's onInit through a snippet: 0 or 1 pending, 2 done, 3 failed; a
  // snippet that does not run to its end fails too. Without an instance nothing counts.
  void initPass(TInitContext& ctx) override;
  // One entry without indentation: the element named after the instance's class with
  // `name`, `src` and one `resinst` per string field; without an instance, as it was read.
  void save(std::vector<std::string>& lines, const std::string& indent) override;

  // The script instance, or null.
  TfObject* instance() const { return ObjectOf(wrapper()); }
};

} // namespace brova
