#include <cstring>
#include <vector>

#include "compiler/yup.h"
#include "runtime/statistics.h"

namespace brova {

TLexList::TLexList(const char* sourceStart, const char* sourceEnd)
    : sourceStart_(sourceStart), sourceEnd_(sourceEnd) {}

TLexList::~TLexList() { g_live.tokens -= static_cast<int64_t>(tokens_.size()); }

const TRuleNode* TLexList::RuleOf(const TLexElem& token) const {
  return engine_->LexicalTree()->TopLevel()[token.rule];
}

void TLexList::RemoveTokensOf(const TRuleNode* rule) {
  if (!rule) return;
  size_t before = tokens_.size();
  const uint32_t number = rule->number;
  std::erase_if(tokens_, [number](const TLexElem& t) { return t.rule == number; });
  g_live.tokens -= static_cast<int64_t>(before - tokens_.size());
}

int TLexList::ErrorOffset() const {
  const char* at = lastMatched_ ? lastMatched_ : !tokens_.empty() ? tokens_[0].start : sourceEnd_;
  return static_cast<int>(at - sourceStart_);
}

namespace {

// Whether a rule is matched at byte b by taking b alone, found by a look at the byte: when
// the choices and sequences of that match stay within the nesting bound.
bool TakesByteAlone(const TRuleNode* rule, uint8_t b, int depth) {
  return rule->singles.Has(b) && depth + rule->levels <= kMaxSyntaxDepth;
}

// Matches a lexical rule at p; the position after the match, or nullptr. Nothing matches the
// NUL that ends the text, so no match reaches past it.
const char* MatchLexical(const TRuleNode* node, const char* p, int depth) {
  const TRuleNode* rule = node->target;
  auto b = static_cast<uint8_t>(*p);
  if (!rule->nullable && !rule->starts.Has(b)) return nullptr;
  if (TakesByteAlone(rule, b, depth)) return p + 1;
  switch (rule->kind) {
  case TRuleKind::Literal: {
    const std::string& bytes = rule->name;
    for (size_t k = 0; k < bytes.size(); ++k)
      if (p[k] == '\0' || p[k] != bytes[k]) return nullptr;
    return p + bytes.size();
  }
  case TRuleKind::Range:
    return b != 0 && b >= rule->low && b <= rule->high ? p + 1 : nullptr;
  case TRuleKind::Choice:
    if (depth >= kMaxSyntaxDepth) return nullptr;
    for (const TRuleNode* child : rule->children)
      if (const char* q = MatchLexical(child, p, depth + 1)) return q;
    return nullptr;
  case TRuleKind::Sequence: {
    if (depth >= kMaxSyntaxDepth) return nullptr;
    int32_t count = 0;
    const char* q = p;
    const TRuleNode* only = rule->children.size() == 1 ? rule->children[0]->target : nullptr;
    while (count < rule->max) {
      const char* r = q;
      if (only && TakesByteAlone(only, static_cast<uint8_t>(*q), depth + 1)) {
        ++r;
      } else {
        for (const TRuleNode* child : rule->children) {
          r = MatchLexical(child, r, depth + 1);
          if (!r) break;
        }
      }
      if (!r) break;
      ++count;
      // A repetition that took nothing would repeat the same way up to the limit.
      if (r == q) {
        count = rule->max;
        break;
      }
      q = r;
    }
    return count >= rule->min ? q : nullptr;
  }
  default:
    return nullptr;
  }
}

} // namespace

std::unique_ptr<TLexList> TYup::Lex(const char* text) {
  if (!rulesRead_) BuildRules();
  if (!text) text = "";
  const char* end = text + std::strlen(text);
  auto list = std::make_unique<TLexList>(text, end);
  list->engine_ = this;
  std::vector<TLexElem>& tokens = list->tokens_;
  // Every token takes at least one byte, so the list never grows past this and is never
  // copied; the room it does not fill is never touched, so it costs no memory.
  tokens.reserve(static_cast<size_t>(end - text));
  const char* p = text;
  while (p < end) {
    // The longest match wins; among equally long ones the rule listed first.
    const TRuleNode* best = nullptr;
    const char* bestEnd = p;
    for (const TRuleNode* rule : candidates_[static_cast<uint8_t>(*p)]) {
      const char* q = MatchLexical(rule, p, 0);
      if (q && q > bestEnd) {
        best = rule;
        bestEnd = q;
      }
    }
    if (best) {
      tokens.push_back(TLexElem{p, static_cast<uint32_t>(bestEnd - p), best->number});
      p = bestEnd;
    } else {
      ++p;
    }
  }
  g_live.tokens += static_cast<int64_t>(tokens.size());
  return list;
}

} // namespace brova
