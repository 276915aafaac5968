#include "compiler/yup.h"

#include <algorithm>
#include <utility>

#include "compiler/rule_reader.h"
#include "runtime/statistics.h"

namespace brova {

namespace {
TYup* g_engine = nullptr;
} // namespace

TSyntaxTree::~TSyntaxTree() { Reset(); }

TSyntaxTree::TSyntaxTree(TSyntaxTree&& other) noexcept
    : arena_(std::move(other.arena_)), root_(std::exchange(other.root_, nullptr)),
      nodes_(std::exchange(other.nodes_, 0)) {}

TSyntaxTree& TSyntaxTree::operator=(TSyntaxTree&& other) noexcept {
  if (this != &other) {
    Reset();
    arena_ = std::move(other.arena_);
    root_ = std::exchange(other.root_, nullptr);
    nodes_ = std::exchange(other.nodes_, 0);
  }
  return *this;
}

void TSyntaxTree::Reset() {
  if (!root_) return;
  root_ = nullptr;
  arena_ = TNodeArena();
  g_live.syntaxNodes -= std::exchange(nodes_, 0);
  --TYup::liveParses_;
}

TYup::TYup() { g_engine = this; }

TYup::~TYup() {
  if (g_engine == this) g_engine = nullptr;
}

TYup* TYup::Current() { return g_engine; }

// Both trees are built before either is kept: a text that fails leaves the engine unbuilt,
// and the next Lex tries again.
void TYup::BuildRules() {
  std::unique_ptr<TRuleTree> lexical = ReadLexicalRules(lexNode_);
  std::vector<std::unique_ptr<TResultList>> prototypes;
  std::unique_ptr<TRuleTree> grammar =
      ReadGrammarRules(gramNode_, *lexical, OnCreateList, prototypes);

  std::array<std::vector<const TRuleNode*>, 256> candidates;
  for (const TRuleNode* rule : lexical->TopLevel()) {
    if (rule->name == "*Stop") break;
    for (unsigned b = 1; b < 256; ++b)
      if (rule->first.Has(static_cast<uint8_t>(b))) candidates[b].push_back(rule);
  }

  lexical_ = std::move(lexical);
  grammar_ = std::move(grammar);
  prototypes_ = std::move(prototypes);
  candidates_ = std::move(candidates);
  rulesRead_ = true;
}

const TRuleNode* TYup::LexicalRule(std::string_view name) const {
  if (!lexical_) return nullptr;
  for (const TRuleNode* rule : lexical_->TopLevel())
    if (rule->name == name) return rule;
  return nullptr;
}

std::vector<std::string> SplitRuleLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

} // namespace brova
