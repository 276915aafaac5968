// The grammar engine: reads a lexical and a grammar rule text written in the indented tree
// notation, cuts source text into tokens with the first and builds a typed syntax tree from
// the tokens with the second. It knows nothing of the script language; compiler/language.h
// gives it the language's texts and node classes.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/lex_list.h"
#include "compiler/node_arena.h"
#include "compiler/result_list.h"
#include "compiler/rule_node.h"

namespace brova {

// How deeply rule matches may nest while lexing or parsing. It bounds the depth of every
// syntax tree, so whatever walks a tree recursively (code generation, freeing) stays within
// the host's stack when it recurses at most this deep. A source text nested deeper does not
// parse; it is reported as a syntax error.
inline constexpr int kMaxSyntaxDepth = 2048;

// What the engine asks its owner for each line of the grammar text: a prototype whose class
// every node built for that rule will have.
struct TResListGetter {
  std::string name;                       // in: the rule node's name (empty for a bare marker)
  std::unique_ptr<TResultList> prototype; // out
};
using PResListGetter = TResListGetter*;
using TCrLst = std::function<void(PResListGetter)>;

// The tree of one successful parse. It owns the nodes placed in it; the tokens stay with their
// token list and nodes that stand for several (a prototype as every empty node of its rule)
// with the engine, which must both outlive the tree.
class TSyntaxTree {
public:
  TSyntaxTree() = default;
  ~TSyntaxTree();
  TSyntaxTree(TSyntaxTree&& other) noexcept;
  TSyntaxTree& operator=(TSyntaxTree&& other) noexcept;

  explicit operator bool() const { return root_ != nullptr; }
  TResultList* Root() const { return root_; }
  // Frees the tree now.
  void Reset();

private:
  friend class TYup;
  TNodeArena arena_;
  TResultList* root_ = nullptr;
  int64_t nodes_ = 0;
};

class TYup {
public:
  TYup(); // becomes the program's engine, replacing an earlier one
  ~TYup();
  TYup(const TYup&) = delete;
  TYup& operator=(const TYup&) = delete;

  // The engine made last and still alive, or nullptr.
  static TYup* Current();

  // The rule texts, one string a line. Setting copies; once the rules are built (by the
  // first Lex), changes have no effect.
  const std::vector<std::string>& LexNode() const { return lexNode_; }
  void SetLexNode(const std::vector<std::string>& lines) { lexNode_ = lines; }
  const std::vector<std::string>& GramNode() const { return gramNode_; }
  void SetGramNode(const std::vector<std::string>& lines) { gramNode_ = lines; }

  // Called once for every line of the grammar text while it is read.
  TCrLst OnCreateList;

  bool RulesRead() const { return rulesRead_; }

  // Cuts a NUL-terminated text into tokens; bytes that begin no token are skipped. The first
  // call builds the rule trees and throws EScriptError when a rule text is unusable.
  std::unique_ptr<TLexList> Lex(const char* text);

  // Parses a whole token list made by this engine's Lex. An empty tree means the text does
  // not parse; tokens.ErrorOffset() then tells where.
  TSyntaxTree Parse(TLexList& tokens);

  static std::string TokenText(const TLexElem& token) { return std::string(token.Text()); }

  // Parses whose tree is still alive (for the statistics line).
  static int64_t LiveParses() { return liveParses_; }

  // The first top-level lexical rule of that name, once the rules are built.
  const TRuleNode* LexicalRule(std::string_view name) const;
  const TRuleTree* LexicalTree() const { return lexical_.get(); }
  const TRuleTree* GrammarTree() const { return grammar_.get(); }

private:
  friend class TSyntaxTree;
  void BuildRules();

  static inline int64_t liveParses_ = 0;

  std::vector<std::string> lexNode_;
  std::vector<std::string> gramNode_;
  bool rulesRead_ = false;
  std::unique_ptr<TRuleTree> lexical_;
  std::unique_ptr<TRuleTree> grammar_;
  std::vector<std::unique_ptr<TResultList>> prototypes_;
  // For each byte, the top-level lexical rules before "*Stop" whose first set holds it.
  std::array<std::vector<const TRuleNode*>, 256> candidates_;
};

// Splits a text into lines at line feeds (a carriage return before one is dropped); a final
// line feed ends the last line.
std::vector<std::string> SplitRuleLines(std::string_view text);

} // namespace brova
