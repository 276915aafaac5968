// Where in its source a running instruction came from, for error traces.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/script_heap.h"

namespace brova {

struct TCompiledInfo;

// The owner class's dotted path, "," and the source byte offset of the position mark
// recorded last among those below `address` (a heap address inside the block); "none" when
// the block has no owner class or no such mark.
std::string SourcePositionOf(const TCompiledInfo& code, HeapAddr address);

} // namespace brova
