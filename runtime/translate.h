// Every user-visible message passes through the message table, keyed by its English text.
// Until the table is loaded at boot, texts pass through unchanged.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace brova {

std::string Translate(std::string_view text);

// Installed by the boot once the message table is read; an empty function restores the
// identity.
void SetTranslator(std::function<std::string(std::string_view)> translator);

} // namespace brova
