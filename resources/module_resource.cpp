#include "resources/module_resource.h"

#include "platform/dynamic_library.h"
#include "platform/message_sink.h"
#include "resources/resource_tree.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {

void TModuleRes::readFrom(const TSGML& element, const std::string& baseDir) {
  TResource::readFrom(element, baseDir);
  if (src.empty()) {
    platform::ShowMessage(name + Translate(": the module names no library file."));
    return;
  }
  std::string reason;
  library = platform::OpenLibrary(src, reason);
  if (!library)
    platform::ShowMessage(src + Translate(": the module library cannot be loaded: ") + reason);
}

void TModuleRes::save(std::vector<std::string>& lines, const std::string& indent) {
  lines.push_back(indent + ElementLine("module", {{"name", name},
                                                  {"src", RelativePath(src, ResourceBaseDir())}}));
}

} // namespace brova
