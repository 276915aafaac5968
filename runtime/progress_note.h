// Progress notes report start-up and compile steps. The player displays none of them; a
// sink (debug tooling, tests) may listen.
#pragma once
#include <functional>
#include <string_view>

namespace brova {

void ProgressNote(std::string_view text);
void SetProgressNoteSink(std::function<void(std::string_view)> sink);

} // namespace brova
