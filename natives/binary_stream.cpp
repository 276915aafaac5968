#include "natives/binary_stream.h"

namespace brova {

TBinaryOutputStream::TBinaryOutputStream() : TNativeObject(kKind) { bytes_.reserve(128); }

void TBinaryOutputStream::WriteInt(int32_t v) {
  if (bytes_.size() + 4 > bytes_.capacity()) bytes_.reserve(bytes_.capacity() * 2 + 1);
  auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

TBinaryInputStream::TBinaryInputStream(std::vector<uint8_t> bytes)
    : TNativeObject(kKind), bytes_(std::move(bytes)) {}

int32_t TBinaryInputStream::ReadInt() {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i, ++position_)
    if (position_ < bytes_.size()) u |= uint32_t(bytes_[position_]) << (8 * i);
  return static_cast<int32_t>(u);
}

} // namespace brova
