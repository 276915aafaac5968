#include "natives/hashtable.h"

#include <bit>
#include <cmath>
#include <exception>
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

TAbstractHashtable::TAbstractHashtable() : TNativeObject(kKind) { heads_.assign(64, kNone); }

int32_t TAbstractHashtable::FindSlot(int bucket, const TValue& key) {
  // Several entries of a bucket can be the same as one key (a NaN never is, a text "1" and the
  // integer 1 are one way round only): the first in the bucket's order wins, as a scan finds.
  int32_t best = kNone;
  auto probe = [&](uint32_t h, bool textsOnly) {
    for (int32_t node = heads_[h & (heads_.size() - 1)]; node != kNone;) {
      Slot& s = SlotOf(node);
      int32_t slot = node & ((1 << kSlotBits) - 1);
      if ((node >> kSlotBits) == bucket && s.indexHash == h && (!textsOnly || s.text) &&
          (best == kNone || slot < best) && SameKey(s.entry.key, key))
        best = slot;
      node = s.chain;
    }
  };
  probe(IndexHash(key), false);
  if (buckets_[bucket].texts > 0 && !IsTextKey(key)) probe(TextProbe(key), true);
  return best;
}

TAbstractHashtable::Entry* TAbstractHashtable::Find(const TValue& key) {
  int b = BucketOf(key);
  int32_t slot = FindSlot(b, key);
  return slot == kNone ? nullptr : &buckets_[b].slots[slot].entry;
}

void TAbstractHashtable::Link(int32_t node) {
  Slot& s = SlotOf(node);
  int32_t& head = heads_[s.indexHash & (heads_.size() - 1)];
  s.chain = head;
  head = node;
}

void TAbstractHashtable::Unlink(int32_t node) {
  Slot& s = SlotOf(node);
  int32_t* link = &heads_[s.indexHash & (heads_.size() - 1)];
  while (*link != node) link = &SlotOf(*link).chain;
  *link = s.chain;
}

void TAbstractHashtable::Rebuild(size_t heads) {
  heads_.assign(heads, kNone);
  for (int b = 0; b < kBuckets; ++b)
    for (int32_t i = 0; i < static_cast<int32_t>(buckets_[b].slots.size()); ++i)
      if (buckets_[b].slots[i].live) Link(Node(b, i));
}

void TAbstractHashtable::Put(const TValue& key, const TValue& value) {
  int b = BucketOf(key);
  Bucket& bucket = buckets_[b];
  int32_t slot = FindSlot(b, key);
  if (slot == kNone) {
    if (bucket.slots.size() >= (size_t{1} << kSlotBits)) throw std::bad_alloc();
    slot = static_cast<int32_t>(bucket.slots.size());
    bucket.slots.push_back(Slot{Entry{NullValue(), NullValue()}, IndexHash(key), kNone, true,
                                IsTextKey(key)});
    if (b == walkBucket_ && walkSlot_ == kNone && bucket.live == walkPosition_) walkSlot_ = slot;
    ++bucket.live;
    if (bucket.slots.back().text) ++bucket.texts;
    ++live_;
    Link(Node(b, slot));
    if (static_cast<size_t>(live_) > heads_.size()) Rebuild(heads_.size() * 2);
    Entry& e = bucket.slots[slot].entry;
    AssignValue(e.key, key);
    AssignValue(e.value, value);
    return;
  }
  Slot& s = bucket.slots[slot];
  AssignValue(s.entry.key, key);
  // The entry now carries the new key, which may be of another kind than the one it replaces.
  uint32_t h = IndexHash(key);
  if (h != s.indexHash) {
    Unlink(Node(b, slot));
    s.indexHash = h;
    Link(Node(b, slot));
  }
  bool text = IsTextKey(key);
  bucket.texts += int(text) - int(s.text);
  s.text = text;
  AssignValue(s.entry.value, value);
}

bool TAbstractHashtable::Remove(const TValue& key, TValue& out) {
  int b = BucketOf(key);
  int32_t slot = FindSlot(b, key);
  if (slot == kNone) return false;
  Bucket& bucket = buckets_[b];
  Slot& s = bucket.slots[slot];
  Entry taken = s.entry;
  AssignValue(out, taken.value);
  Unlink(Node(b, slot));
  s.live = false;
  s.entry = Entry{NullValue(), NullValue()};
  --bucket.live;
  if (s.text) --bucket.texts;
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
  for (Bucket& bucket : buckets_) {
    size_t kept = 0;
    for (Slot& s : bucket.slots)
      if (s.live) bucket.slots[kept++] = s;
    bucket.slots.resize(kept);
  }
  gaps_ = 0;
  size_t heads = 64;
  while (heads < static_cast<size_t>(live_)) heads *= 2;
  Rebuild(heads);
  if (walkBucket_ < kBuckets)
    walkSlot_ = walkPosition_ < buckets_[walkBucket_].live ? walkPosition_ : kNone;
}

int32_t TAbstractHashtable::NextLive(int bucket, int32_t from) const {
  const std::vector<Slot>& slots = buckets_[bucket].slots;
  for (int32_t i = from; i < static_cast<int32_t>(slots.size()); ++i)
    if (slots[i].live) return i;
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
  TValue key = buckets_[walkBucket_].slots[walkSlot_].entry.key;
  ++walkPosition_;
  walkSlot_ = NextLive(walkBucket_, walkSlot_ + 1);
  SettleWalk();
  return key;
}

void TAbstractHashtable::ReleaseAll() {
  std::exception_ptr first;
  for (Bucket& bucket : buckets_) {
    for (Slot& s : bucket.slots) {
      if (!s.live) continue;
      for (TValue* cell : {&s.entry.key, &s.entry.value}) {
        try {
          Release(*cell);
        } catch (...) {
          if (!first) first = std::current_exception();
        }
      }
    }
    bucket = Bucket{};
  }
  heads_.assign(64, kNone);
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
  return Mix(key.u ^ (key.kind * 0x9e3779b9u));
}

uint32_t THashtable::Hash(const TValue& key) const {
  if (IsStringObject(key)) {
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
  return CompareValues(stored, key) == 0.0f;
}

uint32_t THashtable::IndexHash(const TValue& key) const {
  switch (key.kind) {
  case vtNull:
  case vtUnset: return Mix(vtNull); // null and unset compare equal
  case vtInt:
  case vtFloat: {
    // Numbers compare as floats: an integer and a float meet when the integer converts to that
    // float (so 16777217 meets 16777216.0), and -0.0 meets 0.
    float f = ValueToFloat(key);
    if (f == 0.0f) f = 0.0f;
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
