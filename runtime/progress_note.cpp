#include "runtime/progress_note.h"

namespace brova {
namespace {
std::function<void(std::string_view)> g_sink;
}

void ProgressNote(std::string_view text) {
  if (g_sink) g_sink(text);
}

void SetProgressNoteSink(std::function<void(std::string_view)> sink) { g_sink = std::move(sink); }

} // namespace brova
