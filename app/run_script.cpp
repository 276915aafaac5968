#include <cstdio>

#include "app/entry_points.h"

namespace brova {

int RunScriptFile(const TCommandLine& options, const std::string& programFolder) {
  std::fprintf(stderr, "brova: --run is not available yet\n");
  return 3;
}

} // namespace brova
