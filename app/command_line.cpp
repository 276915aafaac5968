#include "app/command_line.h"

#include <cerrno>
#include <cstdlib>

namespace brova {

const char* const kUsage =
    "usage: brova [--home DIR] [--headless] [--frames N] [--screenshot FILE.png] [--wav FILE.wav]\n"
    "             [--console] [PAGE.cmml] [FULLSCREEN]\n"
    "       brova --run FILE.brova [--home DIR] [--stack BYTES]\n";

namespace {

bool ParseCount(const std::string& text, int64_t& out) {
  if (text.empty() || text[0] == '-') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

} // namespace

std::optional<std::string> ParseCommandLine(const std::vector<std::string>& args, TCommandLine& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* what) -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      (void)what;
      return args[++i];
    };
    if (a == "--home" || a == "--screenshot" || a == "--wav" || a == "--run") {
      auto v = value(a.c_str());
      if (!v) return a + " needs a value";
      if (a == "--home") out.home = *v;
      else if (a == "--screenshot") out.screenshot = *v;
      else if (a == "--wav") out.wav = *v;
      else out.runFile = *v;
    } else if (a == "--frames" || a == "--stack") {
      auto v = value(a.c_str());
      int64_t n;
      if (!v || !ParseCount(*v, n)) return a + " needs a whole number";
      (a == "--frames" ? out.frames : out.stackBytes) = n;
    } else if (a == "--headless") {
      out.headless = true;
    } else if (a == "--console") {
      out.console = true;
    } else if (a == "--help" || a == "-h") {
      out.help = true;
    } else if (a == "FULLSCREEN") {
      out.fullScreen = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return "unknown option " + a;
    } else if (out.page.empty()) {
      out.page = a;
    } else {
      return "more than one page given: " + a;
    }
  }
  if (out.stackBytes >= 0 && out.runFile.empty()) return "--stack goes with --run";
  return std::nullopt;
}

} // namespace brova
