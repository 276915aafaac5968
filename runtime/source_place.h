// Where a process stands: what a runtime error message adds, so that a game author can find
// the statement that failed.
#pragma once
#include <string>

namespace brova {

class TProcess;

// " (Class.method, near line N)" for the innermost frame of p, " (Class, near line N)" in a
// class body, without the line when the code records no position there or the source cannot be
// read; empty when p has no frame or its class was not read from a source file.
std::string SourcePlace(const TProcess* p);

} // namespace brova
