#include "resources/custom_resource.h"

#include "platform/message_sink.h"
#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "resources/snippet_evaluator.h"
#include "runtime/rtti.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {

void TCustomResource::readFrom(const TSGML& element, const std::string& baseDir) {
  TResource::readFrom(element, baseDir);
  tag = element.getTagName();
  if (const TSGML::SubItems* items = element.getSubItems()) {
    for (const auto& item : *items) {
      if (item->getTagName() == "resinst" && item->getAttr("type") == "string")
        fields.emplace_back(item->getAttr("name"), item->getAttr("value"));
    }
  }
  if (tag == "Ranking" && !element.getAttr("browserURL").empty()) {
    platform::ShowMessage(
        Translate("This page are created by older version of Brova: Ranking on the Net disabled."));
    return;
  }
  TResource* root = ResourceRoot();
  auto* cls = root ? dynamic_cast<TRTTI*>(root->resolve(tag)) : nullptr;
  if (!cls || !cls->compiled) return;
  HeapAddr block = NewInstance(cls);
  AssignValue(wrapper(), ObjectValue(block));
  TfObject* obj = HeapPtr<TfObject>(block);
  SetFieldByName(obj, "_generator", NativeValue(Handle()));
  for (const auto& [field, text] : fields)
    SetFieldByName(obj, field, ObjectValue(MakeString(text)));
}

void TCustomResource::initPass(TInitContext& ctx) {
  if (!instance() || !HasSnippetEvaluator()) return;
  TValue* in = GlobalSlotInTree("$_tmp_val1");
  if (!in) return;
  AssignValue(*in, wrapper());
  int ran = EvaluateSnippet("$_tmp_val2=$_tmp_val1.onInit();");
  if (TValue* slot = GlobalSlotInTree("$_tmp_val1")) SetInt(*slot, 0);
  TValue* out = GlobalSlotInTree("$_tmp_val2");
  // A stale $_tmp_val2 from an earlier resource must not count for this one.
  if (ran != 0 || !out) {
    ++ctx.failed;
    return;
  }
  switch (ValueToInt(*out)) {
  case 0:
  case 1: ++ctx.pending; break;
  case 2: ++ctx.done; break;
  case 3: ++ctx.failed; break;
  default: break;
  }
}

void TCustomResource::save(std::vector<std::string>& lines, const std::string&) {
  if (const TfObject* obj = instance()) {
    const TRTTI* cls = ClassOf(obj);
    tag = cls->name;
    fields.clear();
    for (size_t j = 0; j < cls->fieldNames.size(); ++j) {
      const TValue& v = obj->fields[j];
      if (!IsStringObject(v)) continue;
      const std::string* text = StringTextOf(ObjectPtr(v));
      fields.emplace_back(SymbolName(cls->fieldNames[j].sym), text ? *text : std::string());
    }
  }
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
