// Base64 with the standard alphabet and "=" fill, as BinWriter and BinReader carry buffers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brova {

std::string EncodeBase64(const uint8_t* bytes, size_t n);

// "=" ends a group; a group of two or three characters gives one or two bytes, a lone
// character none. Characters outside the alphabet (line breaks, anything broken) are skipped.
std::vector<uint8_t> DecodeBase64(std::string_view text);

} // namespace brova
