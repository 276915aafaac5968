// A native module (tag `module`): a library file opened when the resource is made. Libraries
// are never closed while the program runs.
#pragma once
#include <string>

#include "resources/resource.h"

namespace brova {

class TModuleRes : public TResource {
public:
  const char* NativeClassName() const override { return "TModuleRes"; }

  void* library = nullptr; // null when the library could not be loaded

  // Reads `name` and `src` and opens the library; a library that cannot be opened is
  // reported with the loader's reason and leaves `library` null.
  void readFrom(const TSGML& element, const std::string& baseDir) override;
  void save(std::vector<std::string>& lines, const std::string& indent) override;
};

} // namespace brova
