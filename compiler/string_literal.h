// The bytes a string literal stands for.
#pragma once
#include <string>
#include <string_view>

namespace brova {

// `content` is what stands between the quotes. Escapes: \n, \r and \t give line feed,
// carriage return and tab, a backslash before any other byte gives that byte. A lead byte of
// a double-byte character (0x80-0x9f, 0xe0-0xfc) and the byte after it are copied as they
// are, so a second byte that looks like a backslash starts no escape.
std::string UnescapeStringLiteral(std::string_view content);

} // namespace brova
