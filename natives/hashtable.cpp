#include "natives/hashtable.h"

#include <bit>
#include <cmath>
#include <exception>
#include <iterator>
#include <new>

namespace brova {
namespace {

constexpr uint32_t kHashMask = (1u << 30) - 1;

uint32_t IdentityHash(uint32_t kind, uint32_t payload) {
  return ((kind * 70009u + payload * 7000009u) * 48828125u) & kHashMask;
}

// Spreads every input bit over the index's low bits, which pick the head.
uint32_t Mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x7feb352du;
  h ^= h >> 15;
  h *= 0x846ca68bu;
  h ^= h >> 16;
  return h;
}

uint32_t TextHash(const std::string& text) {
  uint32_t h = 2166136261u;
  for (unsigned char c : text) h = (h ^ c) * 16777619u;
  return Mix(h);
}

} // namespace

TAbstractHashtable::TAbstractHashtable() : TNativeObject(kKind) { Rebuild(0); }

int32_t TAbstractHashtable::FindCell(int bucket, const TValue& key, uint32_t hash) const {
  // Several entries of a bucket can be the same as one key (a NaN never is, a text "1" and the
  // integer 1 are one way round only): the first in the bucket's order wins, as a scan finds.
  int32_t best = kNone, bestSlot = 0;
  auto probe = [&](uint32_t h, bool textsOnly) {
    size_t home = Home(h);
    const Cell& head = cells_[home];
    // A head of another home starts another chain: no key of this home is stored.
    if (head.node == kNone || (head.hash != h && Home(head.hash) != home)) return;
    for (int32_t i = static_cast<int32_t>(home); i != kNone; i = cells_[i].next) {
      const Cell& c = cells_[i];
      if (c.hash != h || (c.node >> kSlotBits) != bucket) continue;
      int32_t slot = c.node & kSlotMask;
      if ((best == kNone || slot < bestSlot) && (!textsOnly || IsTextKey(c.entry.key)) &&
          SameKey(c.entry.key, key)) {
        best = i;
        bestSlot = slot;
      }
    }
  };
  probe(hash, false);
  if (buckets_[bucket].texts > 0 && !IsTextKey(key)) probe(TextProbe(key), true);
  return best;
}

TAbstractHashtable::Entry* TAbstractHashtable::Find(const TValue& key) {
  int32_t cell = FindCell(BucketOf(key), key, IndexHash(key));
  return cell == kNone ? nullptr : &cells_[cell].entry;
}

int32_t TAbstractHashtable::Place(uint32_t hash, int32_t node) {
  const size_t home = Home(hash);
  if (cells_[home].node != kNone) {
    int32_t spare = kNone;
    while (free_ > 0 && spare == kNone)
      if (cells_[--free_].node == kNone) spare = static_cast<int32_t>(free_);
    if (spare == kNone) {
      Rebuild(static_cast<size_t>(live_) + 1);
      return Place(hash, node);
    }
    Cell& occupant = cells_[home];
    size_t occupantHome = Home(occupant.hash);
    if (occupantHome == home) {
      cells_[spare] = Cell{Entry{NullValue(), NullValue()}, hash, node, occupant.next};
      occupant.next = spare;
      return spare;
    }
    int32_t prev = static_cast<int32_t>(occupantHome);
    while (cells_[prev].next != static_cast<int32_t>(home)) prev = cells_[prev].next;
    cells_[prev].next = spare;
    cells_[spare] = occupant;
    OrderOf(occupant.node) = spare;
  }
  cells_[home] = Cell{Entry{NullValue(), NullValue()}, hash, node, kNone};
  return static_cast<int32_t>(home);
}

void TAbstractHashtable::Vacate(int32_t cell) {
  size_t home = Home(cells_[cell].hash);
  if (static_cast<size_t>(cell) == home) {
    int32_t next = cells_[cell].next;
    if (next != kNone) {
      cells_[cell] = cells_[next];
      OrderOf(cells_[cell].node) = cell;
      cell = next;
    }
  } else {
    int32_t prev = static_cast<int32_t>(home);
    while (cells_[prev].next != cell) prev = cells_[prev].next;
    cells_[prev].next = cells_[cell].next;
  }
  cells_[cell] = Cell{Entry{NullValue(), NullValue()}, 0, kNone, kNone};
}

void TAbstractHashtable::Rebuild(size_t entries) {
  // Homes are the largest primes below the powers of two from 2^6 on.
  static constexpr uint32_t kPrimes[] = {
      61u,       127u,      251u,       509u,       1021u,      2039u,      4093u,
      8191u,     16381u,    32749u,     65521u,     131071u,    262139u,    524287u,
      1048573u,  2097143u,  4194301u,   8388593u,   16777213u,  33554393u,  67108859u,
      134217689u, 268435399u, 536870909u, 1073741789u, 2147483647u};
  // At most seven eighths in use, so that free cells stay to be found between rebuilds.
  size_t bits = 6;
  while ((size_t{1} << bits) - (size_t{1} << bits) / 8 < entries) ++bits;
  if (bits - 6 >= std::size(kPrimes)) throw std::bad_alloc();
  std::vector<Cell> old(size_t{1} << bits, Cell{Entry{NullValue(), NullValue()}, 0, kNone, kNone});
  old.swap(cells_);
  homes_ = kPrimes[bits - 6];
  free_ = cells_.size();
  for (const Cell& c : old) {
    if (c.node == kNone) continue;
    int32_t at = Place(c.hash, c.node);
    cells_[at].entry = c.entry;
    OrderOf(c.node) = at;
  }
}

bool TAbstractHashtable::PutEntry(const TValue& key, const TValue& value, bool mayGrow) {
  int b = BucketOf(key);
  Bucket& bucket = buckets_[b];
  uint32_t h = IndexHash(key);
  int32_t cell = FindCell(b, key, h);
  if (cell == kNone) {
    // A taken home means finding a free cell, which may rebuild the index.
    if (!mayGrow && (bucket.order.size() == bucket.order.capacity() ||
                     bucket.order.size() >= size_t{kSlotMask} || cells_[Home(h)].node != kNone))
      return false;
    if (bucket.order.size() >= size_t{kSlotMask} + 1) throw std::bad_alloc();
    int32_t slot = static_cast<int32_t>(bucket.order.size());
    bucket.order.push_back(kNone);
    cell = Place(h, Node(b, slot));
    bucket.order[slot] = cell;
    if (b == walkBucket_ && walkSlot_ == kNone && bucket.live == walkPosition_) walkSlot_ = slot;
    ++bucket.live;
    if (IsTextKey(key)) ++bucket.texts;
    ++live_;
    Entry& e = cells_[cell].entry;
    AssignValue(e.key, key);
    AssignValue(e.value, value);
    return true;
  }
  if (!mayGrow) {
    // The old key and value may be one object: two references keep both releases above zero.
    // A new hash moves the entry, which may rebuild the index.
    auto held = [](const TValue& v) { return v.kind != vtObject || ObjectPtr(v)->refCount >= 2; };
    const Cell& c = cells_[cell];
    if (h != c.hash || !held(c.entry.key) || !held(c.entry.value)) return false;
  }
  // The entry now carries the new key, which may be of another kind than the one it replaces.
  bucket.texts += int(IsTextKey(key)) - int(IsTextKey(cells_[cell].entry.key));
  if (h != cells_[cell].hash) {
    Cell moved = cells_[cell];
    Vacate(cell);
    cell = Place(h, moved.node);
    cells_[cell].entry = moved.entry;
    OrderOf(moved.node) = cell;
  }
  Entry& e = cells_[cell].entry;
  AssignValue(e.key, key);
  AssignValue(e.value, value);
  return true;
}

bool TAbstractHashtable::Remove(const TValue& key, TValue& out) {
  int b = BucketOf(key);
  int32_t cell = FindCell(b, key, IndexHash(key));
  if (cell == kNone) return false;
  Bucket& bucket = buckets_[b];
  Entry taken = cells_[cell].entry;
  int32_t slot = cells_[cell].node & kSlotMask;
  AssignValue(out, taken.value);
  if (IsTextKey(taken.key)) --bucket.texts;
  bucket.order[slot] = kNone;
  Vacate(cell);
  --bucket.live;
  --live_;
  ++gaps_;
  if (b == walkBucket_ && walkSlot_ != kNone && slot <= walkSlot_)
    walkSlot_ = NextLive(b, walkSlot_ + 1);
  if (gaps_ > 32 && gaps_ > live_) Compact();
  Release(taken.key);
  Release(taken.value);
  return true;
}

void TAbstractHashtable::Compact() {
  for (int b = 0; b < kBuckets; ++b) {
    std::vector<int32_t>& order = buckets_[b].order;
    int32_t kept = 0;
    for (int32_t cell : order) {
      if (cell == kNone) continue;
      cells_[cell].node = Node(b, kept);
      order[kept++] = cell;
    }
    order.resize(static_cast<size_t>(kept));
  }
  gaps_ = 0;
  // A table that has lost most of its entries gives back its cells.
  if (static_cast<size_t>(live_) * 4 < cells_.size()) Rebuild(static_cast<size_t>(live_) * 2);
  if (walkBucket_ < kBuckets)
    walkSlot_ = walkPosition_ < buckets_[walkBucket_].live ? walkPosition_ : kNone;
}

int32_t TAbstractHashtable::NextLive(int bucket, int32_t from) const {
  const std::vector<int32_t>& order = buckets_[bucket].order;
  for (int32_t i = from; i < static_cast<int32_t>(order.size()); ++i)
    if (order[i] != kNone) return i;
  return kNone;
}

void TAbstractHashtable::SettleWalk() {
  while (walkBucket_ < kBuckets && walkSlot_ == kNone) {
    ++walkBucket_;
    walkPosition_ = 0;
    walkSlot_ = walkBucket_ < kBuckets ? NextLive(walkBucket_, 0) : kNone;
  }
}

void TAbstractHashtable::StartWalk() {
  walkBucket_ = 0;
  walkPosition_ = 0;
  walkSlot_ = NextLive(0, 0);
  SettleWalk();
}

TValue TAbstractHashtable::NextKey() {
  if (!WalkStandsOnEntry()) {
    // Past the bucket's last entry: the walk goes on with the next bucket.
    if (walkBucket_ < kBuckets) ++walkPosition_;
    SettleWalk();
    return NullValue();
  }
  TValue key = cells_[buckets_[walkBucket_].order[walkSlot_]].entry.key;
  ++walkPosition_;
  walkSlot_ = NextLive(walkBucket_, walkSlot_ + 1);
  SettleWalk();
  return key;
}

void TAbstractHashtable::ReleaseAll() {
  std::exception_ptr first;
  for (Cell& c : cells_) {
    if (c.node == kNone) continue;
    for (TValue* cell : {&c.entry.key, &c.entry.value}) {
      try {
        Release(*cell);
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    }
  }
  for (Bucket& bucket : buckets_) bucket = Bucket{};
  cells_.clear();
  Rebuild(0);
  live_ = 0;
  gaps_ = 0;
  walkSlot_ = kNone;
  if (first) std::rethrow_exception(first);
}

uint32_t TLightHashtable::Hash(const TValue& key) const { return IdentityHash(key.kind, key.u); }

bool TLightHashtable::SameKey(const TValue& stored, const TValue& key) const {
  return stored.kind == key.kind && stored.u == key.u;
}

uint32_t TLightHashtable::IndexHash(const TValue& key) const {
  // Added, not mixed: keys a constant step apart stay a constant step apart.
  return key.u + key.kind * 0x9e3779b9u;
}

uint32_t THashtable::Hash(const TValue& key) const {
  if (key.kind == vtObject && IsStringObject(key)) {
    const std::string* text = StringTextOf(ObjectPtr(key));
    uint32_t h = 0;
    if (text)
      for (unsigned char c : *text) h = (h + c * 70009u * 48828125u) & kHashMask;
    return h;
  }
  // A float equal to an integer is the same key as that integer, so it must land in the
  // integer's bucket.
  if (key.kind == vtFloat && key.f >= -2147483648.0f && key.f < 2147483648.0f &&
      std::trunc(key.f) == key.f)
    return IdentityHash(vtInt, static_cast<uint32_t>(static_cast<int32_t>(key.f)));
  return IdentityHash(key.kind, key.u);
}

bool THashtable::SameKey(const TValue& stored, const TValue& key) const {
  if (stored.kind == vtInt && key.kind == vtInt) return stored.i == key.i;
  return CompareValues(stored, key) == 0.0f;
}

uint32_t THashtable::IndexHash(const TValue& key) const {
  switch (key.kind) {
  case vtNull:
  case vtUnset: return Mix(vtNull); // null and unset compare equal
  case vtInt:
    if (key.i > -(1 << 24) && key.i < (1 << 24)) return key.u; // exact as a float
    [[fallthrough]];
  case vtFloat: {
    // Numbers compare as floats: an integer and a float meet when the integer converts to that
    // float (so 16777217 meets 16777216.0), and -0.0 meets 0. An integral number hashes as
    // that integer, unmixed: keys a constant step apart keep homes a constant step apart.
    float f = ValueToFloat(key);
    if (f >= -2147483648.0f && f < 2147483648.0f && std::trunc(f) == f)
      return static_cast<uint32_t>(static_cast<int32_t>(f));
    return Mix(std::bit_cast<uint32_t>(f) ^ 0x9e3779b9u);
  }
  case vtObject:
    if (IsStringObject(key)) {
      const std::string* text = StringTextOf(ObjectPtr(key));
      return TextHash(text ? *text : std::string());
    }
    return Mix(key.u);
  default: return Mix(key.u * 8u + key.kind);
  }
}

uint32_t THashtable::TextProbe(const TValue& key) const { return TextHash(ValueToText(key)); }

} // namespace brova
