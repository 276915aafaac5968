// The fixed 32-bucket hash tables behind the kernel's HashTable (keys compared by value) and
// LightHashTable (keys compared by identity).
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "runtime/value.h"

namespace brova {

// The 32 buckets fix the key walk's order; lookups go through an index instead of scanning a
// bucket. A bucket keeps its entries in insertion order, with removed ones left as gaps until
// the table compacts, so an entry's slot only moves when gaps outnumber entries.
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

  // The first entry of the key's bucket whose stored key is the same as `key`, or null.
  Entry* Find(const TValue& key);
  // Stores a copy of both cells (each with its own counted reference); an existing entry keeps
  // its place and gets the new key and value.
  void Put(const TValue& key, const TValue& value);
  // Takes the entry of `key` out: copies its value into `out` (counted) and releases its cells.
  // False, and `out` untouched, when there is none.
  bool Remove(const TValue& key, TValue& out);
  int32_t Size() const { return live_; }

  // The key walk: bucket by bucket, in insertion order within a bucket. It stands on the n-th
  // entry of a bucket, so a removal before it makes it skip the entry that moved up.
  void StartWalk();
  bool WalkStandsOnEntry() const { return walkBucket_ < kBuckets && walkSlot_ >= 0; }
  // The key the walk stands on (null when none); then the walk moves on.
  TValue NextKey();

  // Releases every cell and empties the table. Every cell is released even when one release
  // fails; the first failure is raised afterwards.
  void ReleaseAll();

protected:
  // The index's hash: keys that SameKey can join hash alike, except a stored text key met by a
  // key of another kind, which `TextProbe` covers.
  virtual uint32_t IndexHash(const TValue& key) const = 0;
  virtual bool IsTextKey(const TValue& key) const = 0;
  // For a key that is not a text: the index hash a stored text key the same as it would have.
  virtual uint32_t TextProbe(const TValue& key) const = 0;

private:
  struct Slot {
    Entry entry;
    uint32_t indexHash;
    int32_t chain; // next node of the same index head, or kNone
    bool live;
    bool text;
  };
  struct Bucket {
    std::vector<Slot> slots;
    int32_t live = 0;
    int32_t texts = 0;
  };
  static constexpr int32_t kNone = -1;
  static constexpr int kSlotBits = 26;

  static int32_t Node(int bucket, int32_t slot) { return (bucket << kSlotBits) | slot; }
  Slot& SlotOf(int32_t node) {
    return buckets_[node >> kSlotBits].slots[node & ((1 << kSlotBits) - 1)];
  }
  int32_t FindSlot(int bucket, const TValue& key);
  void Link(int32_t node);
  void Unlink(int32_t node);
  void Rebuild(size_t heads);
  void Compact();
  int32_t NextLive(int bucket, int32_t from) const;
  void SettleWalk();

  std::array<Bucket, kBuckets> buckets_;
  std::vector<int32_t> heads_;
  int32_t live_ = 0;
  int32_t gaps_ = 0;
  int32_t walkBucket_ = 0;
  int32_t walkPosition_ = 0;  // the walk's entry counted within its bucket
  int32_t walkSlot_ = kNone;  // that entry's slot, kNone when the bucket has no such entry
};

// Keys are the same when they have the same kind and payload.
class TLightHashtable final : public TAbstractHashtable {
public:
  const char* NativeClassName() const override { return "TLightHashtable"; }
  uint32_t Hash(const TValue& key) const override;
  bool SameKey(const TValue& stored, const TValue& key) const override;

protected:
  uint32_t IndexHash(const TValue& key) const override;
  bool IsTextKey(const TValue&) const override { return false; }
  uint32_t TextProbe(const TValue&) const override { return 0; }
};

// Keys are the same when they compare equal: strings by text, numbers by value.
class THashtable final : public TAbstractHashtable {
public:
  const char* NativeClassName() const override { return "THashtable"; }
  uint32_t Hash(const TValue& key) const override;
  bool SameKey(const TValue& stored, const TValue& key) const override;

protected:
  uint32_t IndexHash(const TValue& key) const override;
  bool IsTextKey(const TValue& key) const override { return IsStringObject(key); }
  uint32_t TextProbe(const TValue& key) const override;
};

} // namespace brova
