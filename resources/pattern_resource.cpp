#include "resources/pattern_resource.h"

#include "resources/resource_tree.h"
#include "tools/path_functions.h"

namespace brova {
namespace {
PatternInitPass& InitHook() {
  static PatternInitPass hook;
  return hook;
}
} // namespace

void SetPatternInitPass(PatternInitPass hook) { InitHook() = std::move(hook); }

void TCPat::initPass(TInitContext& ctx) {
  if (PatternInitPass hook = InitHook()) hook(*this, ctx);
}

void TCPat::save(std::vector<std::string>& lines, const std::string&) {
  lines.push_back(
      ElementLine("cpattern", {{"name", name}, {"src", RelativePath(src, ResourceBaseDir())}}));
}

} // namespace brova
