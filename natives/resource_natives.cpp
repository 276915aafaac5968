#include "natives/resource_natives.h"

#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include "natives/script_services.h"
#include "resources/custom_resource.h"
#include "resources/resource_list.h"
#include "resources/sgml.h"

namespace brova::natives {
namespace {

std::unordered_map<const TSGML*, std::unique_ptr<TElementHolder>>& Holders() {
  static auto* holders = new std::unordered_map<const TSGML*, std::unique_ptr<TElementHolder>>;
  return *holders;
}

TResource* ResourceArg(TValue* result, int32_t i) {
  return NativeOfKind<TResource>(Arg(result, i));
}

TElementHolder* ElementArg(TValue* result, int32_t i) {
  return NativeOfKind<TElementHolder>(Arg(result, i));
}

// The value of a global after a snippet assigned it; null when the snippet did not run.
TValue* AfterSnippet(const std::string& text, std::string_view global) {
  if (EvaluateSnippet(text) != 0) return nullptr;
  return ResolveGlobal(global);
}

} // namespace

NativeHandle ElementHandle(const std::shared_ptr<TSGML>& document, TSGML& element) {
  auto& holder = Holders()[&element];
  if (!holder) holder = std::make_unique<TElementHolder>(document, element);
  return holder->Handle();
}

TValue WrapElement(const std::shared_ptr<TSGML>& document, TSGML& element) {
  TValue* in = ResolveGlobal("$_tmp_cmml2");
  if (!in) return NullValue();
  AssignValue(*in, NativeValue(ElementHandle(document, element)));
  TValue* made = AfterSnippet("$_tmp_cmml=new CMML($_tmp_cmml2);", "$_tmp_cmml");
  return made ? *made : NullValue();
}

// ---- BuiltInResource

void BuiltInResourceGetSubRes(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  auto* list = dynamic_cast<TResourceList*>(ResourceArg(result, 1));
  TValue* body = ResolveGlobal("$_1");
  if (!list || !body || !CanMakeLists()) {
    SetNull(*result);
    return;
  }
  std::vector<TValue> items;
  items.reserve(list->size());
  for (size_t i = 0; i < list->size(); ++i) items.push_back(NativeValue(list->child(i)->Handle()));
  AssignValue(*body, NativeValue(MakeList(std::move(items))));
  TValue* array = AfterSnippet("$_2=new Array();$_2._setBody($_1);", "$_2");
  AssignValue(*result, array ? *array : NullValue());
}

void BuiltInResourceGetCustomRes(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  auto* custom = dynamic_cast<TCustomResource*>(ResourceArg(result, 1));
  AssignValue(*result, custom ? custom->wrapper() : NullValue());
}

void BuiltInResourceNothing(TValue*, int32_t, int32_t) {}

// ---- CustomResource

namespace {
template <class Text> void ResourceText(TValue* result, int32_t argc, Text text) {
  if (argc < 1) return;
  if (TResource* r = ResourceArg(result, 1))
    SetStringResult(*result, text(*r));
  else
    SetInt(*result, 0);
}
} // namespace

void CustomResourceGetName(TValue* result, int32_t argc, int32_t) {
  ResourceText(result, argc, [](TResource& r) { return r.name; });
}

void CustomResourceGetURL(TValue* result, int32_t argc, int32_t) {
  ResourceText(result, argc, [](TResource& r) { return r.src; });
}

void CustomResourceGetFullPath(TValue* result, int32_t argc, int32_t) {
  ResourceText(result, argc, [](TResource& r) { return r.dottedPath(); });
}

// ---- CMML

void CMMLGetTagName(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  if (TElementHolder* e = ElementArg(result, 1)) SetStringResult(*result, e->element.getTagName());
}

void CMMLGetAttr(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  if (TElementHolder* e = ElementArg(result, 1))
    SetStringResult(*result, e->element.getAttr(ValueToText(Arg(result, 2))));
}

void CMMLSetAttr(TValue* result, int32_t argc, int32_t) {
  if (argc < 3) return;
  if (TElementHolder* e = ElementArg(result, 1))
    e->element.setAttr(ValueToText(Arg(result, 2)), ValueToText(Arg(result, 3)));
}

void CMMLSetTagName(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  if (TElementHolder* e = ElementArg(result, 1)) e->element.setTagName(ValueToText(Arg(result, 2)));
}

void CMMLAddSubItem(TValue* result, int32_t argc, int32_t) {
  if (argc < 2) return;
  TElementHolder* e = ElementArg(result, 1);
  if (!e) return;
  std::string text = "<" + ValueToText(Arg(result, 2)) + "/>";
  TMarkupCursor cursor{text};
  std::unique_ptr<TSGML> child = parseTag(cursor);
  TSGML& added = *child;
  e->element.addSubItem(std::move(child));
  AssignValue(*result, WrapElement(e->document, added));
}

void CMMLGetSubItems(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  TElementHolder* e = ElementArg(result, 1);
  if (!e) return;
  TSGML& element = e->element;
  if (EvaluateSnippet("$_tmp_cmml_list=new Array();") != 0) return;
  if (TSGML::SubItems* children = element.getSubItems()) {
    // Indexed afresh each time: a CMML constructor may add children to this element.
    for (size_t i = 0; i < children->size(); ++i) {
      WrapElement(e->document, *(*children)[i]);
      EvaluateSnippet("$_tmp_cmml_list.add($_tmp_cmml);");
    }
  }
  if (TValue* list = ResolveGlobal("$_tmp_cmml_list")) AssignValue(*result, *list);
}

const TNativeBinding kBuiltInResourceNatives[] = {
    {"_n_getSubRes", BuiltInResourceGetSubRes}, {"_n_getCustomRes", BuiltInResourceGetCustomRes},
    {"_n_addSubRes", BuiltInResourceNothing},   {"_n_delSubRes", BuiltInResourceNothing},
    {"_n_onInit", BuiltInResourceNothing},      {"_n_save", BuiltInResourceNothing},
};
const size_t kBuiltInResourceNativeCount = std::size(kBuiltInResourceNatives);

const TNativeBinding kCustomResourceNatives[] = {
    {"_n_getName", CustomResourceGetName},
    {"_n_getURL", CustomResourceGetURL},
    {"_n_getFullPath", CustomResourceGetFullPath},
};
const size_t kCustomResourceNativeCount = std::size(kCustomResourceNatives);

const TNativeBinding kCMMLNatives[] = {
    {"_n_getTagName", CMMLGetTagName}, {"_n_getAttr", CMMLGetAttr},
    {"_n_setAttr", CMMLSetAttr},       {"_n_setTagName", CMMLSetTagName},
    {"_n_addSubItem", CMMLAddSubItem}, {"_n_getSubItems", CMMLGetSubItems},
};
const size_t kCMMLNativeCount = std::size(kCMMLNatives);

} // namespace brova::natives
