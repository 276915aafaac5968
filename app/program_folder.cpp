#include "app/program_folder.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "tools/path_functions.h"

namespace brova {

bool HoldsKernel(const std::string& dir) {
  std::error_code ec;
  return std::filesystem::is_regular_file(
      ResolveExistingPath(JoinPath("kernel/resource.brovares", dir)), ec);
}

namespace {

std::string Absolute(const std::string& dir) {
  std::error_code ec;
  auto p = std::filesystem::absolute(dir, ec);
  return ec ? dir : p.lexically_normal().string();
}

std::string ExecutableFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  buf[n] = '\0';
  return ParentFolder(buf);
}

} // namespace

std::string FindProgramFolder(const std::string& homeOption) {
  if (!homeOption.empty()) return HoldsKernel(homeOption) ? Absolute(homeOption) : std::string();
  if (const char* env = std::getenv("BROVA_HOME"); env && *env)
    return HoldsKernel(env) ? Absolute(env) : std::string();
  for (std::string dir = ExecutableFolder(); !dir.empty(); dir = ParentFolder(dir)) {
    if (HoldsKernel(dir)) return dir;
    if (dir == "/") break;
  }
  return std::string();
}

} // namespace brova
