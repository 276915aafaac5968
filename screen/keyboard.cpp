#include "screen/keyboard.h"

#include "platform/keyboard_state.h"

namespace brova {

TKeyboardState& Keyboard() {
  static TKeyboardState state;
  return state;
}

int GetKey(int k, bool designMode) {
  TKeyboardState& s = Keyboard();
  if (s.disableKeysWhenInactive && !platform::IsApplicationActive()) return 0;
  if (k < 0 || k > 255) k = 0;
  if (designMode || !s.keyPolled[k]) {
    s.keyCount[k] = platform::IsVirtualKeyDown(k) ? s.keyCount[k] + 1 : 0;
    s.keyPolled[k] = true;
  }
  return s.keyCount[k];
}

void ResetKeyReadings() {
  for (bool& p : Keyboard().keyPolled) p = false;
}

namespace natives {

void ObjectGetKey(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) {
    ResetKeyReadings();
    return;
  }
  SetInt(*result, GetKey(FloatToIntTruncated(ValueToFloat(Arg(result, 1))), false));
}

const TNativeBinding kKeyboardNatives[] = {{"getkey", ObjectGetKey}};
const size_t kKeyboardNativeCount = 1;

} // namespace natives
} // namespace brova
