// libFuzzer target: compiled-class files through the reader, the code verifier and a bounded run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

// The kernel of this repository, booted once; it also silences messages and print output.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!brova::fuzz::BootKernel(BROVA_SOURCE_DIR)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  brova::fuzz::FuzzClassFile(data, size);
  return 0;
}
