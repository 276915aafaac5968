// The native of classes.game.Char and the editing of a generator's field lines, which
// `_n_setGenAttr` of classes.lang.Object shares.
#pragma once
#include <string>
#include <string_view>

#include "natives/native_binding.h"

namespace brova {
class TGenerator;
}

namespace brova::natives {

// `_changeAttr(generator, field, text)`: the generator's line for the field becomes the
// text. Raises "invalid generator at chattr" when p1 is no generator.
void CharChangeAttr(TValue* result, int32_t argc, int32_t reserved);

// The generator behind a vtNative value, or null.
TGenerator* GeneratorOf(const TValue& v);
// Removes the `instFields` line of the field (names compared ignoring case, as script names
// are) and appends "field=literal" unless the literal is empty.
void SetGeneratorField(TGenerator& gen, std::string_view field, const std::string& literal);

// classes.game.Char: _changeAttr.
extern const TNativeBinding kCharNatives[];
extern const size_t kCharNativeCount;

} // namespace brova::natives
