#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace brova::platform {
namespace {

bool IsValidUtf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

std::string Convert(std::string_view text, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  std::string out;
  out.reserve(text.size() * 3 / 2 + 4);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buf[512];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, o - buf);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // An unconvertible or truncated sequence: replace one byte and go on.
      out.push_back('?');
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

} // namespace

std::string ToDisplayText(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  return Convert(text, "UTF-8", "SHIFT_JIS");
}

std::string FromDisplayText(std::string_view utf8) { return Convert(utf8, "SHIFT_JIS", "UTF-8"); }

} // namespace brova::platform
