// A parameter (tag `param`): a name and a stored text, such as a project parameter.
#pragma once
#include <string>

#include "resources/resource.h"

namespace brova {

class TfParam : public TResource {
public:
  const char* NativeClassName() const override { return "TfParam"; }

  std::string text; // the `value` attribute

  void readFrom(const TSGML& element, const std::string& baseDir) override;
  void save(std::vector<std::string>& lines, const std::string& indent) override;
};

} // namespace brova
