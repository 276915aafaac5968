#include "natives/hashtable.h"

#include <cmath>
#include <exception>

namespace brova {
namespace {

constexpr uint32_t kHashMask = (1u << 30) - 1;

uint32_t IdentityHash(uint32_t kind, uint32_t payload) {
  return ((kind * 70009u + payload * 7000009u) * 48828125u) & kHashMask;
}

} // namespace

TAbstractHashtable::TAbstractHashtable() : TNativeObject(kKind) {}

TAbstractHashtable::Entry* TAbstractHashtable::Find(const TValue& key) {
  int b = BucketOf(key);
  foundBucket_ = b;
  std::vector<Entry>& bucket = buckets_[b];
  for (size_t i = 0; i < bucket.size(); ++i) {
    if (SameKey(bucket[i].key, key)) {
      foundPosition_ = static_cast<int32_t>(i);
      return &bucket[i];
    }
  }
  return nullptr;
}

void TAbstractHashtable::Put(const TValue& key, const TValue& value) {
  Entry* e = Find(key);
  if (!e) {
    std::vector<Entry>& bucket = buckets_[foundBucket_];
    foundPosition_ = static_cast<int32_t>(bucket.size());
    e = &bucket.emplace_back(Entry{NullValue(), NullValue()});
  }
  AssignValue(e->key, key);
  AssignValue(e->value, value);
}

bool TAbstractHashtable::Remove(const TValue& key, TValue& out) {
  if (!Find(key)) return false;
  std::vector<Entry>& bucket = buckets_[foundBucket_];
  Entry taken = bucket[foundPosition_];
  AssignValue(out, taken.value);
  bucket.erase(bucket.begin() + foundPosition_);
  Release(taken.key);
  Release(taken.value);
  return true;
}

int32_t TAbstractHashtable::Size() const {
  size_t n = 0;
  for (const auto& bucket : buckets_) n += bucket.size();
  return static_cast<int32_t>(n);
}

void TAbstractHashtable::StartWalk() {
  walkBucket_ = 0;
  walkPosition_ = -1;
  AdvanceWalk();
}

void TAbstractHashtable::AdvanceWalk() {
  ++walkPosition_;
  while (walkBucket_ < kBuckets &&
         walkPosition_ >= static_cast<int32_t>(buckets_[walkBucket_].size())) {
    ++walkBucket_;
    walkPosition_ = 0;
  }
}

bool TAbstractHashtable::WalkStandsOnEntry() const {
  return walkBucket_ >= 0 && walkBucket_ < kBuckets && walkPosition_ >= 0 &&
         walkPosition_ < static_cast<int32_t>(buckets_[walkBucket_].size());
}

TValue TAbstractHashtable::NextKey() {
  TValue key = WalkStandsOnEntry() ? buckets_[walkBucket_][walkPosition_].key : NullValue();
  AdvanceWalk();
  return key;
}

void TAbstractHashtable::ReleaseAll() {
  std::exception_ptr first;
  for (auto& bucket : buckets_) {
    for (Entry& e : bucket) {
      for (TValue* cell : {&e.key, &e.value}) {
        try {
          Release(*cell);
        } catch (...) {
          if (!first) first = std::current_exception();
        }
      }
    }
    bucket.clear();
  }
  if (first) std::rethrow_exception(first);
}

uint32_t TLightHashtable::Hash(const TValue& key) const { return IdentityHash(key.kind, key.u); }

bool TLightHashtable::SameKey(const TValue& stored, const TValue& key) const {
  return stored.kind == key.kind && stored.u == key.u;
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

} // namespace brova
