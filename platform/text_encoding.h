// Script text is single-byte code-page text (Shift-JIS allowed); fonts and the OS want UTF-8.
#pragma once
#include <string>
#include <string_view>

namespace brova::platform {

// Text as a font or terminal can show it: valid UTF-8 passes unchanged, anything else is
// read as Shift-JIS; bytes that are neither are replaced by '?'.
std::string ToDisplayText(std::string_view text);

// UTF-8 (from the OS: file names, typed text) to Shift-JIS; unconvertible characters
// become '?'.
std::string FromDisplayText(std::string_view utf8);

} // namespace brova::platform
