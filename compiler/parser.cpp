// Ordered-choice, greedy, backtracking descent over the grammar rules.
//
// Items under construction live on one scratch stack; a node is made only when its sequence
// has completed, so failed attempts allocate nothing. No rule is tried that the next token
// cannot begin. A completed node that backtracking throws away is kept in a small cache keyed
// by (rule, token index): the grammar tries an assignment target before the value that may
// begin with the same member chain, and without the cache every level of nested calls would
// parse its arguments twice (2^n for n levels). Reusing a cached node is exact: the same rule
// at the same index always builds the same tree, and the cache also remembers what that parse
// did to the last-matched position and how deep it nested.
#include <algorithm>
#include <utility>

#include "compiler/yup.h"
#include "runtime/statistics.h"

namespace brova {

namespace {

struct TNodeInfo {
  const TRuleNode* rule; // the sequence rule that built the node
  const char* after;     // the last-matched position when it was complete
  uint32_t slot;         // where the node stands on the scratch stack
  int32_t start, end;    // token range it covers
  int32_t span;          // how much deeper than itself its parse nested
  bool matched;          // whether a token was matched while it was built
};

struct TCached {
  TResultList* node = nullptr;
  TNodeInfo info{};
};

constexpr size_t kCacheSlots = 64;

} // namespace

class TParseRun {
public:
  TParseRun(TLexList& list, TNodeArena& arena)
      : list_(list), tokens_(list.tokens_.data()), count_(list.Count()), arena_(arena) {}
  ~TParseRun();
  TParseRun(const TParseRun&) = delete;
  TParseRun& operator=(const TParseRun&) = delete;

  // The start rule's node when it matched every token, else nullptr.
  TResultList* Run(const TRuleNode* start);
  // After a successful run: uncounts what is not part of the tree (the cache) and gives the
  // number of nodes in the tree, which from now on the tree accounts for.
  int64_t HandOverTree();

private:
  bool Match(const TRuleNode* node);
  bool MatchChoice(const TRuleNode* rule);
  bool MatchSequence(const TRuleNode* rule);
  bool MatchLevel(const TRuleNode* rule);
  bool MatchNothing(const TRuleNode* rule);
  void Complete(const TRuleNode* rule, size_t mark, int32_t start, int32_t span, bool matched);
  void Record(const TNodeInfo& info);
  bool Reuse(TCached& cached);
  // The node `rule` left in the cache at the current token, or null.
  TCached* CachedAt(const TRuleNode* rule) {
    if (cached_ <= 0) return nullptr;
    TCached& cached = cache_[CacheSlot(rule, index_)];
    return cached.node && cached.info.rule == rule && cached.info.start == index_ ? &cached
                                                                                   : nullptr;
  }
  // An optional group the next token cannot begin, taken as nothing without the general step
  // (as MatchNothing would take it) unless the run is aborting or at its nesting bound.
  bool SkipsAtOnce(const TRuleNode* group) const {
    return (index_ >= count_ || !group->MayStartWith(tokens_[index_].rule)) && !aborted_ &&
           depth_ < kMaxSyntaxDepth;
  }
  void PushNode(TResultList* node, const TNodeInfo& info) {
    infos_.push_back(info);
    infos_.back().slot = static_cast<uint32_t>(scratch_.size());
    scratch_.push_back(TResultList::ItemOf(node));
  }
  void Discard(size_t from);
  void Cache(TResultList* node, const TNodeInfo& info);
  void Forget(TResultList* node);
  static size_t CacheSlot(const TRuleNode* rule, int32_t start) {
    return (static_cast<size_t>(start) * 31u + (reinterpret_cast<uintptr_t>(rule) >> 4)) %
           kCacheSlots;
  }

  TLexList& list_;
  const TLexElem* tokens_;
  int32_t count_;
  TNodeArena& arena_;
  int64_t made_ = 0;
  int32_t index_ = 0;
  const char* lastMatched_ = nullptr;
  uint64_t matches_ = 0; // token matches so far
  int depth_ = 0;
  int deepest_ = 0;      // deepest nesting reached within the innermost open sequence
  bool aborted_ = false; // nesting went past kMaxSyntaxDepth: everything fails from here
  std::vector<TResItem> scratch_;
  std::vector<TNodeInfo> infos_; // one per node on the scratch stack, in stack order
  std::array<TCached, kCacheSlots> cache_{};
  size_t cached_ = 0;
};

// Nodes not handed over to a tree are gone with the arena.
TParseRun::~TParseRun() { g_live.syntaxNodes -= made_; }

int64_t TParseRun::HandOverTree() {
  for (TCached& c : cache_)
    if (c.node) Forget(std::exchange(c.node, nullptr));
  return std::exchange(made_, 0);
}

TResultList* TParseRun::Run(const TRuleNode* start) {
  index_ = 0;
  lastMatched_ = list_.lastMatched_;
  bool ok = Match(start);
  list_.index_ = index_;
  list_.lastMatched_ = lastMatched_;
  if (!ok || index_ != count_ || !TResultList::ItemIsList(scratch_.back())) return nullptr;
  TResultList* root = TResultList::ItemList(scratch_.back());
  if (!infos_.empty() && infos_.back().slot + 1 == scratch_.size()) infos_.pop_back();
  scratch_.pop_back();
  return root;
}

bool TParseRun::Match(const TRuleNode* node) {
  if (aborted_) return false;
  const TRuleNode* rule = node->target;
  switch (rule->kind) {
  case TRuleKind::Literal:
    if (index_ < count_ && tokens_[index_].rule == rule->linked) {
      scratch_.push_back(TResultList::ItemOf(&tokens_[index_]));
      lastMatched_ = tokens_[index_].start;
      ++matches_;
      ++index_;
      return true;
    }
    return false;
  case TRuleKind::Choice:
  case TRuleKind::Sequence: {
    // A rule that must take a token and cannot begin with the next one fails before it has
    // matched anything, and a group whose first item must take one matches nothing: taking
    // the shortcut changes nothing but the time.
    if (index_ >= count_ || !rule->MayStartWith(tokens_[index_].rule)) {
      if (!rule->nullable) return false;
      if (rule->emptyUnlessStarted) return MatchNothing(rule);
    }
    if (depth_ >= kMaxSyntaxDepth) {
      aborted_ = true;
      return false;
    }
    ++depth_;
    deepest_ = std::max(deepest_, depth_);
    bool ok = rule->kind == TRuleKind::Choice ? MatchChoice(rule)
              : rule->level                   ? MatchLevel(rule)
                                              : MatchSequence(rule);
    --depth_;
    return ok;
  }
  default:
    return false;
  }
}

// A failed child leaves the index and the scratch stack as they were.
bool TParseRun::MatchChoice(const TRuleNode* rule) {
  for (const TRuleNode* child : rule->children)
    if (Match(child)) return true;
  return false;
}

bool TParseRun::MatchSequence(const TRuleNode* rule) {
  if (TCached* cached = CachedAt(rule)) return Reuse(*cached);
  const size_t mark = scratch_.size();
  const int32_t start = index_;
  const uint64_t matchesBefore = matches_;
  const int outerDeepest = deepest_;
  deepest_ = depth_;
  int32_t count = 0;
  while (count < rule->max) {
    const size_t repetition = scratch_.size();
    const int32_t repetitionStart = index_;
    bool complete = true;
    for (const TRuleNode* child : rule->children) {
      const TRuleNode* group = child->target;
      if (group->emptyNode && group->nullable && SkipsAtOnce(group)) {
        deepest_ = std::max(deepest_, depth_ + 1);
        scratch_.push_back(TResultList::ItemOf(group->emptyNode));
        continue;
      }
      if (!Match(child)) {
        complete = false;
        break;
      }
    }
    if (!complete) {
      Discard(repetition);
      index_ = repetitionStart;
      break;
    }
    ++count;
  }
  const int32_t span = deepest_ - depth_;
  deepest_ = std::max(outerDeepest, deepest_);
  if (count < rule->min || aborted_) {
    Discard(mark);
    index_ = start;
    return false;
  }
  Complete(rule, mark, start, span, matches_ != matchesBefore);
  return true;
}

// MatchSequence for a precedence level, where most operands apply no operator: the level is
// then its operand, and the node stays where it is with its record rewritten.
bool TParseRun::MatchLevel(const TRuleNode* rule) {
  if (TCached* cached = CachedAt(rule)) return Reuse(*cached);
  const size_t mark = scratch_.size();
  const int32_t start = index_;
  const uint64_t matchesBefore = matches_;
  const int outerDeepest = deepest_;
  deepest_ = depth_;
  // A failed operand leaves nothing to give back.
  if (!Match(rule->children[0])) {
    deepest_ = std::max(outerDeepest, deepest_);
    return false;
  }
  const TRuleNode* group = rule->children[1]->target;
  if (SkipsAtOnce(group)) {
    deepest_ = std::max(deepest_, depth_ + 1);
    const int32_t span = deepest_ - depth_;
    deepest_ = std::max(outerDeepest, deepest_);
    if (scratch_.size() == mark + 1 && TResultList::ItemIsList(scratch_[mark])) {
      Record(TNodeInfo{rule, lastMatched_, static_cast<uint32_t>(mark), start, index_, span,
                       matches_ != matchesBefore});
      return true;
    }
    scratch_.push_back(TResultList::ItemOf(group->emptyNode));
    Complete(rule, mark, start, span, matches_ != matchesBefore);
    return true;
  }
  const bool complete = Match(rule->children[1]);
  const int32_t span = deepest_ - depth_;
  deepest_ = std::max(outerDeepest, deepest_);
  if (!complete || aborted_) {
    Discard(mark);
    index_ = start;
    return false;
  }
  Complete(rule, mark, start, span, matches_ != matchesBefore);
  return true;
}

// The node of a completed sequence takes the place of its items.
void TParseRun::Complete(const TRuleNode* rule, size_t mark, int32_t start, int32_t span,
                         bool matched) {
  const std::span<const TResItem> items(scratch_.data() + mark, scratch_.size() - mark);
  TResultList* node = rule->prototype->MakeNode(arena_, items);
  const TResItem item = TResultList::ItemOf(node);
  if (node->Placed() && std::find(items.begin(), items.end(), item) == items.end()) ++made_;
  while (!infos_.empty() && infos_.back().slot > mark) infos_.pop_back();
  Record(TNodeInfo{rule, lastMatched_, static_cast<uint32_t>(mark), start, index_, span, matched});
  scratch_.resize(mark + 1);
  scratch_[mark] = item;
}

// The record of the node at info.slot, the top of the scratch stack once it is complete: that
// of its first item, when it had one, is rewritten rather than dropped and made again.
void TParseRun::Record(const TNodeInfo& info) {
  if (!infos_.empty() && infos_.back().slot == info.slot) infos_.back() = info;
  else infos_.push_back(info);
}

// What MatchSequence does for a group whose first item fails at once: the nesting it
// would reach, then the group's empty node.
bool TParseRun::MatchNothing(const TRuleNode* rule) {
  if (depth_ >= kMaxSyntaxDepth) {
    aborted_ = true;
    return false;
  }
  deepest_ = std::max(deepest_, depth_ + 1);
  TResultList* node = rule->prototype->MakeNode(arena_, {});
  // A node that is no tree's needs no record: it is never cached, and were it taken again it
  // would be made again as fast.
  if (!node->Placed()) {
    scratch_.push_back(TResultList::ItemOf(node));
    return true;
  }
  ++made_;
  PushNode(node, TNodeInfo{rule, lastMatched_, 0, index_, index_, 0, false});
  return true;
}

// Takes a node from the cache as if its rule had been parsed again here.
bool TParseRun::Reuse(TCached& cached) {
  const TNodeInfo info = cached.info;
  if (depth_ + info.span > kMaxSyntaxDepth) {
    aborted_ = true;
    return false;
  }
  TResultList* node = std::exchange(cached.node, nullptr);
  --cached_;
  index_ = info.end;
  if (info.matched) {
    lastMatched_ = info.after;
    ++matches_;
  }
  deepest_ = std::max(deepest_, depth_ + info.span);
  PushNode(node, info);
  return true;
}

// Gives back the items from `from` on; the nodes among them go to the cache (once the parse
// has been aborted they are of no more use: the arena takes them with the rest).
void TParseRun::Discard(size_t from) {
  while (!infos_.empty() && infos_.back().slot >= from) {
    if (!aborted_) Cache(TResultList::ItemList(scratch_[infos_.back().slot]), infos_.back());
    infos_.pop_back();
  }
  scratch_.resize(from);
}

void TParseRun::Cache(TResultList* node, const TNodeInfo& info) {
  TCached& cached = cache_[CacheSlot(info.rule, info.start)];
  if (cached.node) Forget(cached.node);
  else ++cached_;
  cached.node = node;
  cached.info = info;
}

void TParseRun::Forget(TResultList* node) {
  int64_t n = TResultList::CountNodes(node);
  made_ -= n;
  g_live.syntaxNodes -= n;
}

TSyntaxTree TYup::Parse(TLexList& tokens) {
  TSyntaxTree tree;
  if (tokens.engine_ != this || !grammar_ || grammar_->TopLevel().empty()) return tree;
  TNodeArena arena;
  TParseRun run(tokens, arena);
  TResultList* root = run.Run(grammar_->TopLevel().front());
  if (!root) return tree;
  tree.nodes_ = run.HandOverTree();
  tree.root_ = root;
  tree.arena_ = std::move(arena);
  ++liveParses_;
  return tree;
}

} // namespace brova
