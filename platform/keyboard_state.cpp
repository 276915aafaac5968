#include "platform/keyboard_state.h"

#include <SDL.h>

namespace brova::platform {
namespace {

// Virtual-key code -> SDL scancode; 0 where the host has no such key.
struct KeyMap {
  SDL_Scancode codes[256] = {};
  KeyMap() {
    codes[8] = SDL_SCANCODE_BACKSPACE;
    codes[9] = SDL_SCANCODE_TAB;
    codes[13] = SDL_SCANCODE_RETURN;
    codes[16] = SDL_SCANCODE_LSHIFT;
    codes[17] = SDL_SCANCODE_LCTRL;
    codes[18] = SDL_SCANCODE_LALT;
    codes[19] = SDL_SCANCODE_PAUSE;
    codes[27] = SDL_SCANCODE_ESCAPE;
    codes[32] = SDL_SCANCODE_SPACE;
    codes[33] = SDL_SCANCODE_PAGEUP;
    codes[34] = SDL_SCANCODE_PAGEDOWN;
    codes[35] = SDL_SCANCODE_END;
    codes[36] = SDL_SCANCODE_HOME;
    codes[37] = SDL_SCANCODE_LEFT;
    codes[38] = SDL_SCANCODE_UP;
    codes[39] = SDL_SCANCODE_RIGHT;
    codes[40] = SDL_SCANCODE_DOWN;
    codes[45] = SDL_SCANCODE_INSERT;
    codes[46] = SDL_SCANCODE_DELETE;
    codes[48] = SDL_SCANCODE_0;
    for (int d = 1; d <= 9; ++d) codes[48 + d] = static_cast<SDL_Scancode>(SDL_SCANCODE_1 + d - 1);
    for (int l = 0; l < 26; ++l) codes[65 + l] = static_cast<SDL_Scancode>(SDL_SCANCODE_A + l);
    codes[96] = SDL_SCANCODE_KP_0;
    for (int d = 1; d <= 9; ++d)
      codes[96 + d] = static_cast<SDL_Scancode>(SDL_SCANCODE_KP_1 + d - 1);
    codes[106] = SDL_SCANCODE_KP_MULTIPLY;
    codes[107] = SDL_SCANCODE_KP_PLUS;
    codes[109] = SDL_SCANCODE_KP_MINUS;
    codes[110] = SDL_SCANCODE_KP_PERIOD;
    codes[111] = SDL_SCANCODE_KP_DIVIDE;
    for (int f = 0; f < 12; ++f) codes[112 + f] = static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + f);
    codes[160] = SDL_SCANCODE_LSHIFT;
    codes[161] = SDL_SCANCODE_RSHIFT;
    codes[162] = SDL_SCANCODE_LCTRL;
    codes[163] = SDL_SCANCODE_RCTRL;
    codes[164] = SDL_SCANCODE_LALT;
    codes[165] = SDL_SCANCODE_RALT;
  }
};

const KeyMap& Keys() {
  static const KeyMap map;
  return map;
}

bool HasWindow() { return SDL_WasInit(SDL_INIT_VIDEO) != 0 && SDL_GetKeyboardFocus() != nullptr; }

} // namespace

bool IsVirtualKeyDown(int vk) {
  if (vk < 0 || vk > 255 || SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
  if (vk == 1 || vk == 2) {
    Uint32 buttons = SDL_GetMouseState(nullptr, nullptr);
    return (buttons & SDL_BUTTON(vk == 1 ? SDL_BUTTON_LEFT : SDL_BUTTON_RIGHT)) != 0;
  }
  SDL_Scancode sc = Keys().codes[vk];
  if (sc == SDL_SCANCODE_UNKNOWN) return false;
  int n = 0;
  const Uint8* state = SDL_GetKeyboardState(&n);
  if (!state || sc >= n) return false;
  // The generic Shift, Ctrl and Alt codes answer for either side.
  if (vk == 16) return state[SDL_SCANCODE_LSHIFT] || state[SDL_SCANCODE_RSHIFT];
  if (vk == 17) return state[SDL_SCANCODE_LCTRL] || state[SDL_SCANCODE_RCTRL];
  if (vk == 18) return state[SDL_SCANCODE_LALT] || state[SDL_SCANCODE_RALT];
  return state[sc] != 0;
}

bool IsApplicationActive() { return SDL_WasInit(SDL_INIT_VIDEO) == 0 || HasWindow(); }

} // namespace brova::platform
