// Tokens: slices of the source text, tagged with the lexical rule that cut them.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

namespace brova {

struct TRuleNode;
class TYup;

// A token does not copy its text: the source must outlive the token and every tree made
// from it. A class source makes over a million tokens, so the rule is kept as its number
// (TLexList::RuleOf gives the rule) and the end as a length: 16 bytes instead of 24.
struct TLexElem {
  const char* start;
  uint32_t length;
  uint32_t rule; // number of the top-level lexical rule that matched

  const char* End() const { return start + length; }
  std::string_view Text() const { return {start, length}; }
};

// The tokens of one source text, plus the parser's cursor over them.
class TLexList {
public:
  TLexList(const char* sourceStart, const char* sourceEnd);
  ~TLexList();
  TLexList(const TLexList&) = delete;
  TLexList& operator=(const TLexList&) = delete;

  int Count() const { return static_cast<int>(tokens_.size()); }
  const TLexElem& operator[](int i) const { return tokens_[static_cast<size_t>(i)]; }
  // The top-level lexical rule that cut the token.
  const TRuleNode* RuleOf(const TLexElem& token) const;

  // Index of the next token to match; after a parse, how far it got.
  int32_t NextIndex() const { return index_; }
  // Start of the token matched most recently by any parse of this list, or nullptr.
  const char* LastMatched() const { return lastMatched_; }

  // Drops every token cut by `rule` (the class compiler drops comments before parsing).
  void RemoveTokensOf(const TRuleNode* rule);

  const char* SourceStart() const { return sourceStart_; }
  // Byte offset at which a failed parse reports its syntax error: the token matched last,
  // else the first token (nothing matched at all), else the end of the text.
  int ErrorOffset() const;

private:
  friend class TYup;
  friend class TParseRun;

  const TYup* engine_ = nullptr; // whose rules cut the tokens
  std::vector<TLexElem> tokens_;
  int32_t index_ = 0;
  const char* lastMatched_ = nullptr;
  const char* sourceStart_;
  const char* sourceEnd_;
};

} // namespace brova
