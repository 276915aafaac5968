#include "runtime/code.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/interpreter.h"
#include "runtime/rtti.h"
#include "runtime/translate.h"

#if defined(__GNUC__)
#define BROVA_INLINE_LAMBDA __attribute__((always_inline))
#else
#define BROVA_INLINE_LAMBDA
#endif

namespace brova {

void TSymInfoList::Record(uint32_t kind, std::string_view text, int32_t offset) {
  if (kind == Op_Point) {
    positions.push_back({std::string(text), offset});
    return;
  }
  for (TCInfoElem& e : elems) {
    if (e.kind == kind && e.text == text) {
      e.offsets.push_back(offset);
      return;
    }
  }
  elems.push_back({kind, std::string(text), {offset}});
}

void TSymInfoList::WriteListing(std::vector<std::string>& lines) const {
  for (const TCInfoElem& e : elems)
    for (int32_t off : e.offsets)
      lines.push_back(std::string("op=") + OpcodeName(e.kind) + " ,addr=" + std::to_string(off) +
                      " ,info=" + e.text);
}

TCompiledInfo::~TCompiledInfo() {
  detail::ForgetDecoding(code, size);
  heap::Free(code, size);
}

namespace {

// The second instruction of a fused pair keeps its words and stays a valid jump target.
void MarkInnerInstructions(const uint32_t* w, uint32_t at, std::vector<uint8_t>& start) {
  switch (w[at / 4]) {
  case Op_PushThis_SMemberValPtr: start[(at + 4) / 4] = 1; break;
  case Op_PushThis_SMemberValPtr_Deref: start[(at + 4) / 4] = start[(at + 12) / 4] = 1; break;
  case Op_LocalValPtr_Deref:
  case Op_ArgValPtr_Deref: start[(at + 8) / 4] = 1; break;
  case Op_DMemberValPtr_Deref:
  case Op_Push_Deref: start[(at + 12) / 4] = 1; break;
  default: break;
  }
}

constexpr int32_t kMaxLocalIndex = 1 << 20;
constexpr uint32_t kMaxFieldIndex = 1u << 24;

} // namespace

namespace {

TForwarder RecogniseForwarder(const uint32_t* w, uint32_t size) {
  TForwarder f;
  auto op = [&](uint32_t at) { return at + 4 <= size ? w[at / 4] : UINT32_MAX; };
  if (op(0) != Op_PushThis) return f;
  uint32_t at = 4;
  for (;; ++f.operands) {
    uint32_t n = InstructionSize(w, at, size);
    if (n == 0) return f;
    if (op(at) == Op_NativeCall) break;
    if (f.operands == TForwarder::kMaxOperands) return f;
    TForwarder::TOperand& o = f.operand[f.operands];
    switch (op(at)) {
    case Op_PushThis_SMemberValPtr_Deref:
      if (w[at / 4 + 2] >= kMaxFieldIndex) return f; // left to the instruction loop
      o = {TForwarder::Field, w[at / 4 + 2], 0};
      f.fieldsNeeded = std::max(f.fieldsNeeded, o.a + 1);
      break;
    case Op_ArgValPtr_Deref: o = {TForwarder::Arg, w[at / 4 + 1], 0}; break;
    case Op_Push: o = {TForwarder::Constant, w[at / 4 + 1] & 0xFF, w[at / 4 + 2]}; break;
    default: return f;
    }
    at += n;
  }
  if (w[at / 4 + 1] != f.operands) return f;
  f.fieldThenArgs = f.operands > 0 && f.operand[0].kind == TForwarder::Field;
  for (uint32_t k = 1; k < f.operands; ++k)
    f.fieldThenArgs &= f.operand[k].kind == TForwarder::Arg && f.operand[k].a == k - 1;
  f.nativeAt = at;
  f.native = w[at / 4 + 2];
  at += 12;
  if (op(at) == Op_Ret) {
    f.tail = TForwarder::ReturnResult;
    f.tailSteps = 1;
  } else if (op(at) == Op_Pop && op(at + 4) == Op_PushThis && op(at + 8) == Op_Ret) {
    f.tail = TForwarder::ReturnThis;
    f.tailSteps = 3;
  } else if (op(at) == Op_Pop && op(at + 4) == Op_ArgValPtr_Deref && op(at + 16) == Op_Ret) {
    f.tail = TForwarder::ReturnArg;
    f.tailArg = w[at / 4 + 2];
    f.tailSteps = 3;
  }
  return f;
}

} // namespace

void TCompiledInfo::ShapeFrame(uint32_t declared) const {
  frameShape_.declared = declared;
  frameShape_.locals = detail::FrameLocals(declared, *this);
  frameShape_.reserve = detail::FrameReserve(frameShape_.locals, *this);
  frameShape_.dynamicReserve =
      std::max<int64_t>(frameShape_.reserve, 8 * (int64_t(frameShape_.locals) - 1) + 100);
  frameShape_.forward = frameShape_.locals == 0 && Runnable() ? RecogniseForwarder(Words(), size)
                                                             : TForwarder{};
}

void TCompiledInfo::AnalyzeStack() {
  maxStack = kUnrunnableStack;
  localsUsed = 0;
  frameShape_ = TFrameShape{};
  detail::ForgetDecoding(code, size);
  const uint32_t* w = Words();
  const uint32_t words = size / 4;
  if (words == 0 || size % 4 != 0) return;

  // Where instructions start, walking the block in order; jumps may land only there, so
  // no path decodes operands (such as cache words, rewritten while running) as opcodes.
  // The walk also keeps each size, so the paths below measure only inner instructions.
  std::vector<uint8_t> start(words, 0);
  std::vector<uint32_t> sizes(words, 0);
  for (uint32_t at = 0; at < size;) {
    start[at / 4] = 1;
    uint32_t n = InstructionSize(w, at, size);
    if (n == 0) break;
    sizes[at / 4] = n;
    MarkInnerInstructions(w, at, start);
    at += n;
  }

  // Depth in cells above the frame's empty stack at each instruction, as the range over
  // every path that reaches it: the least depth must cover what the instruction pops (a
  // path that arrives shallower would pop below the frame), the greatest gives the peak.
  // A path can add at most two cells per instruction, so a deeper one runs round a loop
  // that grows the stack.
  struct TReached {
    int32_t low = -1, high = -1;
    bool queued = false;
  };
  const int64_t limit = 2 * int64_t(words) + 8;
  std::vector<TReached> reached(words);
  std::vector<uint32_t> work;
  const uint8_t* const starts = start.data();
  TReached* const r = reached.data();
  bool ok = true;
  // Inlined: it runs once or twice for every instruction of every block compiled.
  auto reach = [&](int64_t target, int32_t lo, int32_t hi) BROVA_INLINE_LAMBDA {
    if (target < 0 || target >= size || target % 4 != 0 || !starts[target / 4] || hi > limit) {
      ok = false;
      return;
    }
    TReached& e = r[target / 4];
    if (e.high >= 0 && e.low <= lo && e.high >= hi) return;
    e.low = e.high < 0 ? lo : std::min(e.low, lo);
    e.high = std::max(e.high, hi);
    if (!e.queued) {
      e.queued = true;
      work.push_back(static_cast<uint32_t>(target));
    }
  };
  int32_t peak = 0;
  uint32_t locals = 0;
  reach(0, 0, 0);
  while (ok && !work.empty()) {
    const uint32_t at = work.back();
    work.pop_back();
    TReached& here = r[at / 4];
    here.queued = false;
    const int32_t lo = here.low, d = here.high;
    uint32_t op = w[at / 4];
    if (!IsValidOpcode(op)) continue; // the interpreter stops here with a runtime error
    uint32_t n = sizes[at / 4] ? sizes[at / 4] : InstructionSize(w, at, size);
    if (n == 0) {
      ok = false;
      break;
    }
    const TOpcodeInfo& info = kOpcodeInfo[op];
    int64_t pops = info.pops;
    if (pops == kCallCells) {
      int32_t argc = static_cast<int32_t>(w[at / 4 + 1]);
      if (argc < 0 || argc > limit) {
        ok = false;
        break;
      }
      pops = int64_t(argc) + 1;
    }
    if (lo < pops) {
      ok = false;
      break;
    }
    int32_t afterLow = static_cast<int32_t>(lo - pops + info.pushes);
    int32_t after = static_cast<int32_t>(d - pops + info.pushes);
    peak = std::max(peak, after);
    switch (op) {
    case Op_Push:
    case Op_Push_Deref: {
      uint32_t kind = w[at / 4 + 1] & 0xFF;
      if (kind >= kValueKinds || kind == vtObject) ok = false;
      break;
    }
    case Op_LocalValPtr:
    case Op_LocalValPtr_Deref: {
      int32_t k = static_cast<int32_t>(w[at / 4 + 1]);
      if (k < 0 || k >= kMaxLocalIndex) ok = false;
      else locals = std::max(locals, static_cast<uint32_t>(k) + 1);
      break;
    }
    default: break;
    }
    int64_t next = int64_t(at) + n;
    auto target = [&] { return int64_t(at) + static_cast<int32_t>(w[at / 4 + 1]); };
    switch (op) {
    case Op_Halt:
    case Op_Ret: break;
    case Op_Jump: reach(target(), afterLow, after); break;
    case Op_JumpZero:
    case Op_DoForIn:
      reach(next, afterLow, after);
      reach(target(), afterLow, after);
      break;
    case Op_Jump_And:
    case Op_Jump_Or:
      reach(next, afterLow, after);
      reach(target(), lo, d); // the deciding operand stays on the stack
      break;
    default: reach(next, afterLow, after);
    }
  }
  if (!ok) return;
  maxStack = static_cast<uint32_t>(peak);
  localsUsed = locals;
  detail::Decode(*this);
}

void TCompiledInfo::Fuse() {
  FuseInstructions(Words(), size);
  if (Runnable()) detail::Decode(*this);
}

TCompiledInfo* MakeCompiledInfo(const uint8_t* bytes, uint32_t size, TSymInfoList symbols,
                                TRTTI* owner) {
  HeapAddr block = heap::Allocate(size);
  std::memcpy(HeapPtr(block), bytes, size);
  return new TCompiledInfo(std::move(symbols), block, size, owner);
}

uint32_t InstructionSize(const uint32_t* code, uint32_t offset, uint32_t blockSize) {
  if (offset % 4 != 0 || offset + 4 > blockSize) return 0;
  uint32_t op = code[offset / 4];
  if (!IsValidOpcode(op)) return 0;
  uint64_t size = kOpcodeInfo[op].size;
  if (op == Op_PushString) {
    if (offset + 8 > blockSize) return 0;
    uint32_t len = code[offset / 4 + 1];
    if (len % 4 != 0) return 0;
    size += len;
  }
  if (offset + size > blockSize) return 0;
  return static_cast<uint32_t>(size);
}

// ---- writer

TProgWriter::TProgWriter(TRTTI* owner) : owner_(owner) { buffer_.resize(256); }

void TProgWriter::WriteWord(uint32_t word) {
  while (static_cast<size_t>(pos_) + 4 > buffer_.size()) buffer_.resize(buffer_.size() * 2);
  std::memcpy(buffer_.data() + pos_, &word, 4);
  pos_ += 4;
  bytesWritten_ += 4;
  if (pos_ > size_) size_ = pos_;
}

int32_t TProgWriter::Emit(TOpcode op, std::initializer_list<uint32_t> operands) {
  int32_t at = pos_;
  WriteWord(op);
  for (uint32_t w : operands) WriteWord(w);
  ++instructionsWritten_;
  return at;
}

int32_t TProgWriter::EmitPush(const TValue& constant) {
  if (constant.kind == vtObject) throw EScriptError("WritePush Error");
  return Emit(Op_Push, {constant.kind, constant.u});
}

int32_t TProgWriter::EmitPushString(std::string_view text) {
  // The text area holds the bytes, a zero byte, and zeros up to a multiple of 4.
  uint32_t len = (static_cast<uint32_t>(text.size()) + 4) & ~3u;
  int32_t at = Emit(Op_PushString, {len});
  std::vector<uint8_t> area(len, 0);
  std::memcpy(area.data(), text.data(), text.size());
  for (uint32_t i = 0; i < len; i += 4) {
    uint32_t w;
    std::memcpy(&w, area.data() + i, 4);
    WriteWord(w);
  }
  return at;
}

int32_t TProgWriter::EmitJump(TOpcode op, int32_t offset) {
  return Emit(op, {static_cast<uint32_t>(offset)});
}

void TProgWriter::PatchJump(int32_t jumpAt, int32_t target) {
  int32_t off = target - jumpAt;
  std::memcpy(buffer_.data() + jumpAt + 4, &off, 4);
}

TCompiledInfo* TProgWriter::Finish() {
  return MakeCompiledInfo(buffer_.data(), static_cast<uint32_t>(size_), std::move(symbols_),
                          owner_);
}

TCompiledInfo* TProgWriter::FinishFused() {
  FuseInstructions(reinterpret_cast<uint32_t*>(buffer_.data()), static_cast<uint32_t>(size_));
  return Finish();
}

// ---- fusion

void FuseInstructions(uint32_t* code, uint32_t size) {
  if (heap::Holds(code, size)) detail::ForgetDecoding(HeapAddrOf(code), size);
  uint32_t at = 0; // byte offset
  auto word = [&](uint32_t byteOff) -> uint32_t {
    return byteOff + 4 <= size ? code[byteOff / 4] : UINT32_MAX;
  };
  while (at + 4 <= size) {
    uint32_t op = code[at / 4];
    switch (op) {
    case Op_Halt: return;
    case Op_Push:
      if (word(at + 12) == Op_Deref) {
        code[at / 4] = Op_Push_Deref;
        at += 16;
      } else {
        at += 12;
      }
      continue;
    case Op_PushThis:
      if (word(at + 4) == Op_SMemberValPtr) {
        if (word(at + 12) == Op_Deref) {
          code[at / 4] = Op_PushThis_SMemberValPtr_Deref;
          at += 16;
        } else {
          code[at / 4] = Op_PushThis_SMemberValPtr;
          at += 12;
        }
      } else {
        at += 4;
      }
      continue;
    case Op_DMemberValPtr:
      if (word(at + 12) == Op_Deref) {
        code[at / 4] = Op_DMemberValPtr_Deref;
        at += 16;
      } else {
        at += 12;
      }
      continue;
    case Op_LocalValPtr:
    case Op_ArgValPtr:
      if (word(at + 8) == Op_Deref) {
        code[at / 4] = op == Op_LocalValPtr ? Op_LocalValPtr_Deref : Op_ArgValPtr_Deref;
        at += 12;
      } else {
        at += 8;
      }
      continue;
    default: {
      uint32_t n = InstructionSize(code, at, size);
      if (n == 0) throw EScriptError(Translate("Invalid Instruction") + std::to_string(op));
      at += n;
    }
    }
  }
}

// ---- listing

const char* OpcodeName(uint32_t op) {
  return IsValidOpcode(op) ? kOpcodeInfo[op].name : "Invalid Code";
}

namespace {

std::string FunctionNameOf(uint32_t id) {
  TFunction* fn = FunctionById(id);
  return fn ? fn->GetName() : std::string();
}

std::string ClassTextOf(uint32_t id) {
  TRTTI* cls = ClassById(id);
  return cls ? ClassText(cls) : std::string();
}

} // namespace

void ListCode(const TCompiledInfo& info, std::vector<std::string>& lines) {
  const uint32_t* code = info.Words();
  uint32_t at = 0;
  while (at + 4 <= info.size) {
    uint32_t op = code[at / 4];
    if (op == Op_Halt) return;
    uint32_t n = InstructionSize(code, at, info.size);
    if (n == 0 || !kOpcodeInfo[op].listing) throw EScriptError("異常な命令が入っています");
    const uint32_t* w = code + at / 4; // w[0] is the opcode
    char addr[16];
    std::snprintf(addr, sizeof addr, "%08X:", info.code + at);
    std::string line = std::string(addr) + kOpcodeInfo[op].listing;
    auto num = [](uint32_t x) { return std::to_string(static_cast<int32_t>(x)); };
    switch (op) {
    case Op_Push: line += ValueToText(MakeValue(static_cast<TVType>(w[1] & 0xFF), w[2])); break;
    case Op_PushString:
      line += std::string(reinterpret_cast<const char*>(w + 2), strnlen(reinterpret_cast<const char*>(w + 2), w[1]));
      break;
    case Op_SMemberValPtr:
    case Op_LocalValPtr:
    case Op_ArgValPtr:
    case Op_LocalValPtr_Deref:
    case Op_ArgValPtr_Deref: line += num(w[1]); break;
    case Op_DMemberValPtr: line += SymbolName(w[1]); break;
    case Op_PushThis_SMemberValPtr:
    case Op_PushThis_SMemberValPtr_Deref: line += num(w[2]); break;
    case Op_DMemberValPtr_Deref: line += std::to_string(w[1]); break;
    case Op_DCall: line += num(w[1]) + "," + SymbolName(w[2]); break;
    case Op_SCall: line += num(w[1]) + "," + num(w[2]); break;
    case Op_SuperCall:
    case Op_NativeCall: line += num(w[1]) + "," + FunctionNameOf(w[2]); break;
    case Op_Constructor: line += num(w[1]) + "," + ClassTextOf(w[2]); break;
    case Op_Is: line += ClassTextOf(w[1]); break;
    case Op_Jump:
    case Op_JumpZero:
    case Op_Jump_And:
    case Op_Jump_Or:
    case Op_DoForIn: line += num(w[1]); break;
    case Op_Point: {
      TRTTI* cls = ClassById(w[1]);
      line += (cls ? cls->name : std::string()) + "/" + num(w[2]);
      break;
    }
    default: break;
    }
    lines.push_back(std::move(line));
    at += n;
  }
}

} // namespace brova
