#include "compiler/code_verifier.h"

#include <set>
#include <utility>
#include <vector>

#include "runtime/code.h"
#include "runtime/rtti.h"
#include "runtime/symbols.h"

namespace brova {
namespace {

enum : uint8_t { kNoStart = 0, kTopStart = 1, kInnerStart = 2 };

// The words inside a fused instruction still hold the instructions it was fused from; a
// jump may land on them.
bool MarkInner(const uint32_t* w, uint32_t at, std::vector<uint8_t>& start) {
  auto inner = [&](uint32_t offset, uint32_t op) {
    if (w[(at + offset) / 4] != op) return false;
    start[(at + offset) / 4] = kInnerStart;
    return true;
  };
  switch (w[at / 4]) {
  case Op_PushThis_SMemberValPtr: return inner(4, Op_SMemberValPtr);
  case Op_PushThis_SMemberValPtr_Deref: return inner(4, Op_SMemberValPtr) && inner(12, Op_Deref);
  case Op_LocalValPtr_Deref:
  case Op_ArgValPtr_Deref: return inner(8, Op_Deref);
  case Op_DMemberValPtr_Deref:
  case Op_Push_Deref: return inner(12, Op_Deref);
  default: return true;
  }
}

bool IsJump(uint32_t op) {
  return op == Op_Jump || op == Op_JumpZero || op == Op_Jump_And || op == Op_Jump_Or ||
         op == Op_DoForIn;
}

// The instructions a symbol element of this kind may name.
bool KindFits(uint32_t kind, uint32_t op) {
  switch (kind) {
  case Op_Push: return op == Op_Push || op == Op_Push_Deref;
  case Op_DMemberValPtr: return op == Op_DMemberValPtr || op == Op_DMemberValPtr_Deref;
  case Op_SMemberValPtr:
  case Op_DCall:
  case Op_SCall:
  case Op_SuperCall:
  case Op_NativeCall:
  case Op_Constructor:
  case Op_Is: return op == kind;
  default: return false;
  }
}

// The opcode whose symbol element must cover an instruction, or Op_Halt for none.
uint32_t RecordedKind(uint32_t op) {
  switch (op) {
  case Op_DMemberValPtr:
  case Op_DMemberValPtr_Deref: return Op_DMemberValPtr;
  case Op_SMemberValPtr:
  case Op_DCall:
  case Op_SCall:
  case Op_SuperCall:
  case Op_NativeCall:
  case Op_Constructor:
  case Op_Is: return op;
  default: return Op_Halt;
  }
}

} // namespace

bool CheckCodeShape(const uint32_t* w, uint32_t size, const TSymInfoList& symbols) {
  if (size == 0 || size % 4 != 0) return false;
  std::vector<uint8_t> start(size / 4, kNoStart);
  uint32_t last = 0;
  for (uint32_t at = 0; at < size;) {
    uint32_t n = InstructionSize(w, at, size);
    if (n == 0) return false;
    start[at / 4] = kTopStart;
    if (!MarkInner(w, at, start)) return false;
    if (w[at / 4] == Op_PushString) {
      uint32_t len = w[at / 4 + 1];
      if (len == 0 || reinterpret_cast<const uint8_t*>(w)[at + 8 + len - 1] != 0) return false;
    }
    last = at;
    at += n;
  }
  if (w[last / 4] != Op_Halt) return false;
  for (uint32_t at = 0; at < size; at += 4) {
    if (start[at / 4] != kTopStart || !IsJump(w[at / 4])) continue;
    int64_t target = int64_t(at) + static_cast<int32_t>(w[at / 4 + 1]);
    if (target < 0 || target >= size || target % 4 != 0 || start[target / 4] == kNoStart)
      return false;
  }
  for (const TCInfoElem& e : symbols.elems) {
    for (int32_t off : e.offsets) {
      if (off < 0 || static_cast<uint32_t>(off) >= size || off % 4 != 0) return false;
      uint8_t s = start[off / 4];
      // Only a field access stands inside a fused instruction.
      if (s == kNoStart || (s == kInnerStart && e.kind != Op_SMemberValPtr)) return false;
      if (!KindFits(e.kind, w[off / 4])) return false;
    }
  }
  return true;
}

bool CheckLinkedCode(TCompiledInfo& code) {
  uint32_t* w = code.Words();
  const uint32_t size = code.size;
  std::set<std::pair<uint32_t, int32_t>> recorded; // (kind, offset)
  std::set<int32_t> slotPushes;                    // pushes relinked to a value slot
  for (const TCInfoElem& e : code.symbols.elems)
    for (int32_t off : e.offsets) {
      recorded.insert({e.kind, off});
      if (e.kind == Op_Push && !e.text.empty()) slotPushes.insert(off);
    }
  auto covered = [&](uint32_t kind, uint32_t at) {
    return recorded.count({kind, static_cast<int32_t>(at)}) != 0;
  };
  const size_t symbolCount = SymbolCount();
  for (uint32_t at = 0; at < size;) {
    uint32_t n = InstructionSize(w, at, size);
    if (n == 0) return false;
    uint32_t op = w[at / 4];
    uint32_t* operand = w + at / 4 + 1;
    uint32_t kind = RecordedKind(op);
    if (kind != Op_Halt && !covered(kind, at)) return false;
    switch (op) {
    case Op_Push:
    case Op_Push_Deref: {
      uint32_t vkind = operand[0];
      bool number = vkind == vtNull || vkind == vtInt || vkind == vtFloat;
      if (!number && !(vkind == vtRef && slotPushes.count(static_cast<int32_t>(at)))) return false;
      break;
    }
    case Op_PushThis_SMemberValPtr:
    case Op_PushThis_SMemberValPtr_Deref:
      if (!covered(Op_SMemberValPtr, at + 4)) return false;
      break;
    case Op_DMemberValPtr:
    case Op_DMemberValPtr_Deref:
      if (operand[0] >= symbolCount) return false;
      operand[1] = 0;
      break;
    case Op_DCall:
      if (operand[1] >= symbolCount) return false;
      operand[2] = 0;
      break;
    case Op_SuperCall: {
      TFunction* fn = FunctionById(operand[1]);
      if (!fn || fn->IsNative()) return false;
      break;
    }
    case Op_NativeCall: {
      TFunction* fn = FunctionById(operand[1]);
      if (!fn || !fn->IsNative()) return false;
      break;
    }
    case Op_Constructor:
      if (!ClassById(operand[1])) return false;
      break;
    case Op_Is:
      if (!ClassById(operand[0])) return false;
      break;
    case Op_Point:
      if (operand[0] != 0 && !ClassById(operand[0])) return false;
      break;
    default: break;
    }
    at += n;
  }
  code.AnalyzeStack();
  return code.Runnable();
}

} // namespace brova
