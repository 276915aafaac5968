// Code blocks: the compiled form of a function body or a class body, the writer that builds
// them, the fusion pass and the text listing.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/opcodes.h"
#include "runtime/script_heap.h"
#include "runtime/value.h"

namespace brova {

class TRTTI;

// Where names were compiled into the code (for relinking and the debug listing).
struct TCInfoElem {
  uint32_t kind;            // instruction number
  std::string text;         // symbol text
  std::vector<int32_t> offsets;
};

struct TPositionMark {
  std::string position; // source byte offset in decimal
  int32_t offset;       // code offset
};

struct TSymInfoList {
  std::vector<TCInfoElem> elems;
  std::vector<TPositionMark> positions;

  // Op_Point goes to the position list; any other kind joins the element with the same kind
  // and text, or makes a new one.
  void Record(uint32_t kind, std::string_view text, int32_t offset);
  // "op=NAME ,addr=OFFSET ,info=TEXT", one line per offset.
  void WriteListing(std::vector<std::string>& lines) const;
};

// maxStack of a block that must not run: it reads below its frame's empty stack, jumps
// outside its instructions, runs off its end, grows its stack without bound or pushes a
// constant object. No stack is large enough for it.
inline constexpr uint32_t kUnrunnableStack = 1u << 26;

// A body that only hands its receiver's fields, its arguments and constants to one native
// and returns: `PushThis`, the operands, `NativeCall`, then `Ret` (the native's result),
// `Pop PushThis Ret` (the receiver) or `Pop ArgValPtr_Deref n Ret` (an argument). A call
// of one runs these instructions in one pass, each still counted, with the frame built as
// the instructions would leave it.
struct TForwarder {
  static constexpr uint32_t kMaxOperands = 4;
  enum : uint8_t { None, Field, Arg, Constant };        // operand kinds
  enum : uint8_t { ReturnResult, ReturnThis, ReturnArg }; // what the tail returns
  struct TOperand {
    uint8_t kind = None;
    uint32_t a = 0, b = 0; // field index; argument number; constant kind word and payload
  };
  uint32_t operands = 0;
  TOperand operand[kMaxOperands];
  uint32_t fieldsNeeded = 0; // one more than the highest field an operand reads
  uint32_t nativeAt = 0; // offset of the NativeCall
  uint32_t native = 0;   // its function id
  uint8_t tail = ReturnResult;
  uint32_t tailArg = 0;
  uint32_t tailSteps = 0; // instructions after the NativeCall, its Ret included
  // The common form: a field, then the first operands - 1 arguments in order.
  bool fieldThenArgs = false;
  bool Recognised() const { return tailSteps != 0; }
  // Instructions from the entry through the NativeCall.
  uint32_t HeadSteps() const { return operands + 2; }
};

// A finished code block, owned by its function or class.
struct TCompiledInfo {
  TCompiledInfo(TSymInfoList symbols, HeapAddr code, uint32_t size, TRTTI* owner)
      : symbols(std::move(symbols)), code(code), size(size), owner(owner) {
    AnalyzeStack();
  }
  ~TCompiledInfo();
  TCompiledInfo(const TCompiledInfo&) = delete;
  TCompiledInfo& operator=(const TCompiledInfo&) = delete;

  TSymInfoList symbols;
  HeapAddr code; // heap block of `size` bytes
  uint32_t size;
  TRTTI* owner;

  // Filled in by AnalyzeStack: the most cells the code pushes above its frame's empty
  // stack (kUnrunnableStack when it must not run), and one more than the highest local it
  // names. A call reserves both, so no instruction of the block writes outside its stack.
  uint32_t maxStack = 0;
  uint32_t localsUsed = 0;

  // What a call of the block sets up for a function declaring `declared` locals: the
  // locals it clears and the bytes that must lie between the new frame and the stack's base
  // (indexed and dynamic calls keep at least 100 bytes below the locals). Worked out on the
  // first call rather than on every one; a recompiled function may declare another count.
  struct TFrameShape {
    uint32_t declared = UINT32_MAX;
    uint32_t locals = 0;
    int64_t reserve = 0;
    int64_t dynamicReserve = 0;
    TForwarder forward; // kinds 0 unless a call without locals only forwards to a native
  };
  const TFrameShape& FrameShape(uint32_t declared) const {
    if (frameShape_.declared != declared) ShapeFrame(declared);
    return frameShape_;
  }

  bool Runnable() const { return maxStack < kUnrunnableStack; }
  uint32_t* Words() const { return HeapPtr<uint32_t>(code); }

  // Walks every path through the code and, when it may run, decodes it for the interpreter.
  // Runs at construction; run it again after changing instruction words in place.
  void AnalyzeStack();
  // Fuses the block's pairs in place (FuseInstructions), which keeps the stack analysis
  // valid, and decodes the fused block again.
  void Fuse();

private:
  void ShapeFrame(uint32_t declared) const;
  mutable TFrameShape frameShape_;
};

// Copies `bytes` into a new heap block and makes it a code block.
TCompiledInfo* MakeCompiledInfo(const uint8_t* bytes, uint32_t size, TSymInfoList symbols,
                                TRTTI* owner);

// Size in bytes of the instruction at `offset` (Op_PushString with its text), or 0 for an
// invalid opcode or an instruction that would not fit in `blockSize`.
uint32_t InstructionSize(const uint32_t* code, uint32_t offset, uint32_t blockSize);

// The code writer: one growing buffer per function body or class body.
class TProgWriter {
public:
  explicit TProgWriter(TRTTI* owner);

  // Appends one instruction at the write position; returns its offset.
  int32_t Emit(TOpcode op, std::initializer_list<uint32_t> operands = {});
  // Op_Push of a constant; objects cannot be constants ("WritePush Error").
  int32_t EmitPush(const TValue& constant);
  int32_t EmitPushString(std::string_view text);
  // A jump whose offset is patched later with PatchJump; returns its offset.
  int32_t EmitJump(TOpcode op, int32_t offset = 0);
  void PatchJump(int32_t jumpAt, int32_t target);

  int32_t Pos() const { return pos_; }
  void SetPos(int32_t pos) { pos_ = pos; }
  void ToEnd() { pos_ = size_; }
  void RecordSymbol(uint32_t kind, std::string_view text) { symbols_.Record(kind, text, pos_); }

  int32_t BytesWritten() const { return bytesWritten_; }
  int32_t InstructionsWritten() const { return instructionsWritten_; }

  // Trims the buffer to its size and hands it over as a code block (not yet fused).
  TCompiledInfo* Finish();
  // Fuses the buffer's pairs first (FuseInstructions), so the block is analysed and decoded
  // once, in the form it runs in.
  TCompiledInfo* FinishFused();

private:
  void WriteWord(uint32_t word);

  std::vector<uint8_t> buffer_; // capacity starts at 256 bytes and doubles
  int32_t pos_ = 0;
  int32_t size_ = 0;
  int32_t bytesWritten_ = 0;
  int32_t instructionsWritten_ = 0;
  TSymInfoList symbols_;
  TRTTI* owner_;
};

// Rewrites pointer-then-dereference pairs into fused instructions, in place. Raises
// "Invalid Instruction" + number on an opcode it does not know. Code in the script heap
// loses its decoding; TCompiledInfo::Fuse decodes it again.
void FuseInstructions(uint32_t* code, uint32_t size);

// One line per instruction up to Op_Halt: 8 hex digits of its address, ":", its text.
// Raises "異常な命令が入っています" at an opcode the listing does not handle, after the lines
// already written.
void ListCode(const TCompiledInfo& info, std::vector<std::string>& lines);

// "Op_Pop" ... "Op_Halt"; "Invalid Code" for any other number.
const char* OpcodeName(uint32_t op);

} // namespace brova
