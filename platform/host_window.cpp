#include "platform/host_window.h"

#include <SDL.h>

#include <cstdlib>

#include "platform/text_encoding.h"

namespace brova::platform {
namespace {
SDL_Window* g_window = nullptr;
SDL_Renderer* g_renderer = nullptr;
} // namespace

bool HasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!x || !*x) && (!wayland || !*wayland)) return false;
  if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
  return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

bool OpenHostWindow(const std::string& caption, bool fullScreen) {
  if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  Uint32 flags = SDL_WINDOW_SHOWN | (fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  g_window = SDL_CreateWindow(ToDisplayText(caption).c_str(), SDL_WINDOWPOS_CENTERED,
                              SDL_WINDOWPOS_CENTERED, 640, 480, flags);
  if (!g_window) return false;
  g_renderer = SDL_CreateRenderer(g_window, -1, SDL_RENDERER_ACCELERATED);
  if (!g_renderer) g_renderer = SDL_CreateRenderer(g_window, -1, SDL_RENDERER_SOFTWARE);
  return g_renderer != nullptr;
}

void CloseHostWindow() {
  if (g_renderer) SDL_DestroyRenderer(g_renderer);
  if (g_window) SDL_DestroyWindow(g_window);
  g_renderer = nullptr;
  g_window = nullptr;
}

bool PumpHostEvents() {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT) return false;
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE) return false;
  }
  return true;
}

void PresentHostWindow() {
  if (!g_renderer) return;
  SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
  SDL_RenderClear(g_renderer);
  SDL_RenderPresent(g_renderer);
}

} // namespace brova::platform
