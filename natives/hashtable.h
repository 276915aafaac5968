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

  // A key's hash, below 2^30.
  uint32_t Hash(const TValue& key) const;
  bool SameKey(const TValue& stored, const TValue& key) const;

  // The top five of the thirty hash bits.
  int BucketOf(const TValue& key) const { return static_cast<int>(Hash(key) >> 25); }

  // The first entry of the key's bucket whose stored key is the same as `key`, or null.
  Entry* Find(const TValue& key) {
    int32_t cell = Quick(key) ? QuickFind(key, QuickHash(key)) : FindCell(key, IndexHash(key));
    return cell == kNone ? nullptr : &cells_[cell].entry;
  }
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
  // `byValue`: keys compare by value (HashTable), otherwise by identity (LightHashTable).
  explicit TAbstractHashtable(bool byValue);

private:
  // A chain holds only keys of one home and starts at that home: a key whose home is taken by
  // a cell of another chain moves that cell to a free one.
  struct Cell {
    Entry entry;   // each cell counted
    uint32_t hash; // IndexHash of the key
    int32_t home;  // Home(hash); kNone when empty, so a lookup tells its chain by one compare
    int32_t node;  // (bucket << kSlotBits) | slot in the bucket's order; kNone when empty
    int32_t next;  // the chain's next cell, or kNone
  };
  static_assert(sizeof(Cell) == 32, "cells do not straddle cache lines");
  struct Bucket {
    std::vector<int32_t> order; // the cell of each slot, kNone for a gap
    int32_t live = 0;
    int32_t texts = 0;
  };
  static constexpr int32_t kNone = -1;
  static constexpr int kSlotBits = 26;
  static constexpr int32_t kSlotMask = (1 << kSlotBits) - 1;
  // Integers this far from zero are exact as floats.
  static constexpr int32_t kExactInt = 1 << 24;

  static int32_t Node(int bucket, int32_t slot) { return (bucket << kSlotBits) | slot; }
  int32_t& OrderOf(int32_t node) { return buckets_[node >> kSlotBits].order[node & kSlotMask]; }
  // A home is the hash modulo a prime, so keys in arithmetic progression (as loops make them)
  // get homes in one too, which the processor fetches ahead.
  int32_t Home(uint32_t hash) const { return static_cast<int32_t>(hash % homes_); }
  static Cell EmptyCell() { return Cell{Entry{NullValue(), NullValue()}, 0, kNone, kNone, kNone}; }

  // A key the lookup can match on its hash and payload alone: any key of an identity table,
  // and an integer exact as a float in a table holding no text key. Such a key is the same as
  // at most one stored key, of its own bucket and IndexHash: the integer itself or the float
  // equal to it.
  bool Quick(const TValue& key) const {
    return !byValue_ ||
           (key.kind == vtInt && texts_ == 0 && key.i > -kExactInt && key.i < kExactInt);
  }
  // IndexHash of a quick key.
  uint32_t QuickHash(const TValue& key) const {
    return byValue_ ? key.u : key.u + key.kind * 0x9e3779b9u;
  }
  int32_t QuickFind(const TValue& key, uint32_t hash) const {
    int32_t home = Home(hash);
    const Cell* c = &cells_[home];
    // A head of another home starts another chain: no key of this home is stored.
    if (c->home != home) return kNone;
    for (int32_t i = home;;) {
      const TValue& k = c->entry.key;
      if (c->hash == hash && ((k.kind == key.kind && k.u == key.u) ||
                              (byValue_ && k.kind == vtFloat && k.f == static_cast<float>(key.i))))
        return i;
      if ((i = c->next) == kNone) return kNone;
      c = &cells_[i];
    }
  }
  uint32_t IndexHash(const TValue& key) const;
  // Keys that SameKey can join hash alike in the index, except a stored text key met by a key
  // of another kind, which is looked for under the hash the key's text would have.
  bool IsTextKey(const TValue& key) const {
    return byValue_ && key.kind == vtObject && IsStringObject(key);
  }
  int32_t FindCell(const TValue& key, uint32_t hash) const;
  bool PutEntry(const TValue& key, const TValue& value, bool mayGrow) {
    if (Quick(key)) {
      uint32_t h = QuickHash(key);
      int32_t cell = QuickFind(key, h);
      if (cell == kNone) return Insert(key, value, h, mayGrow);
      Entry& e = cells_[cell].entry;
      // The old key is a number or the very key stored: only the value's release can fail.
      if (!mayGrow && e.value.kind == vtObject && ObjectPtr(e.value)->refCount < 2) return false;
      e.key = key;
      AssignValue(e.value, value);
      return true;
    }
    return PutAnyKey(key, value, mayGrow);
  }
  bool PutAnyKey(const TValue& key, const TValue& value, bool mayGrow);
  // A new entry of a key no stored key is the same as.
  bool Insert(const TValue& key, const TValue& value, uint32_t hash, bool mayGrow);
  // Whether a free cell is left below free_; free_ then stands just above the highest one.
  bool HasSpare();
  // A cell for a new entry of `node`, its cells null; may rebuild the index.
  int32_t Place(uint32_t hash, int32_t node);
  // Empties the cell; the chain's next cell may move into it.
  void Vacate(int32_t cell);
  void Rebuild(size_t entries);
  void Compact();
  int32_t NextLive(int bucket, int32_t from) const;
  void SettleWalk();

  const bool byValue_;
  std::array<Bucket, kBuckets> buckets_;
  std::vector<Cell> cells_; // a power of two
  uint32_t homes_ = 0;      // the largest prime below the cell count
  size_t free_ = 0;         // no cell at or above it is taken as a free cell until a rebuild
  int32_t live_ = 0;
  int32_t gaps_ = 0;
  int32_t texts_ = 0;       // text keys stored, over all buckets
  int32_t walkBucket_ = 0;
  int32_t walkPosition_ = 0;  // the walk's entry counted within its bucket
  int32_t walkSlot_ = kNone;  // that entry's slot, kNone when the bucket has no such entry
};

// Keys are the same when they have the same kind and payload.
class TLightHashtable final : public TAbstractHashtable {
public:
  TLightHashtable() : TAbstractHashtable(false) {}
  const char* NativeClassName() const override { return "TLightHashtable"; }
};

// Keys are the same when they compare equal: strings by text, numbers by value.
class THashtable final : public TAbstractHashtable {
public:
  THashtable() : TAbstractHashtable(true) {}
  const char* NativeClassName() const override { return "THashtable"; }
};

} // namespace brova
