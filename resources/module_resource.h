// A native module (tag `module`): a library file whose handle is taken when the resource is
// made. Opening libraries is the host's work, installed as the loader.
#pragma once
#include <functional>
#include <string>

#include "resources/resource.h"

namespace brova {

class TModuleRes : public TResource {
public:
  const char* NativeClassName() const override { return "TModuleRes"; }

  void* library = nullptr; // null when the library could not be loaded

  // Reads `name` and `src` and loads the library.
  void readFrom(const TSGML& element, const std::string& baseDir) override;
  void save(std::vector<std::string>& lines, const std::string& indent) override;
};

// Opens the library at a path; null when it cannot be loaded. Libraries stay loaded.
using ModuleLibraryLoader = std::function<void*(const std::string& path)>;
void SetModuleLibraryLoader(ModuleLibraryLoader loader);

} // namespace brova
