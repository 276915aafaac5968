#include "resources/global_value.h"

#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "resources/snippet_runner.h"

namespace brova {

TGlobalValue::TGlobalValue(std::string_view globalName) {
  name = std::string(globalName);
  value() = name.empty() ? NullValue() : UnsetValue(Intern(name));
}

TGlobalValue::~TGlobalValue() {
  TValue& v = value();
  if (IsLiveInstanceValue(v)) Release(v);
  ClearValue(v);
}

void TGlobalValue::readFrom(const TSGML& element, const std::string& baseDir) {
  TResource::readFrom(element, baseDir);
  initText = element.getAttr("value");
  value() = UnsetValue(Intern(name));
}

void TGlobalValue::initPass(TInitContext& ctx) {
  if (!initText.empty()) RunSnippet(name + "=" + initText + ";");
  ++ctx.done;
}

std::string GlobalSaveLiteral(const TValue& v) {
  if (v.kind == vtInt || IsStringObject(v)) return ValueToLiteral(v);
  return std::string();
}

void TGlobalValue::save(std::vector<std::string>& lines, const std::string& indent) {
  // A page declares its globals in usr.global; the running value is the global of that
  // name reached from the root.
  const TValue* current = &value();
  if (TGlobalValue* running = GlobalEntry(name, false)) current = &running->value();
  lines.push_back(indent + ElementLine("globalvalue", {{"name", name},
                                                       {"value", GlobalSaveLiteral(*current)}}));
}

void TGlobalValue::releaseObjects() {
  TResource::releaseObjects();
  TValue& v = value();
  if (v.kind == vtObject || v.kind == vtNative) ClearValue(v);
}

void TGlobalValue::gcMark() {
  TResource::gcMark();
  if (auto mark = CollectorHooks().markValue) mark(value());
}

} // namespace brova
