// Bodies of the System natives: ending the program, the version and locale, and the
// interpreter's settings (stack size of new processes, frame period and frames per pass).
#pragma once
#include <functional>

#include "natives/native_binding.h"

namespace brova::natives {

// What `_n_exit` does: the app closes its screen window, which ends the program. Without a
// handler the call does nothing. An empty function removes it.
void SetExitHandler(std::function<void()> handler);

void SystemExit(TValue* result, int32_t argc, int32_t reserved);
// There is no authoring program on this host to start: the program just ends.
void SystemOpenIDE(TValue* result, int32_t argc, int32_t reserved);
void SystemEditCode(TValue* result, int32_t argc, int32_t reserved);
// The integer 1240.
void SystemVersion(TValue* result, int32_t argc, int32_t reserved);
// The message table's translation of "locale".
void SystemLocale(TValue* result, int32_t argc, int32_t reserved);
// The stack size in bytes of every process created afterwards.
void SystemSetStackSize(TValue* result, int32_t argc, int32_t reserved);
// (period, maxFrames): a period below 10 ms and a maximum below 1 change nothing.
void SystemSetFrameRate(TValue* result, int32_t argc, int32_t reserved);

// System: _n_exit, _n_openIDE, _n_editCode, _n_version, _n_locale, _n_setStackSize,
// _n_setFrameRate.
extern const TNativeBinding kSystemNatives[];
extern const size_t kSystemNativeCount;

} // namespace brova::natives
