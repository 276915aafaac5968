// The player's window and event loop on this host. Headless runs never open one.
#pragma once
#include <string>

namespace brova::platform {

// True when a window can be shown: a display is named in the environment and the video
// system starts.
bool HasDisplay();

// Opens the window (640 x 480, or the whole screen). False when it cannot be made.
bool OpenHostWindow(const std::string& caption, bool fullScreen);
void CloseHostWindow();

// Handles the pending window events; false once the user closed the window.
bool PumpHostEvents();

// Shows the frame (the screen draws nothing yet: the window stays black).
void PresentHostWindow();

} // namespace brova::platform
