#include "resources/generator.h"

#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "resources/snippet_evaluator.h"
#include "tools/path_functions.h"

namespace brova {
namespace {
GeneratorInitPass& InitHook() {
  static GeneratorInitPass hook;
  return hook;
}

// "field=literal" split at its first "=".
std::pair<std::string, std::string> SplitLine(const std::string& line) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return {line, std::string()};
  return {line.substr(0, eq), line.substr(eq + 1)};
}
} // namespace

void SetGeneratorInitPass(GeneratorInitPass hook) { InitHook() = std::move(hook); }

void TGenerator::readFrom(const TSGML& element, const std::string& baseDir) {
  TResource::readFrom(element, baseDir);
  className = element.getAttr("className");
  for (int i = 0; i < element.attrCount(); ++i) {
    const std::string& attr = element.attrName(i);
    // The prefixes are matched with case: "Const_x" is no constructor argument.
    if (attr.starts_with("const_"))
      constArgs.push_back(attr.substr(6) + "=" + element.attrValue(i));
    else if (attr.starts_with("inst_"))
      instFields.push_back(attr.substr(5) + "=" + element.attrValue(i));
  }
}

void TGenerator::initPass(TInitContext& ctx) {
  if (GeneratorInitPass hook = InitHook()) hook(*this, ctx);
}

void TGenerator::save(std::vector<std::string>& lines, const std::string&) {
  EvaluateSnippet("if (" + name + ") " + name + ".onSaveToGen();");
  TAttrList attrs{{"className", className}, {"name", name}};
  if (!src.empty()) attrs.emplace_back("src", RelativePath(src, ResourceBaseDir()));
  for (const auto& line : instFields) {
    auto [field, literal] = SplitLine(line);
    attrs.emplace_back("inst_" + field, literal);
  }
  for (const auto& line : constArgs) {
    auto [arg, literal] = SplitLine(line);
    attrs.emplace_back("const_" + arg, literal);
  }
  lines.push_back(ElementLine("generator", attrs));
}

} // namespace brova
