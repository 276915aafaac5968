// The one road of every user-visible message: a modal box when the player has a window,
// one "message: TEXT" line on stderr when it runs headless or as a console tool.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace brova::platform {

enum class MessageMode {
  Headless, // "message: TEXT" on stderr, never blocking
  Window,   // modal message box
  Console,  // `--run` / `--console`: the bare text as one line on stderr
};

void SetMessageMode(MessageMode mode);
MessageMode GetMessageMode();

// Shows a message the way the current mode wants it.
void ShowMessage(std::string_view text);

// Observes every message shown (debug window log, tests). Pass an empty function to stop.
void SetMessageObserver(std::function<void(std::string_view)> observer);

} // namespace brova::platform
