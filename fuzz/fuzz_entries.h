// The entry functions of the fuzz targets, free of anything the fuzzing engine supplies, so
// that the regression tests feed kept inputs through exactly the code the fuzzers ran.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace brova::fuzz {

// Boots the kernel of the repository at `sourceDir` as `brova --run` does (without a class
// cache), once per process; later calls return the first result. Every entry below expects
// it. Messages, compile errors and print output are swallowed from then on.
bool BootKernel(const std::string& sourceDir);

// Class source text through lexing, parsing and code generation, as a class without a
// source file extending classes.lang.Object. Nothing is run.
void FuzzClassSource(const uint8_t* data, size_t size);

// Markup through readElement (whose result must survive a write-and-read round trip
// unchanged) and through parseTag, element after element.
void FuzzMarkup(const uint8_t* data, size_t size);

// A compiled-class file whose header (format mark, source path and fingerprint) is made to
// match; `data` is the rest, from the superclass path on. A file that loads is verified
// code: its body is then run for a few bounded slices.
void FuzzClassFile(const uint8_t* data, size_t size);

// Base64 decoding of arbitrary text, and encoding followed by decoding of arbitrary bytes,
// which must give the bytes back.
void FuzzBase64(const uint8_t* data, size_t size);

// Snippet text compiled as a throw-away class (extending classes.lang.Object, as for
// `brova --run`, so that the kernel's methods are there to call) and run for a few slices of
// a small step budget, so an endless loop ends the run instead of hanging it.
void FuzzSnippet(const uint8_t* data, size_t size);

} // namespace brova::fuzz
