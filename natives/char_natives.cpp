#include "natives/char_natives.h"

#include <iterator>

#include "resources/generator.h"

namespace brova::natives {

void CharChangeAttr(TValue* result, int32_t argc, int32_t) {
  if (argc < 3) return;
  ChangeGeneratorAttr(Arg(result, 1), Arg(result, 2), Arg(result, 3));
}

const TNativeBinding kCharNatives[] = {
    {"_changeAttr", CharChangeAttr},
};
const size_t kCharNativeCount = std::size(kCharNatives);

} // namespace brova::natives
