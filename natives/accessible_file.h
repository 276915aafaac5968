// The 96-byte header that marks resource data files scripts may read and write: three lines
// of 30 characters, each followed by CR LF.
#pragma once
#include <cstddef>
#include <string_view>

namespace brova {

inline constexpr size_t kAccessibleHeaderSize = 96;
inline constexpr std::string_view kAccessibleHeader =
    "BROVA_ACCESSIBLE_FILE_0001____\r\n"
    "READABLE_WRITEABLE____________\r\n"
    "MEMORYCARD_0001_______________\r\n";
static_assert(kAccessibleHeader.size() == kAccessibleHeaderSize);

// True when the bytes, read as text up to the first zero byte, begin with the mark; the rest
// of the header is not examined.
inline bool IsAccessibleHeader(std::string_view bytes) {
  std::string_view text = bytes.substr(0, bytes.find('\0'));
  return text.substr(0, 21) == "BROVA_ACCESSIBLE_FILE";
}

} // namespace brova
