#include "resources/environment.h"

#include <filesystem>
#include <fstream>

#include "runtime/text_case.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

std::vector<std::string>& Lines() {
  static std::vector<std::string> lines;
  return lines;
}

std::vector<std::string>& Recent() {
  static std::vector<std::string> pages;
  return pages;
}

constexpr std::string_view kPrefix = "env:";

// Whether `line` is "env:" + name + "=", the name compared ignoring case.
bool IsLineOf(std::string_view line, std::string_view name) {
  size_t keyEnd = kPrefix.size() + name.size();
  return line.size() > keyEnd && line[keyEnd] == '=' &&
         SameTextIgnoringCase(line.substr(0, keyEnd), std::string(kPrefix) + std::string(name));
}

} // namespace

void LoadEnvironment(const std::string& file) {
  Lines().clear();
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Lines().push_back(line);
  }
}

std::string GetEnv(std::string_view name) {
  for (const std::string& line : Lines())
    if (IsLineOf(line, name)) return line.substr(kPrefix.size() + name.size() + 1);
  return std::string();
}

void SetEnv(std::string_view name, std::string_view value) {
  std::erase_if(Lines(), [&](const std::string& line) { return IsLineOf(line, name); });
  Lines().push_back(std::string(kPrefix) + std::string(name) + "=" + std::string(value));
}

const std::vector<std::string>& EnvironmentLines() { return Lines(); }

void FillRecentPages(const std::string& programDir) {
  Recent().clear();
  for (int i = 0; i <= 9 && Recent().size() < kMaxRecentPages; ++i) {
    std::string page = GetEnv("RecentPage" + std::to_string(i));
    if (page.empty()) continue;
    std::string path = ResolveExistingPath(JoinPath(page, programDir));
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) Recent().push_back(path);
  }
}

void RecordRecentPage(const std::string& page, const std::string& programDir) {
  std::string path = JoinPath(page, programDir);
  std::string folder = ParentFolder(path);
  if (SamePath(folder, JoinPath("Usr", programDir))) return;
  std::erase_if(Recent(), [&](const std::string& p) { return SamePath(ParentFolder(p), folder); });
  Recent().insert(Recent().begin(), path);
  if (Recent().size() > kMaxRecentPages) Recent().resize(kMaxRecentPages);
}

const std::vector<std::string>& RecentPages() { return Recent(); }

} // namespace brova
