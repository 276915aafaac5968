// Bodies of the natives of classes.lang.Process. The first argument is the process, the
// vtNative value native_init made; a value that is no live process makes a body do nothing
// (native_halted counts it as halted, so a loop waiting for the end ends).
#pragma once
#include "natives/native_binding.h"

namespace brova::natives {

void ProcessInit(TValue* result, int32_t argc, int32_t reserved);
// A process that is running right now (one that reaches itself through a native) is not
// run again.
void ProcessExec(TValue* result, int32_t argc, int32_t reserved);
void ProcessSuspend(TValue* result, int32_t argc, int32_t reserved);
void ProcessHalted(TValue* result, int32_t argc, int32_t reserved);
// Frees only processes that native_init made: the root process, destructor and gc_mark
// processes belong to the code that started them and free themselves.
void ProcessFree(TValue* result, int32_t argc, int32_t reserved);
void ProcessKill(TValue* result, int32_t argc, int32_t reserved);
void ProcessMark(TValue* result, int32_t argc, int32_t reserved);

// classes.lang.Process: native_init, native_exec, native_suspend, native_halted,
// native_free, native_kill, native_proc_mark.
extern const TNativeBinding kProcessNatives[];
extern const size_t kProcessNativeCount;

} // namespace brova::natives
