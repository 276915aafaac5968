// In-memory byte buffers of BinWriter and BinReader, carried between scripts as Base64 text.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/native_object.h"

namespace brova {

class TBinaryOutputStream final : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::Stream;
  TBinaryOutputStream();
  const char* NativeClassName() const override { return "TBinaryOutputStream"; }

  // Four bytes, least significant first.
  void WriteInt(int32_t v);
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
  std::vector<uint8_t> bytes_;
};

class TBinaryInputStream final : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::Stream;
  explicit TBinaryInputStream(std::vector<uint8_t> bytes);
  const char* NativeClassName() const override { return "TBinaryInputStream"; }

  // Four bytes, least significant first; each byte past the end reads as 0.
  int32_t ReadInt();

private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

} // namespace brova
