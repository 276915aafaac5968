// Verification of code read from a compiled-class file. Generated code always passes; a
// file that was damaged, truncated or made by someone else must not reach the interpreter,
// which trusts operands such as jump offsets and slot references.
#pragma once
#include <cstdint>

namespace brova {

struct TCompiledInfo;
struct TSymInfoList;

// Before relinking writes into the code: a non-empty block of whole words, every opcode
// valid and every instruction inside the block, the last one Op_Halt, the words inside a
// fused instruction as fusion left them, every jump landing on an instruction of the block,
// and every recorded symbol offset on an instruction of its kind.
bool CheckCodeShape(const uint32_t* code, uint32_t size, const TSymInfoList& symbols);

// After relinking: constants are numbers or null, except the pushes relinking made slot
// references; every instruction that names a class, function, native, symbol, field or
// method was relinked; the ids are live; inline caches start at 0; the stack analysis of
// the interpreter finds the block runnable.
bool CheckLinkedCode(TCompiledInfo& code);

} // namespace brova
