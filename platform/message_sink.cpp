#include "platform/message_sink.h"

#include <SDL.h>

#include <cstdio>
#include <string>

#include "platform/text_encoding.h"

namespace brova::platform {
namespace {
MessageMode g_mode = MessageMode::Headless;
std::function<void(std::string_view)> g_observer;

// Stderr wants one line per message: embedded line breaks become blanks.
std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  return line;
}
} // namespace

void SetMessageMode(MessageMode mode) { g_mode = mode; }
MessageMode GetMessageMode() { return g_mode; }

void SetMessageObserver(std::function<void(std::string_view)> observer) {
  g_observer = std::move(observer);
}

void ShowMessage(std::string_view text) {
  if (g_observer) g_observer(text);
  std::string shown = ToDisplayText(text);
  switch (g_mode) {
  case MessageMode::Window:
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "Brova", shown.c_str(), nullptr) == 0)
      return;
    [[fallthrough]]; // no box could be shown: do not lose the message
  case MessageMode::Headless:
    std::fprintf(stderr, "message: %s\n", OneLine(shown).c_str());
    break;
  case MessageMode::Console:
    std::fprintf(stderr, "%s\n", OneLine(shown).c_str());
    break;
  }
  std::fflush(stderr);
}

} // namespace brova::platform
