// libFuzzer target: Base64 decoding and the encode-decode round trip.
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
  brova::fuzz::FuzzBase64(data, size);
  return 0;
}
