// A rule tree: one node per line of a rule text. The lexical and the grammar rules share the
// record; each reads the fields that concern it.
#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace brova {

class TResultList;

// The bytes that can begin a match of a lexical rule: bit b is set when byte b can.
struct TFirst {
  std::array<uint32_t, 8> bits{};

  bool Has(uint8_t b) const { return (bits[b >> 5] >> (b & 31)) & 1u; }
  bool Empty() const { return bits == std::array<uint32_t, 8>{}; }
  void Add(uint8_t b) { bits[b >> 5] |= 1u << (b & 31); }
  void AddRange(uint8_t low, uint8_t high);
  void AddAll();
  // Adds the other set; true when that added a bit.
  bool Merge(const TFirst& other);
};

enum class TRuleKind : uint8_t {
  Sequence = 0,
  Choice = 1,
  Literal = 2,
  Range = 3,
  Name = 4, // a plain name until names are resolved; afterwards a reference to `target`
};

// The repetition limit of the open-ended groups ([} and {}).
inline constexpr int32_t kRepeatLimit = 123456;

// The fields the matchers read on every step come first.
struct TRuleNode {
  TRuleNode* target = this; // the node matched in this one's place
  TRuleKind kind = TRuleKind::Name;
  uint8_t low = 0, high = 0;         // range bounds, inclusive
  bool nullable = false;             // may match without taking a token (or byte)
  // Lexical: at these bytes a match takes the byte alone, nesting at most `levels` choices
  // and sequences deep.
  uint16_t levels = 0;
  // Grammar: an optional or repeated group whose first item must take a token, so that it
  // matches nothing at once when the next token cannot begin it.
  bool emptyUnlessStarted = false;
  // Grammar, such a group: the node its empty match gives when that is fixed, else null.
  const TResultList* emptyNode = nullptr;
  // Grammar: a precedence level, an operand and then such a group whose empty match leaves
  // the operand alone in the level's place.
  bool level = false;
  int32_t min = 1, max = 1;          // repetition counts of a sequence
  std::vector<TRuleNode*> children;  // in line order
  const TRuleNode* link = nullptr;   // grammar literal: the lexical rule of its tokens
  uint32_t linked = UINT32_MAX;      // and that rule's number (none: no token has it)
  TResultList* prototype = nullptr;  // grammar: owned by the engine
  uint32_t number = 0;               // lexical top-level rule: its position among them
  std::vector<uint64_t> firstTokens; // grammar: bit n set when a token of lexical rule
                                     // number n can begin a match
  TFirst first;                      // lexical
  TFirst starts;                     // lexical: the bytes a match that takes any can begin with
  TFirst singles;
  std::string name;                  // a literal's name is the bytes it matches

  TRuleNode() = default;
  TRuleNode(const TRuleNode&) = delete;
  TRuleNode& operator=(const TRuleNode&) = delete;

  bool MayStartWith(uint32_t tokenRule) const {
    return (firstTokens[tokenRule >> 6] >> (tokenRule & 63)) & 1u;
  }
};

// The nodes of one rule text, in line order; the root is the first.
struct TRuleTree {
  std::deque<TRuleNode> nodes;

  TRuleNode* Root() { return &nodes.front(); }
  const TRuleNode* Root() const { return &nodes.front(); }
  const std::vector<TRuleNode*>& TopLevel() const { return nodes.front().children; }
};

} // namespace brova
