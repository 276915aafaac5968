#include "resources/custom_resource.h"

#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "tools/path_functions.h"

namespace brova {
namespace {
TCustomResourceHooks& Hooks() {
  static TCustomResourceHooks hooks;
  return hooks;
}
} // namespace

void SetCustomResourceHooks(TCustomResourceHooks hooks) { Hooks() = std::move(hooks); }

void TCustomResource::readFrom(const TSGML& element, const std::string& baseDir) {
  TResource::readFrom(element, baseDir);
  tag = element.getTagName();
  if (const TSGML::SubItems* items = element.getSubItems()) {
    for (const auto& item : *items) {
      if (item->getTagName() == "resinst" && item->getAttr("type") == "string")
        fields.emplace_back(item->getAttr("name"), item->getAttr("value"));
    }
  }
  if (auto made = Hooks().made) made(*this, element);
}

void TCustomResource::initPass(TInitContext& ctx) {
  if (auto hook = Hooks().initPass) hook(*this, ctx);
}

void TCustomResource::save(std::vector<std::string>& lines, const std::string&) {
  if (auto refresh = Hooks().beforeSave) refresh(*this);
  TSGML element(tag);
  element.setAttr("name", name);
  if (!src.empty()) element.setAttr("src", RelativePath(src, ResourceBaseDir()));
  for (const auto& [field, text] : fields) {
    auto inst = std::make_unique<TSGML>("resinst");
    inst->setAttr("type", "string");
    inst->setAttr("name", field);
    inst->setAttr("value", text);
    element.addSubItem(std::move(inst));
  }
  lines.push_back(element.toMarkup());
}

} // namespace brova
