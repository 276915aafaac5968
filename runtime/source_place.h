// Where a process stands: what a runtime error message adds, so that a game author can tell
// which object's method failed.
#pragma once
#include <string>

namespace brova {

class TProcess;

// " (Class.method)" for the innermost frame of p, " (Class)" in a class body; empty when p
// has no frame or its class was not read from a source file.
std::string SourcePlace(const TProcess* p);

} // namespace brova
