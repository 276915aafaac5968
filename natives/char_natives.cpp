#include "natives/char_natives.h"

#include <algorithm>
#include <iterator>

#include "resources/generator.h"
#include "runtime/errors.h"
#include "runtime/text_case.h"
#include "runtime/translate.h"

namespace brova::natives {

TGenerator* GeneratorOf(const TValue& v) {
  return dynamic_cast<TGenerator*>(NativeOfKind<TResource>(v));
}

void SetGeneratorField(TGenerator& gen, std::string_view field, const std::string& literal) {
  auto& lines = gen.instFields;
  auto old = std::find_if(lines.begin(), lines.end(), [field](const std::string& line) {
    return SameTextIgnoringCase(std::string_view(line).substr(0, line.find('=')), field);
  });
  if (old != lines.end()) lines.erase(old);
  if (!literal.empty()) lines.push_back(std::string(field) + "=" + literal);
}

void CharChangeAttr(TValue* result, int32_t argc, int32_t) {
  if (argc < 3) return;
  TGenerator* gen = GeneratorOf(Arg(result, 1));
  if (!gen) throw EScriptError(Translate("invalid generator at chattr"));
  SetGeneratorField(*gen, ValueToText(Arg(result, 2)), ValueToText(Arg(result, 3)));
}

const TNativeBinding kCharNatives[] = {
    {"_changeAttr", CharChangeAttr},
};
const size_t kCharNativeCount = std::size(kCharNatives);

} // namespace brova::natives
