// The instruction set, written once. Every reader (code writer, fusion pass, listing, class
// file verifier, interpreter) takes the opcode numbers, sizes and operand layouts from here.
//
// Operand signature, one letter per 32-bit word after the opcode word:
//   v v  a TValue constant (two words)     i  signed int (count, index, local or argument)
//   s    SymbolId                          c  inline cache word (written while running)
//   C    class id                          F  function id           N  native function id
//   o    jump offset (bytes, from the opcode word)                  p  pad (ignored)
//   L    text length L; L bytes of text follow (Op_PushString only)
//   w    a plain word (source position)
//
// Stack effect: the cells an instruction takes from the top and the cells it leaves there
// (a conditional jump's fall-through path; the taken Jump_And / Jump_Or keep their operand).
// Calls take kCallCells: the receiver and argc arguments, leaving the result in the receiver.
#pragma once
#include <cstdint>

namespace brova {

// X(number, Name, size in bytes, operands, listing text, cells taken, cells left)
#define BROVA_OPCODES(X)                                                            \
  X(0, Pop, 4, "", "Pop", 1, 0)                                                 \
  X(1, Push, 12, "vv", "Push ", 0, 1)                                           \
  X(2, PushString, 8, "L", "PushString ", 0, 1)                                 \
  X(3, PushThis, 4, "", "PushThis", 0, 1)                                       \
  X(4, SMemberValPtr, 8, "i", "SMemberValPtr ", 1, 1)                           \
  X(5, DMemberValPtr, 12, "sc", "DMemberValPtr ", 1, 1)                         \
  X(6, LocalValPtr, 8, "i", "LocalValPtr ", 0, 1)                               \
  X(7, ArgValPtr, 8, "i", "ArgValPtr ", 0, 1)                                   \
  X(8, PushThis_SMemberValPtr, 12, "pi", "PushThis_SMemberValPtr ", 0, 1)       \
  X(9, PushThis_SMemberValPtr_Deref, 16, "pip", "PushThis_SMemberValPtr ", 0, 1)\
  X(10, DMemberValPtr_Deref, 16, "scp", "DMemberValPtr_Deref ", 1, 1)           \
  X(11, LocalValPtr_Deref, 12, "ip", "LocalValPtr_Deref ", 0, 1)                \
  X(12, ArgValPtr_Deref, 12, "ip", "ArgValPtr_Deref ", 0, 1)                    \
  X(13, Push_Deref, 16, "vvp", nullptr, 0, 1)                                   \
  X(14, DCall, 16, "isc", "DCall ", -1, 1)                                      \
  X(15, SCall, 12, "ii", "SCall ", -1, 1)                                       \
  X(16, SuperCall, 12, "iF", "SuperCall ", -1, 1)                               \
  X(17, NativeCall, 12, "iN", "NativeCall ", -1, 1)                             \
  X(18, Constructor, 12, "iC", "Constructor ", -1, 1)                           \
  X(19, Add, 4, "", "Add", 2, 1)                                                \
  X(20, Sub, 4, "", "Sub", 2, 1)                                                \
  X(21, Mul, 4, "", "Mul", 2, 1)                                                \
  X(22, Div, 4, "", "Div", 2, 1)                                                \
  X(23, Mod, 4, "", "Mod", 2, 1)                                                \
  X(24, GT, 4, "", "GT", 2, 1)                                                  \
  X(25, GTE, 4, "", "GTE", 2, 1)                                                \
  X(26, LT, 4, "", "LT", 2, 1)                                                  \
  X(27, LTE, 4, "", "LTE", 2, 1)                                                \
  X(28, EQ, 4, "", "EQ", 2, 1)                                                  \
  X(29, NEQ, 4, "", "NEQ", 2, 1)                                                \
  X(30, And, 4, "", "And", 0, 0)                                                \
  X(31, Or, 4, "", "Or", 0, 0)                                                  \
  X(32, Is, 8, "C", "Is ", 1, 1)                                                \
  X(33, Not, 4, "", "Not", 1, 1)                                                \
  X(34, Neg, 4, "", "Neg", 1, 1)                                                \
  X(35, Subst, 4, "", "Subst", 2, 1)                                            \
  X(36, AddSubst, 4, "", "AddSubst", 2, 1)                                      \
  X(37, SubSubst, 4, "", "SubSubst", 2, 1)                                      \
  X(38, Deref, 4, "", "Deref", 1, 1)                                            \
  X(39, Jump, 8, "o", "Jump", 0, 0)                                             \
  X(40, JumpZero, 8, "o", "JumpZero", 1, 0)                                     \
  X(41, Jump_And, 8, "o", "Jump_And", 1, 0)                                     \
  X(42, Jump_Or, 8, "o", "Jump_Or", 1, 0)                                       \
  X(43, Ret, 4, "", "Ret", 1, 0)                                                \
  X(44, InitForIn, 4, "", "InitForin", 2, 4)                                    \
  X(45, DoForIn, 8, "o", "DoForin", 4, 4)                                       \
  X(46, ClearForIn, 4, "", "ClearForin", 4, 0)                                  \
  X(47, Point, 16, "Cww", "Point ", 0, 0)                                       \
  X(48, Halt, 4, "", nullptr, 0, 0)

enum TOpcode : uint32_t {
#define BROVA_OPCODE_ENUM(num, name, size, operands, listing, pops, pushes) Op_##name = num,
  BROVA_OPCODES(BROVA_OPCODE_ENUM)
#undef BROVA_OPCODE_ENUM
};

inline constexpr uint32_t kOpcodeCount = 49;
inline constexpr int32_t kCallCells = -1;

struct TOpcodeInfo {
  const char* name;     // "Op_Pop" ...
  uint32_t size;        // bytes including the opcode word (Op_PushString: without its text)
  const char* operands; // signature, see above
  const char* listing;  // listing text; null where the listing does not handle the opcode
  int32_t pops;         // cells taken from the top (kCallCells: receiver and arguments)
  int32_t pushes;       // cells left on the top
};

inline constexpr TOpcodeInfo kOpcodeInfo[kOpcodeCount] = {
#define BROVA_OPCODE_INFO(num, name, size, operands, listing, pops, pushes)                   \
  {"Op_" #name, size, operands, listing, pops, pushes},
    BROVA_OPCODES(BROVA_OPCODE_INFO)
#undef BROVA_OPCODE_INFO
};

constexpr uint32_t SignatureWords(const char* s) {
  uint32_t n = 0;
  while (*s++) ++n;
  return n;
}

// The sizes of the table agree with the operand signatures.
#define BROVA_OPCODE_CHECK(num, name, size, operands, listing, pops, pushes)                \
  static_assert(size == 4 + 4 * SignatureWords(operands), "size of Op_" #name);    \
  static_assert(num == Op_##name);
BROVA_OPCODES(BROVA_OPCODE_CHECK)
#undef BROVA_OPCODE_CHECK

inline bool IsValidOpcode(uint32_t op) { return op < kOpcodeCount; }

} // namespace brova
