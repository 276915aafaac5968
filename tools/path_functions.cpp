#include "tools/path_functions.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace brova {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A byte that begins a double-byte character of the code page.
bool IsLeadByte(unsigned char c) { return (c >= 0x80 && c <= 0x9f) || c >= 0xe0; }

unsigned char AsciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i];
    unsigned char y = b[i];
    if (IsLeadByte(x)) {
      if (x != y) return false;
      if (++i < a.size() && a[i] != b[i]) return false;
      continue;
    }
    if (AsciiLower(x) != AsciiLower(y)) return false;
  }
  return true;
}

// A path as its components, with "." dropped and ".." applied; ".." stays only at the start
// of a relative path. The components view the text the path was parsed from.
struct Components {
  bool absolute = false;
  std::vector<std::string_view> parts;

  void Push(std::string_view part) {
    if (part == ".") return;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..")
        parts.pop_back();
      else if (!absolute)
        parts.push_back(part);
      return;
    }
    parts.push_back(part);
  }

  // Whether a parent can be taken without leaving what the path names: the root has none,
  // and a single relative name has the empty path as its parent.
  bool HasParent() const {
    if (parts.empty() || parts.back() == "..") return false;
    return absolute || parts.size() > 1;
  }
};

Components Parse(std::string_view path) {
  Components c;
  c.absolute = !path.empty() && IsSeparator(path[0]);
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && IsSeparator(path[i])) ++i;
    std::size_t start = i;
    while (i < path.size() && !IsSeparator(path[i])) ++i;
    if (i > start) c.Push(path.substr(start, i - start));
  }
  return c;
}

void AppendParts(std::string& out, const std::vector<std::string_view>& parts, std::size_t from) {
  for (std::size_t i = from; i < parts.size(); ++i) {
    if (i > from) out += '/';
    out += parts[i];
  }
}

std::string Text(const Components& c) {
  std::string out;
  if (c.absolute) out += '/';
  AppendParts(out, c.parts, 0);
  if (out.empty()) out = ".";
  return out;
}

bool Inside(const Components& path, const Components& folder) {
  if (path.absolute != folder.absolute || folder.parts.size() > path.parts.size()) return false;
  for (std::size_t i = 0; i < folder.parts.size(); ++i)
    if (!SameName(path.parts[i], folder.parts[i])) return false;
  // Leading ".." of a relative path climb out of the folder.
  return folder.parts.size() == path.parts.size() || path.parts[folder.parts.size()] != "..";
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The entry of `folder` whose name equals `name` ignoring case; the first in byte order
// when several do, so the choice does not depend on the directory's order.
bool FindIgnoringCase(const std::string& folder, std::string_view name, std::string& found) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  bool any = false;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view entryName(entry->d_name);
    if (!SameName(entryName, name)) continue;
    if (!any || entryName < found) found.assign(entryName);
    any = true;
  }
  ::closedir(dir);
  return any;
}

} // namespace

std::string ToHostPath(std::string_view path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

std::string BaseNameNoExt(std::string_view path) {
  std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::size_t point = name.rfind('.');
  if (point != std::string_view::npos) name = name.substr(0, point);
  return std::string(name);
}

bool IsAbsolutePath(std::string_view path) { return !path.empty() && IsSeparator(path[0]); }

std::string ParentFolder(std::string_view path) {
  Components c = Parse(path);
  if (!c.HasParent()) return std::string();
  c.parts.pop_back();
  return Text(c);
}

std::string JoinPath(std::string_view rel, std::string_view base) {
  if (rel.empty()) return base.empty() ? std::string() : Text(Parse(base));
  if (IsAbsolutePath(rel)) return Text(Parse(rel));
  Components joined = Parse(base);
  for (std::string_view part : Parse(rel).parts) joined.Push(part);
  return Text(joined);
}

bool IsInsideFolder(std::string_view path, std::string_view folder) {
  if (path.empty() || folder.empty()) return false;
  return Inside(Parse(path), Parse(folder));
}

std::string CommonFolder(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return std::string();
  Components folder = Parse(a);
  Components other = Parse(b);
  for (;;) {
    if (Inside(folder, other)) return Text(other);
    if (Inside(other, folder)) return Text(folder);
    if (!folder.HasParent()) return std::string();
    folder.parts.pop_back();
  }
}

std::string RelativePath(std::string_view path, std::string_view base) {
  if (!IsAbsolutePath(path)) return ToHostPath(path);
  Components target = Parse(path);
  Components folder = Parse(base);
  std::string out;
  while (!Inside(target, folder)) {
    if (!folder.HasParent()) return Text(target);
    folder.parts.pop_back();
    out += "../";
  }
  AppendParts(out, target.parts, folder.parts.size());
  return out;
}

bool SamePath(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  Components x = Parse(a);
  Components y = Parse(b);
  return x.parts.size() == y.parts.size() && Inside(x, y);
}

std::string ResolveExistingPath(const std::string& path) {
  if (path.empty()) return path;
  std::string host = ToHostPath(path);
  if (Exists(host)) return host;
  std::string real = host[0] == '/' ? "/" : "";
  std::size_t i = 0;
  std::string found;
  while (i < host.size()) {
    while (i < host.size() && host[i] == '/') ++i;
    std::size_t start = i;
    while (i < host.size() && host[i] != '/') ++i;
    if (i == start) break;
    std::string_view part(host.data() + start, i - start);
    std::string candidate = real;
    if (!candidate.empty() && candidate.back() != '/') candidate += '/';
    if (part != "." && part != ".." && !Exists(candidate + std::string(part))) {
      if (!FindIgnoringCase(real, part, found)) return path;
      part = found;
    }
    real = candidate + std::string(part);
  }
  return real;
}

} // namespace brova
