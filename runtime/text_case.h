// Letter-case rules for names and paths in code-page text: ASCII letters fold, and the
// second byte of a Shift-JIS double-byte character is never folded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brova {

inline bool IsSjisLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

inline unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// `text` with ASCII letters lowered, double-byte characters untouched.
std::string FoldCase(std::string_view text);

bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// Hash consistent with SameTextIgnoringCase.
size_t HashIgnoringCase(std::string_view text);

struct CaseInsensitiveHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return HashIgnoringCase(s); }
};
struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return SameTextIgnoringCase(a, b);
  }
};

} // namespace brova
