// Shared libraries opened at run time (module libraries). Libraries stay loaded until the
// program ends, so the addresses taken from them never dangle.
#pragma once
#include <string>

namespace brova::platform {

// The library's handle, or null with the loader's reason in `error`.
void* OpenLibrary(const std::string& path, std::string& error);

// The address of an exported symbol (name matched exactly); null when the library has none.
void* FindSymbol(void* library, const char* name);

} // namespace brova::platform
