#include <cstdio>

#include "app/entry_points.h"

namespace brova {

int RunPlayer(const TCommandLine& options, const std::string& programFolder) {
  std::fprintf(stderr, "brova: the player cannot run a game yet\n");
  return 3;
}

} // namespace brova
