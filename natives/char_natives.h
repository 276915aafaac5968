// The native of classes.game.Char (the generator's field lines are edited by
// resources/generator.h, which `_n_setGenAttr` of classes.lang.Object shares).
#pragma once
#include "natives/native_binding.h"

namespace brova::natives {

// `_changeAttr(generator, field, text)`: the generator's line for the field becomes the
// text. Raises "invalid generator at chattr" when p1 is no generator.
void CharChangeAttr(TValue* result, int32_t argc, int32_t reserved);

// classes.game.Char: _changeAttr.
extern const TNativeBinding kCharNatives[];
extern const size_t kCharNativeCount;

} // namespace brova::natives
