// The player's command line.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brova {

struct TCommandLine {
  std::string home;         // --home DIR (program folder); empty: BROVA_HOME or the executable's
  bool headless = false;    // --headless, or forced when there is no display
  int64_t frames = -1;      // --frames N: stop after N frames; -1: run until the window closes
  std::string screenshot;   // --screenshot FILE.png, taken after the last frame
  std::string wav;          // --wav FILE.wav: the audio output written to a file
  bool console = false;     // --console: print to stdout, messages to stderr
  std::string page;         // PAGE.cmml to open instead of the project's main page
  bool fullScreen = false;  // FULLSCREEN
  std::string runFile;      // --run FILE.brova
  int64_t stackBytes = -1;  // --stack BYTES (with --run)
  bool help = false;
};

// Parses argv (without argv[0]). Returns an error text for a malformed command line.
std::optional<std::string> ParseCommandLine(const std::vector<std::string>& args, TCommandLine& out);

extern const char* const kUsage;

} // namespace brova
