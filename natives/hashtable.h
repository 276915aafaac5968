// The fixed 32-bucket hash tables behind the kernel's HashTable (keys compared by value) and
// LightHashTable (keys compared by identity).
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "runtime/value.h"

namespace brova {

// The 32 buckets fix the key walk's order; the entries themselves live in one index of cells,
// chained per home cell, so a lookup touches the key's home and its few chain cells instead of
// scanning a bucket. A bucket keeps the cells of its entries in insertion order, with removed
// ones left as gaps until the table compacts, so an entry's place in the walk only moves when
// gaps outnumber entries.
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
  void Put(const TValue& key, const TValue& value) { PutEntry(key, value, true); }
  // The same where it needs no allocation and no release that could fail; otherwise false,
  // with nothing changed.
  bool PutInPlace(const TValue& key, const TValue& value) { return PutEntry(key, value, false); }
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
  // A chain holds only keys of one home and starts at that home: a key whose home is taken by
  // a cell of another chain moves that cell to a free one.
  struct Cell {
    Entry entry;   // each cell counted
    uint32_t hash; // IndexHash of the key
    int32_t node;  // (bucket << kSlotBits) | slot in the bucket's order; kNone when empty
    int32_t next;  // the chain's next cell, or kNone
  };
  struct Bucket {
    std::vector<int32_t> order; // the cell of each slot, kNone for a gap
    int32_t live = 0;
    int32_t texts = 0;
  };
  static constexpr int32_t kNone = -1;
  static constexpr int kSlotBits = 26;
  static constexpr int32_t kSlotMask = (1 << kSlotBits) - 1;

  static int32_t Node(int bucket, int32_t slot) { return (bucket << kSlotBits) | slot; }
  int32_t& OrderOf(int32_t node) { return buckets_[node >> kSlotBits].order[node & kSlotMask]; }
  // A home is the hash modulo a prime, so keys in arithmetic progression (as loops make them)
  // get homes in one too, which the processor fetches ahead.
  size_t Home(uint32_t hash) const { return hash % homes_; }
  int32_t FindCell(int bucket, const TValue& key, uint32_t hash) const;
  bool PutEntry(const TValue& key, const TValue& value, bool mayGrow);
  // A cell for a new entry of `node`, its cells null; may rebuild the index.
  int32_t Place(uint32_t hash, int32_t node);
  // Empties the cell; the chain's next cell may move into it.
  void Vacate(int32_t cell);
  void Rebuild(size_t entries);
  void Compact();
  int32_t NextLive(int bucket, int32_t from) const;
  void SettleWalk();

  std::array<Bucket, kBuckets> buckets_;
  std::vector<Cell> cells_; // a power of two
  uint32_t homes_ = 0;      // the largest prime below the cell count
  size_t free_ = 0;         // no cell at or above it is taken as a free cell until a rebuild
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
  // Numbers, the common keys, are told apart without the call.
  bool IsTextKey(const TValue& key) const override {
    return key.kind == vtObject && IsStringObject(key);
  }
  uint32_t TextProbe(const TValue& key) const override;
};

} // namespace brova
