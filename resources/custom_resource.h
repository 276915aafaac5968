// A custom resource: any tag T for which the script class classes.customres.T exists (the
// project's `page` entries among them). It keeps its tag and its stored string fields (the
// `resinst` children); the script instance behind it is made by the custom-resource natives,
// installed as hooks.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource.h"

namespace brova {

class TCustomResource : public TResource {
public:
  const char* NativeClassName() const override { return "TCustomResource"; }

  std::string tag;
  // The string fields as name and text, in the order they are written.
  std::vector<std::pair<std::string, std::string>> fields;

  // Reads `name`, `src` and every `resinst` of type "string", then runs the `made` hook.
  void readFrom(const TSGML& element, const std::string& baseDir) override;
  // Runs the installed hook; without one a custom resource counts nothing.
  void initPass(TInitContext& ctx) override;
  // One entry without indentation: the element with `name`, `src` and one `resinst` child
  // per field, in the markup writer's form.
  void save(std::vector<std::string>& lines, const std::string& indent) override;
};

struct TCustomResourceHooks {
  // After reading: make the script instance from the element.
  std::function<void(TCustomResource&, const TSGML&)> made;
  std::function<void(TCustomResource&, TInitContext&)> initPass;
  // Before writing: refresh `tag` and `fields` from the script instance.
  std::function<void(TCustomResource&)> beforeSave;
};
void SetCustomResourceHooks(TCustomResourceHooks hooks);

} // namespace brova
