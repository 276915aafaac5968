#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/entry_points.h"
#include "app/program_folder.h"

int main(int argc, char** argv) {
  using namespace brova;
  std::vector<std::string> args(argv + 1, argv + argc);
  TCommandLine options;
  if (auto error = ParseCommandLine(args, options)) {
    std::fprintf(stderr, "brova: %s\n%s", error->c_str(), kUsage);
    return 64;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::string home = FindProgramFolder(options.home);
  if (home.empty()) {
    std::fprintf(stderr,
                 "brova: no program folder: kernel/resource.brovares is not in %s\n",
                 options.home.empty() ? "BROVA_HOME or the executable's folder and its parents"
                                      : options.home.c_str());
    return 3;
  }
  if (!options.runFile.empty()) return RunScriptFile(options, home);
  return RunPlayer(options, home);
}
