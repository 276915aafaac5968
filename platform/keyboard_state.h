// The keyboard as scripts see it: key codes are the Windows virtual-key codes the games were
// written with, mapped to this host's keys.
#pragma once

namespace brova::platform {

// True while the key with this virtual-key code (0..255) is held. Without a window (headless)
// no key is ever down.
bool IsVirtualKeyDown(int vk);

// True while the player's window has the keyboard focus; headless runs count as active.
bool IsApplicationActive();

} // namespace brova::platform
