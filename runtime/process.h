// Script processes: a private value stack with call frames for one object, run a slice at a
// time by the interpreter until it suspends, finishes, fails or uses up its step budget.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/native_object.h"
#include "runtime/script_heap.h"
#include "runtime/value.h"

namespace brova {

class TRTTI;

// The default step budget of a run; as the step allowance it means "unlimited".
inline constexpr int32_t kDefaultSteps = 123456;

// A source position as Point instructions leave it; a call copies it into its frame whole,
// as the frame's posClass, posLine and posExtra.
struct TSourcePos {
  uint32_t cls = 0, line = 0, extra = 0;
};
static_assert(sizeof(TSourcePos) == 12);

// One call frame, 40 bytes at `fp`, directly below the call's arguments. Every address is
// a heap offset; 0 is none. Local k lives at fp - 8k (local 0 is the frame's first cell).
struct TFrame {
  TValue local0;
  uint32_t function;   // function id, 0 for a process that runs a class body
  uint32_t returnAddr; // none for the bottom frame
  int32_t argc;
  uint32_t thisAddr;   // the receiver cell; argument n lies at thisAddr - 8 (n + 1)
  uint32_t callerFp;   // none for the bottom frame
  uint32_t posClass, posLine, posExtra; // the caller's source position
};
static_assert(sizeof(TFrame) == 40);
static_assert(offsetof(TFrame, function) == 8 && offsetof(TFrame, returnAddr) == 12 &&
              offsetof(TFrame, argc) == 16 && offsetof(TFrame, thisAddr) == 20 &&
              offsetof(TFrame, callerFp) == 24 && offsetof(TFrame, posClass) == 28 &&
              offsetof(TFrame, posExtra) == 36);

class TProcess final : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::Process;
  TProcess();
  ~TProcess() override; // returns the stack block; use DestroyProcess
  const char* NativeClassName() const override { return "TProcess"; }

  int32_t stackSize = 0;  // bytes of the stack block
  int32_t avail = 0;      // steps left in the current slice
  int32_t sliceSteps = 0; // steps granted; after the slice, steps executed
  uint8_t suspended = 0;
  uint8_t finished = 0;
  uint8_t released = 0;   // the stack's values have been released
  uint8_t status = 0;     // 2 after a runtime error ended the process
  HeapAddr fp = kNoAddr;
  HeapAddr sp = kNoAddr;  // the top cell; values grow downward
  HeapAddr thisSlot = kNoAddr;
  HeapAddr pc = kNoAddr;
  HeapAddr stackBase = kNoAddr;
  HeapAddr resultSlot = kNoAddr; // where the bottom frame's return value was left
  TSourcePos pos; // where the last Point instruction was

  // A run of this process is active (runs of one process never nest).
  bool running = false;
  // DestroyProcess was asked for while running; the run's end destroys it.
  bool destroyWhenStopped = false;
};

// ---- globals of the interpreter

extern int32_t defaultStackSize;    // bytes; affects processes created later
extern TProcess* currentProcess;    // the process whose run is innermost, or null
extern int32_t stepAllowance;       // the debugger's step counter; kDefaultSteps: unlimited
extern bool preempted;              // a run used its whole budget
extern std::string lastWarning;     // emptied when a page is loaded

// ---- processes

// A process on `obj` for the method `methodName` ("constructor" and "destructor" name the
// class's own; empty runs the class body), without arguments. Raises "Method" + name +
// " is undefined." for a method the class lacks and "Stack Overflow." when the first frame
// and the code's stack would not fit in `defaultStackSize` bytes.
TProcess* CreateProcess(TfObject* obj, std::string_view methodName);

// Runs `p` until it suspends, finishes, fails or has executed `budget` steps (0 or less:
// kDefaultSteps). A runtime error is shown, sets status 2 and releases the stack; nothing
// escapes. A run of a process that is already running returns at once.
void Run(TProcess* p, int32_t budget);
void Suspend(TProcess* p);
void Finish(TProcess* p);
// Finishes the process and releases every value its stack holds (once).
void ReleaseStack(TProcess* p);
// ReleaseStack, then the stack block and the record go. A running process is destroyed
// when its run ends.
void DestroyProcess(TProcess* p);
inline bool IsFinished(const TProcess* p) { return p->finished != 0; }
// Runs until finished, keeping `preempted` as it was.
void RunToEnd(TProcess* p);
// The debug window's view of the stack, frame by frame from the top.
void DumpStack(const TProcess* p, std::vector<std::string>& lines);

// Visits every value the process holds, in the order ReleaseStack releases them: each
// frame's temporaries and locals, its arguments and receiver, then the result cell.
void WalkStack(const TProcess* p, const std::function<void(TValue&)>& visit);

// Shows a runtime warning unless it repeats the last one shown.
void Warn(const std::string& text);

// What DestroyInstance runs for an object whose class has a destructor: a process for it,
// run once with the default budget, then destroyed. Installed at start-up.
void RunDestructorProcess(TfObject* obj);

// ---- services from the resource tree and the debugger

// `classes.lang.Object`, whose `_errorHook` receives calls on non-objects.
void SetObjectClass(TRTTI* cls);
// `classes.lang.Array`, the only class (with its subclasses) that for-in loops accept.
void SetArrayClass(TRTTI* cls);
// The debugger's stop, entered when the step allowance runs out; it grants new steps by
// raising `stepAllowance`. Without one, a process out of steps stays where it is.
void SetDebuggerStop(std::function<void()> stop);

} // namespace brova
