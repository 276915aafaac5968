// Keyboard polling for scripts: getkey(k) gives how long key k has been held, counted in
// readings; getkey() starts a new round of readings (the page does it once a frame).
#pragma once
#include "natives/native_binding.h"

namespace brova {

struct TKeyboardState {
  int keyCount[256] = {};
  bool keyPolled[256] = {};
  bool disableKeysWhenInactive = true;
};

TKeyboardState& Keyboard();

// The hold count of key k (clamped to 0..255) as the rules of polling give it.
int GetKey(int k, bool designMode);
void ResetKeyReadings();

namespace natives {
void ObjectGetKey(TValue* result, int32_t argc, int32_t reserved);
extern const TNativeBinding kKeyboardNatives[];
extern const size_t kKeyboardNativeCount;
} // namespace natives

} // namespace brova
