#include "natives/system_natives.h"

#include <iterator>

#include "resources/boot.h"
#include "runtime/frame_scheduler.h"
#include "runtime/process.h"
#include "runtime/translate.h"

namespace brova::natives {
namespace {
std::function<void()>& ExitHandler() {
  static std::function<void()> handler;
  return handler;
}
} // namespace

void SetExitHandler(std::function<void()> handler) { ExitHandler() = std::move(handler); }

void SystemExit(TValue*, int32_t, int32_t) {
  if (ExitHandler()) ExitHandler()();
}

void SystemOpenIDE(TValue* result, int32_t argc, int32_t reserved) {
  SystemExit(result, argc, reserved);
}

void SystemEditCode(TValue*, int32_t, int32_t) {}

void SystemVersion(TValue* result, int32_t, int32_t) { SetInt(*result, kVersionNumber); }

void SystemLocale(TValue* result, int32_t, int32_t) {
  SetStringResult(*result, Translate("locale"));
}

void SystemSetStackSize(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  defaultStackSize = ValueToInt(Arg(result, 1));
}

void SystemSetFrameRate(TValue* result, int32_t argc, int32_t) {
  if (argc < 1) return;
  SetFrameRate(ValueToInt(Arg(result, 1)), argc >= 2 ? ValueToInt(Arg(result, 2)) : 0);
}

const TNativeBinding kSystemNatives[] = {
    {"_n_exit", SystemExit},
    {"_n_openIDE", SystemOpenIDE},
    {"_n_editCode", SystemEditCode},
    {"_n_version", SystemVersion},
    {"_n_locale", SystemLocale},
    {"_n_setStackSize", SystemSetStackSize},
    {"_n_setFrameRate", SystemSetFrameRate},
};
const size_t kSystemNativeCount = std::size(kSystemNatives);

} // namespace brova::natives
