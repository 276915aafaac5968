// An object generator (tag `generator`): the class, the global that holds the object, and
// the literals of its constructor arguments (`const_*`) and fields (`inst_*`). Making the
// object is page construction's work, installed as the initialisation hook.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace brova {

class TGenerator : public TResource {
public:
  enum State : int { kNewOrDone = 0, kCreated = 1, kClassMissing = 2, kFailed = 3 };

  const char* NativeClassName() const override { return "TGenerator"; }

  int state = kNewOrDone;
  std::string className;
  std::vector<std::string> constArgs;  // "argument=literal", in attribute order
  std::vector<std::string> instFields; // "field=literal", in attribute order

  void readFrom(const TSGML& element, const std::string& baseDir) override;
  // Runs the installed hook; without one a generator counts nothing.
  void initPass(TInitContext& ctx) override;
  // Lets the object refresh its generator ("onSaveToGen"), then writes one line without
  // indentation.
  void save(std::vector<std::string>& lines, const std::string& indent) override;
};

using GeneratorInitPass = std::function<void(TGenerator&, TInitContext&)>;
void SetGeneratorInitPass(GeneratorInitPass hook);

} // namespace brova
