#include "compiler/string_literal.h"

namespace brova {

std::string UnescapeStringLiteral(std::string_view content) {
  std::string out;
  out.reserve(content.size());
  for (size_t i = 0; i < content.size(); ++i) {
    auto b = static_cast<unsigned char>(content[i]);
    if ((b >= 0x80 && b <= 0x9f) || (b >= 0xe0 && b <= 0xfc)) {
      out += content[i];
      if (i + 1 < content.size()) out += content[++i];
      continue;
    }
    if (b != '\\') {
      out += content[i];
      continue;
    }
    if (++i == content.size()) break;
    switch (content[i]) {
    case 'n': out += '\n'; break;
    case 'r': out += '\r'; break;
    case 't': out += '\t'; break;
    default: out += content[i]; break;
    }
  }
  return out;
}

} // namespace brova
