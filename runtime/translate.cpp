#include "runtime/translate.h"

namespace brova {
namespace {
std::function<std::string(std::string_view)> g_translator;
}

std::string Translate(std::string_view text) {
  if (g_translator) return g_translator(text);
  return std::string(text);
}

void SetTranslator(std::function<std::string(std::string_view)> translator) {
  g_translator = std::move(translator);
}

} // namespace brova
