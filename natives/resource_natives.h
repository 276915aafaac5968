// Bodies of the natives behind resources and markup elements as script objects:
// BuiltInResource (the script object of any resource), classes.customres.CustomResource and
// classes.lang.CMML (a markup element). Their first argument is the `vtNative` value of the
// resource or element; one that holds something else makes the body do nothing.
#pragma once
#include <memory>

#include "natives/native_binding.h"
#include "runtime/native_object.h"

namespace brova {
class TSGML;
}

namespace brova::natives {

// The built-in object behind a CMML wrapper: an element of a document it keeps alive.
class TElementHolder final : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::Element;
  TElementHolder(std::shared_ptr<TSGML> document, TSGML& element)
      : TNativeObject(kKind), document(std::move(document)), element(element) {}
  const char* NativeClassName() const override { return "TSGML"; }
  const std::shared_ptr<TSGML> document;
  TSGML& element;
};

// The handle of the holder of `element` (a node of `document`), one per element. Script
// values do not count references to built-in objects, so holders and their documents stay
// until the program ends.
NativeHandle ElementHandle(const std::shared_ptr<TSGML>& document, TSGML& element);
// A new CMML script object around the element, through the snippet
// "$_tmp_cmml=new CMML($_tmp_cmml2);"; null when snippets or globals are not available.
TValue WrapElement(const std::shared_ptr<TSGML>& document, TSGML& element);

void BuiltInResourceGetSubRes(TValue* result, int32_t argc, int32_t reserved);
void BuiltInResourceGetCustomRes(TValue* result, int32_t argc, int32_t reserved);
// _n_addSubRes, _n_delSubRes, _n_onInit and _n_save belong to the authoring program.
void BuiltInResourceNothing(TValue* result, int32_t argc, int32_t reserved);

void CustomResourceGetName(TValue* result, int32_t argc, int32_t reserved);
void CustomResourceGetURL(TValue* result, int32_t argc, int32_t reserved);
void CustomResourceGetFullPath(TValue* result, int32_t argc, int32_t reserved);

void CMMLGetTagName(TValue* result, int32_t argc, int32_t reserved);
void CMMLGetAttr(TValue* result, int32_t argc, int32_t reserved);
void CMMLSetAttr(TValue* result, int32_t argc, int32_t reserved);
void CMMLSetTagName(TValue* result, int32_t argc, int32_t reserved);
// (e, tag): the tag text may carry attributes ("item a=\"1\"").
void CMMLAddSubItem(TValue* result, int32_t argc, int32_t reserved);
void CMMLGetSubItems(TValue* result, int32_t argc, int32_t reserved);

// BuiltInResource: _n_getSubRes, _n_getCustomRes, _n_addSubRes, _n_delSubRes, _n_onInit,
// _n_save.
extern const TNativeBinding kBuiltInResourceNatives[];
extern const size_t kBuiltInResourceNativeCount;
// classes.customres.CustomResource: _n_getName, _n_getURL, _n_getFullPath.
extern const TNativeBinding kCustomResourceNatives[];
extern const size_t kCustomResourceNativeCount;
// classes.lang.CMML: _n_getTagName, _n_getAttr, _n_setAttr, _n_setTagName, _n_addSubItem,
// _n_getSubItems.
extern const TNativeBinding kCMMLNatives[];
extern const size_t kCMMLNativeCount;

} // namespace brova::natives
