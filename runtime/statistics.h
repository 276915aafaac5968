// Live counters of the statistics line: each is raised when a thing of its kind is made
// and lowered when it is destroyed.
#pragma once
#include <cstdint>

namespace brova {

struct LiveCounters {
  int64_t countedBlocks = 0; // blocks from the script heap: instances, stacks, code, ...
  int64_t tokens = 0;        // live lexer tokens
  int64_t syntaxNodes = 0;   // live syntax-tree result lists
  int64_t stacks = 0;        // process stacks
  int64_t processes = 0;
  int64_t listElements = 0;  // array elements
  int64_t valueCells = 0;    // single value cells (array element cells)
  int64_t strings = 0;       // TfString holders
  int64_t functions = 0;     // TFunction records
};

extern LiveCounters g_live;

} // namespace brova
