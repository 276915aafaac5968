#include "resources/global_value.h"

#include <cmath>

#include "resources/resource_tree.h"
#include "resources/sgml.h"
#include "resources/snippet_evaluator.h"

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
  if (!initText.empty()) EvaluateSnippet(name + "=" + initText + ";");
  ++ctx.done;
}

std::string GlobalSaveLiteral(const TValue& v, const std::string& initText) {
  switch (v.kind) {
  case vtInt: return ValueToLiteral(v);
  // Written in full, so reading the text back gives the same single value; the language's
  // numbers have no exponent, so very large and very small magnitudes cannot be written.
  case vtFloat: {
    std::string text = std::isfinite(v.f) ? ValueToText(v) : std::string();
    return text.find('E') == std::string::npos ? text : std::string();
  }
  // Never assigned (not initialised yet, or its initial value failed): the declared text
  // is all there is to keep.
  case vtUnset: return initText;
  default: return IsStringObject(v) ? ValueToLiteral(v) : std::string();
  }
}

void TGlobalValue::save(std::vector<std::string>& lines, const std::string& indent) {
  // A page declares its globals in usr.global; the running value is the global of that
  // name reached from the root.
  const TValue* current = &value();
  if (TGlobalValue* running = GlobalEntry(name, false)) current = &running->value();
  std::string literal = GlobalSaveLiteral(*current, initText);
  lines.push_back(indent + ElementLine("globalvalue", {{"name", name}, {"value", literal}}));
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
