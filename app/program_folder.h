// The program folder: the folder holding kernel/resource.brovares. Temp/ caches live there.
#pragma once
#include <string>

namespace brova {

// --home DIR when given, else $BROVA_HOME, else the executable's folder or the nearest of its
// parents that holds the kernel. Returns an empty text when none holds it.
std::string FindProgramFolder(const std::string& homeOption);

// True when `dir` holds kernel/resource.brovares (letter case ignored).
bool HoldsKernel(const std::string& dir);

} // namespace brova
