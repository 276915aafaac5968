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
#pragma once
#include <cstdint>

namespace brova {

// X(number, Name, size in bytes, operands, listing text)
#define BROVA_OPCODES(X)                                                            \
  X(0, Pop, 4, "", "Pop")                                                           \
  X(1, Push, 12, "vv", "Push ")                                                     \
  X(2, PushString, 8, "L", "PushString ")                                           \
  X(3, PushThis, 4, "", "PushThis")                                                 \
  X(4, SMemberValPtr, 8, "i", "SMemberValPtr ")                                     \
  X(5, DMemberValPtr, 12, "sc", "DMemberValPtr ")                                   \
  X(6, LocalValPtr, 8, "i", "LocalValPtr ")                                         \
  X(7, ArgValPtr, 8, "i", "ArgValPtr ")                                             \
  X(8, PushThis_SMemberValPtr, 12, "pi", "PushThis_SMemberValPtr ")                 \
  X(9, PushThis_SMemberValPtr_Deref, 16, "pip", "PushThis_SMemberValPtr ")          \
  X(10, DMemberValPtr_Deref, 16, "scp", "DMemberValPtr_Deref ")                     \
  X(11, LocalValPtr_Deref, 12, "ip", "LocalValPtr_Deref ")                          \
  X(12, ArgValPtr_Deref, 12, "ip", "ArgValPtr_Deref ")                              \
  X(13, Push_Deref, 16, "vvp", nullptr)                                             \
  X(14, DCall, 16, "isc", "DCall ")                                                 \
  X(15, SCall, 12, "ii", "SCall ")                                                  \
  X(16, SuperCall, 12, "iF", "SuperCall ")                                          \
  X(17, NativeCall, 12, "iN", "NativeCall ")                                        \
  X(18, Constructor, 12, "iC", "Constructor ")                                      \
  X(19, Add, 4, "", "Add")                                                          \
  X(20, Sub, 4, "", "Sub")                                                          \
  X(21, Mul, 4, "", "Mul")                                                          \
  X(22, Div, 4, "", "Div")                                                          \
  X(23, Mod, 4, "", "Mod")                                                          \
  X(24, GT, 4, "", "GT")                                                            \
  X(25, GTE, 4, "", "GTE")                                                          \
  X(26, LT, 4, "", "LT")                                                            \
  X(27, LTE, 4, "", "LTE")                                                          \
  X(28, EQ, 4, "", "EQ")                                                            \
  X(29, NEQ, 4, "", "NEQ")                                                          \
  X(30, And, 4, "", "And")                                                          \
  X(31, Or, 4, "", "Or")                                                            \
  X(32, Is, 8, "C", "Is ")                                                          \
  X(33, Not, 4, "", "Not")                                                          \
  X(34, Neg, 4, "", "Neg")                                                          \
  X(35, Subst, 4, "", "Subst")                                                      \
  X(36, AddSubst, 4, "", "AddSubst")                                                \
  X(37, SubSubst, 4, "", "SubSubst")                                                \
  X(38, Deref, 4, "", "Deref")                                                      \
  X(39, Jump, 8, "o", "Jump")                                                       \
  X(40, JumpZero, 8, "o", "JumpZero")                                               \
  X(41, Jump_And, 8, "o", "Jump_And")                                               \
  X(42, Jump_Or, 8, "o", "Jump_Or")                                                 \
  X(43, Ret, 4, "", "Ret")                                                          \
  X(44, InitForIn, 4, "", "InitForin")                                              \
  X(45, DoForIn, 8, "o", "DoForin")                                                 \
  X(46, ClearForIn, 4, "", "ClearForin")                                            \
  X(47, Point, 16, "Cww", "Point ")                                                 \
  X(48, Halt, 4, "", nullptr)

enum TOpcode : uint32_t {
#define BROVA_OPCODE_ENUM(num, name, size, operands, listing) Op_##name = num,
  BROVA_OPCODES(BROVA_OPCODE_ENUM)
#undef BROVA_OPCODE_ENUM
};

inline constexpr uint32_t kOpcodeCount = 49;

struct TOpcodeInfo {
  const char* name;     // "Op_Pop" ...
  uint32_t size;        // bytes including the opcode word (Op_PushString: without its text)
  const char* operands; // signature, see above
  const char* listing;  // listing text; null where the listing does not handle the opcode
};

inline constexpr TOpcodeInfo kOpcodeInfo[kOpcodeCount] = {
#define BROVA_OPCODE_INFO(num, name, size, operands, listing) {"Op_" #name, size, operands, listing},
    BROVA_OPCODES(BROVA_OPCODE_INFO)
#undef BROVA_OPCODE_INFO
};

constexpr uint32_t SignatureWords(const char* s) {
  uint32_t n = 0;
  while (*s++) ++n;
  return n;
}

// The sizes of the table agree with the operand signatures.
#define BROVA_OPCODE_CHECK(num, name, size, operands, listing)                   \
  static_assert(size == 4 + 4 * SignatureWords(operands), "size of Op_" #name);    \
  static_assert(num == Op_##name);
BROVA_OPCODES(BROVA_OPCODE_CHECK)
#undef BROVA_OPCODE_CHECK

inline bool IsValidOpcode(uint32_t op) { return op < kOpcodeCount; }

} // namespace brova
