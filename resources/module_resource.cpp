#include "resources/module_resource.h"

#include "resources/resource_tree.h"
#include "tools/path_functions.h"

namespace brova {
namespace {
ModuleLibraryLoader& Loader() {
  static ModuleLibraryLoader loader;
  return loader;
}
} // namespace

void SetModuleLibraryLoader(ModuleLibraryLoader loader) { Loader() = std::move(loader); }

void TModuleRes::readFrom(const TSGML& element, const std::string& baseDir) {
  TResource::readFrom(element, baseDir);
  if (ModuleLibraryLoader load = Loader(); load && !src.empty()) library = load(src);
}

void TModuleRes::save(std::vector<std::string>& lines, const std::string& indent) {
  lines.push_back(indent + ElementLine("module", {{"name", name},
                                                  {"src", RelativePath(src, ResourceBaseDir())}}));
}

} // namespace brova
