#include "natives/base64.h"

#include <array>

namespace brova {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> MakeDecodeTable() {
  std::array<int8_t, 256> table{};
  for (auto& t : table) t = -1;
  for (int i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return table;
}
constexpr std::array<int8_t, 256> kDecode = MakeDecodeTable();

} // namespace

std::string EncodeBase64(const uint8_t* bytes, size_t n) {
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t g = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
    out += kAlphabet[g >> 18];
    out += kAlphabet[(g >> 12) & 63];
    out += kAlphabet[(g >> 6) & 63];
    out += kAlphabet[g & 63];
  }
  if (n - i == 1) {
    uint32_t g = uint32_t(bytes[i]) << 16;
    out += kAlphabet[g >> 18];
    out += kAlphabet[(g >> 12) & 63];
    out += "==";
  } else if (n - i == 2) {
    uint32_t g = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8;
    out += kAlphabet[g >> 18];
    out += kAlphabet[(g >> 12) & 63];
    out += kAlphabet[(g >> 6) & 63];
    out += '=';
  }
  return out;
}

std::vector<uint8_t> DecodeBase64(std::string_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3 + 2);
  uint32_t group = 0;
  int count = 0;
  // A group cut short gives the bytes its characters hold: two characters one byte, three two.
  auto finishGroup = [&] {
    if (count == 2) {
      out.push_back(static_cast<uint8_t>(group >> 4));
    } else if (count == 3) {
      out.push_back(static_cast<uint8_t>(group >> 10));
      out.push_back(static_cast<uint8_t>(group >> 2));
    }
    group = 0;
    count = 0;
  };
  for (unsigned char c : text) {
    if (c == '=') {
      finishGroup();
      continue;
    }
    int8_t v = kDecode[c];
    if (v < 0) continue;
    group = group << 6 | static_cast<uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<uint8_t>(group >> 16));
      out.push_back(static_cast<uint8_t>(group >> 8));
      out.push_back(static_cast<uint8_t>(group));
      group = 0;
      count = 0;
    }
  }
  finishGroup();
  return out;
}

} // namespace brova
