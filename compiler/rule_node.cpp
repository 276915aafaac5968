#include "compiler/rule_node.h"

namespace brova {

void TFirst::AddRange(uint8_t low, uint8_t high) {
  for (unsigned b = low; b <= high; ++b) Add(static_cast<uint8_t>(b));
}

void TFirst::AddAll() { bits.fill(~0u); }

bool TFirst::Merge(const TFirst& other) {
  bool changed = false;
  for (size_t i = 0; i < bits.size(); ++i) {
    uint32_t merged = bits[i] | other.bits[i];
    changed |= merged != bits[i];
    bits[i] = merged;
  }
  return changed;
}

} // namespace brova
