// What the process record and the instruction loop share.
#pragma once
#include <algorithm>
#include <cstdint>

#include "runtime/code.h"
#include "runtime/process.h"

namespace brova::detail {

// Executes instructions of `p` until its slice's steps are used up or it suspends or
// finishes. Errors propagate with the process state saved at the failing instruction.
void ExecuteSlice(TProcess* p);

// The decode map (heap::g_decodeMap) of a code block: Decode gives each instruction of a
// runnable block the handler that runs it, the statement or operation it begins included;
// the handlers then check only values. ForgetDecoding clears the block's entries, so the
// interpreter dispatches on its opcode words again.
void Decode(const TCompiledInfo& code);
void ForgetDecoding(HeapAddr code, uint32_t size);

// The locals a call of `code` sets up: the function's own, or more if its code names more.
inline uint32_t FrameLocals(uint32_t declared, const TCompiledInfo& code) {
  return std::max(declared, code.localsUsed);
}

// Bytes that must lie between a new frame's address and the stack's base: the locals below
// local 0 and the most cells the code pushes.
inline int64_t FrameReserve(uint32_t locals, const TCompiledInfo& code) {
  return std::max<int64_t>(0, 8 * (int64_t(locals) + code.maxStack - 1));
}

} // namespace brova::detail
