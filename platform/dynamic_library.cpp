#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace brova::platform {

void* OpenLibrary(const std::string& path, std::string& error) {
  // RTLD_LOCAL keeps one module's symbols from resolving another module's references.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = dlerror();
    error = why ? why : "unknown error";
  }
  return library;
}

void* FindSymbol(void* library, const char* name) {
  if (!library) return nullptr;
  dlerror();
  return dlsym(library, name);
}

} // namespace brova::platform
