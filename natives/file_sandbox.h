// Confinement of script file names to the `files` folder beside the open page.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace brova::natives {

// The `files` folder of the open page; empty until a page sets it, and then every name is
// refused.
void SetFilesFolder(std::string path);
const std::string& FilesFolder();

// The path a script's name stands for: every "\", ":" and ".." deleted, the rest split at "/"
// with empty parts dropped, and joined below the files folder. "save/game1.dat" gives
// FILES/save/game1.dat, "../../x.txt" gives FILES/x.txt, "C:\temp\x" gives FILES/Ctempx.
std::string SandboxPath(std::string_view name);

// SandboxPath, when its real location (with symbolic links followed as far as the path
// exists) is inside the real files folder; nothing otherwise.
std::optional<std::string> ConfinedPath(std::string_view name);

// Creates the parent chain first, then the folder itself; true when the folder exists after.
bool MakeFolders(const std::string& path);

} // namespace brova::natives
