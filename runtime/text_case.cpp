#include "runtime/text_case.h"

namespace brova {

std::string FoldCase(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsSjisLeadByte(c)) {
      ++i; // keep the trail byte as it is
      continue;
    }
    out[i] = static_cast<char>(FoldAscii(c));
  }
  return out;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (IsSjisLeadByte(x)) {
      if (x != y) return false;
      if (i + 1 < a.size()) {
        if (a[i + 1] != b[i + 1]) return false;
        ++i;
      }
      continue;
    }
    if (FoldAscii(x) != FoldAscii(y)) return false;
  }
  return true;
}

size_t HashIgnoringCase(std::string_view text) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsSjisLeadByte(c) && i + 1 < text.size()) {
      h = (h ^ c) * 1099511628211ull;
      c = static_cast<unsigned char>(text[++i]);
    } else {
      c = FoldAscii(c);
    }
    h = (h ^ c) * 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

} // namespace brova
