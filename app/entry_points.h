// The player's two ways to run: a game (window or headless) and a script file (`--run`).
#pragma once
#include "app/command_line.h"

namespace brova {

// Boots the kernel, opens the project and runs frames. Returns the process exit status.
int RunPlayer(const TCommandLine& options, const std::string& programFolder);

// Compiles and runs one class file to its end: 0 ran to its end, 1 did not compile,
// 2 stopped by a runtime error.
int RunScriptFile(const TCommandLine& options, const std::string& programFolder);

} // namespace brova
