// The fixed 32-bucket hash tables behind the kernel's HashTable (keys compared by value) and
// LightHashTable (keys compared by identity).
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "runtime/value.h"

namespace brova {

class TAbstractHashtable : public TNativeObject {
public:
  static constexpr NativeKind kKind = NativeKind::Hashtable;
  static constexpr int kBuckets = 32;

  struct Entry {
    TValue key;
    TValue value;
  };

  TAbstractHashtable();

  // A key's hash, below 2^30.
  virtual uint32_t Hash(const TValue& key) const = 0;
  virtual bool SameKey(const TValue& stored, const TValue& key) const = 0;

  // The top five of the thirty hash bits.
  int BucketOf(const TValue& key) const { return static_cast<int>(Hash(key) >> 25); }

  // The entry stored under `key`, or null; remembers where it was found.
  Entry* Find(const TValue& key);
  // Stores a copy of both cells (each with its own counted reference); an existing entry keeps
  // its place and gets the new key and value.
  void Put(const TValue& key, const TValue& value);
  // Takes the entry of `key` out: copies its value into `out` (counted) and releases its cells.
  // False, and `out` untouched, when there is none.
  bool Remove(const TValue& key, TValue& out);
  int32_t Size() const;

  // The key walk: bucket by bucket, in insertion order within a bucket.
  void StartWalk();
  bool WalkStandsOnEntry() const;
  // The key the walk stands on (null when none); then the walk moves on.
  TValue NextKey();

  // Releases every cell and empties the table. Every cell is released even when one release
  // fails; the first failure is raised afterwards.
  void ReleaseAll();

private:
  void AdvanceWalk();

  std::array<std::vector<Entry>, kBuckets> buckets_;
  int32_t foundBucket_ = 0;
  int32_t foundPosition_ = 0;
  int32_t walkBucket_ = 0;
  int32_t walkPosition_ = 0;
};

// Keys are the same when they have the same kind and payload.
class TLightHashtable final : public TAbstractHashtable {
public:
  const char* NativeClassName() const override { return "TLightHashtable"; }
  uint32_t Hash(const TValue& key) const override;
  bool SameKey(const TValue& stored, const TValue& key) const override;
};

// Keys are the same when they compare equal: strings by text, numbers by value.
class THashtable final : public TAbstractHashtable {
public:
  const char* NativeClassName() const override { return "THashtable"; }
  uint32_t Hash(const TValue& key) const override;
  bool SameKey(const TValue& stored, const TValue& key) const override;
};

} // namespace brova
