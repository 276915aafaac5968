#include "natives/file_sandbox.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "tools/path_functions.h"

namespace brova::natives {
namespace {

std::string g_filesFolder;

void EraseAll(std::string& s, std::string_view what) {
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at))
    s.erase(at, what.size());
}

std::vector<std::string> SandboxParts(std::string_view name) {
  std::string rest(name);
  EraseAll(rest, "\\");
  EraseAll(rest, ":");
  EraseAll(rest, "..");
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(start, end - start);
    if (!part.empty() && part != "." && part != "..") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

std::optional<std::string> RealPath(const std::string& path) {
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) return std::nullopt;
  return std::string(buf);
}

// Byte for byte: the host's file names are case-sensitive, so a folder differing only in
// case is another folder.
bool InsideExactly(const std::string& path, const std::string& folder) {
  if (folder == "/") return true;
  return path == folder || (path.size() > folder.size() &&
                            path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

} // namespace

void SetFilesFolder(std::string path) { g_filesFolder = ToHostPath(path); }
const std::string& FilesFolder() { return g_filesFolder; }

std::string SandboxPath(std::string_view name) {
  std::string rel;
  for (const std::string& part : SandboxParts(name)) {
    if (!rel.empty()) rel += '/';
    rel += part;
  }
  return JoinPath(rel, g_filesFolder);
}

std::optional<std::string> ConfinedPath(std::string_view name) {
  if (g_filesFolder.empty() || name.find('\0') != std::string_view::npos) return std::nullopt;
  std::string path = SandboxPath(name);
  if (!IsInsideFolder(path, g_filesFolder)) return std::nullopt;
  std::optional<std::string> root = RealPath(g_filesFolder);
  if (!root) return path; // nothing below a missing folder exists, so nothing leads out
  // Follow the existing part of the path one component at a time: a link anywhere along it,
  // dangling ones included, must lead to a place inside the folder.
  std::string current = *root;
  for (const std::string& part : SandboxParts(name)) {
    std::string next = current + (current == "/" ? "" : "/") + part;
    struct stat st;
    if (lstat(next.c_str(), &st) != 0) break; // the rest does not exist yet
    if (S_ISLNK(st.st_mode)) {
      std::optional<std::string> target = RealPath(next);
      if (!target || !InsideExactly(*target, *root)) return std::nullopt;
      next = *target;
    }
    current = std::move(next);
  }
  return path;
}

bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = ParentFolder(path);
  if (!parent.empty() && parent != path && !MakeFolders(parent)) return false;
  return mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && stat(path.c_str(), &st) == 0 &&
                                            S_ISDIR(st.st_mode));
}

} // namespace brova::natives
