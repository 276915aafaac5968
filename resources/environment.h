// Environment values ("env:NAME=VALUE" lines read from Kernel/Cookies.ini at boot and held in
// memory) and the list of recent pages.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace brova {

// Replaces the values by the lines of `file`; a missing file leaves none.
void LoadEnvironment(const std::string& file);
// The value of "env:NAME" (the name compared ignoring case), or "".
std::string GetEnv(std::string_view name);
// Removes every line of that name (ignoring case, so that GetEnv cannot find an older
// spelling first) and appends the new one.
void SetEnv(std::string_view name, std::string_view value);
const std::vector<std::string>& EnvironmentLines();

inline constexpr size_t kMaxRecentPages = 9;

// The pages of RecentPage0 to RecentPage9, resolved against `programDir`; files that no
// longer exist are skipped, and at most kMaxRecentPages are kept.
void FillRecentPages(const std::string& programDir);
// A page just opened goes to the front, replacing the entry of its folder; pages in the
// program folder's Usr are not recorded.
void RecordRecentPage(const std::string& page, const std::string& programDir);
const std::vector<std::string>& RecentPages();

} // namespace brova
