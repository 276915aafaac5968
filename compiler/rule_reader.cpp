#include "compiler/rule_reader.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/message_sink.h"
#include "runtime/errors.h"
#include "runtime/translate.h"

namespace brova {

namespace {

// "バグ発生:" in the code page: the prefix of the engine's messages about faulty rule texts.
constexpr std::string_view kBugPrefix = "\x83\x6f\x83\x4f\x94\xad\x90\xb6:";

enum class TTextKind { Lexical, Grammar };

int DepthOf(std::string_view line) {
  size_t d = line.find_first_not_of(' ');
  return static_cast<int>(d == std::string_view::npos ? line.size() : d);
}

// Hexadecimal digits as a byte (the last two count); -1 when there are none or one is no
// digit.
int HexByte(std::string_view digits) {
  if (digits.empty()) return -1;
  unsigned value = 0;
  for (char c : digits) {
    unsigned d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return -1;
    value = ((value << 4) | d) & 0xffu;
  }
  return static_cast<int>(value);
}

class TReader {
public:
  TReader(const std::vector<std::string>& lines, TTextKind kind) : lines_(lines), kind_(kind) {}

  const TRuleTree* lexical = nullptr;
  const TCrLst* onCreateList = nullptr;
  std::vector<std::unique_ptr<TResultList>>* prototypes = nullptr;

  std::unique_ptr<TRuleTree> Read();

private:
  TRuleNode* ReadLine(size_t index);
  void ParseItem(TRuleNode& node, std::string_view item);
  uint8_t ReadBound(size_t index, int depth);
  void LinkLiteral(TRuleNode& node);
  void FetchPrototype(TRuleNode& node);
  void ResolveNames();

  const std::vector<std::string>& lines_;
  TTextKind kind_;
  std::unique_ptr<TRuleTree> tree_;
};

std::unique_ptr<TRuleTree> TReader::Read() {
  tree_ = std::make_unique<TRuleTree>();
  // The root is its first line; it ends at the next line of depth 0. A text without one
  // would leave the rules unfinished, so it is refused as a whole.
  std::string_view label = lines_.empty() ? std::string_view() : std::string_view(lines_[0]);
  auto unclosed = [&] {
    return EScriptError(Translate("Rule text ended before its closing line at depth 0: ") +
                        std::string(label));
  };
  if (lines_.empty()) throw unclosed();
  ReadLine(0);
  std::vector<std::pair<TRuleNode*, int>> open{{tree_->Root(), 0}};
  for (size_t i = 1;; ++i) {
    if (i >= lines_.size()) throw unclosed();
    int depth = DepthOf(lines_[i]);
    if (depth == 0) break;
    while (open.back().second >= depth) open.pop_back();
    TRuleNode* node = ReadLine(i);
    open.back().first->children.push_back(node);
    open.emplace_back(node, depth);
  }
  ResolveNames();
  return std::move(tree_);
}

TRuleNode* TReader::ReadLine(size_t index) {
  const std::string& line = lines_[index];
  int depth = DepthOf(line);
  std::string_view item = std::string_view(line).substr(static_cast<size_t>(depth));
  if (!item.empty() && item.back() == ' ')
    platform::ShowMessage(Translate("Wanring: extra space in ") + line);
  TRuleNode& node = tree_->nodes.emplace_back();
  ParseItem(node, item);
  if (node.kind == TRuleKind::Range) {
    node.low = ReadBound(index + 1, depth);
    node.high = ReadBound(index + 2, depth);
    if (node.low <= node.high) node.first.AddRange(node.low, node.high);
  }
  if (kind_ == TTextKind::Grammar) {
    if (node.kind == TRuleKind::Literal) LinkLiteral(node);
    FetchPrototype(node);
  }
  return &node;
}

void TReader::ParseItem(TRuleNode& node, std::string_view item) {
  auto after = [&](size_t n) { return std::string(item.substr(std::min(n, item.size()))); };
  char c = item.empty() ? '\0' : item[0];
  bool lexical = kind_ == TTextKind::Lexical;
  switch (c) {
  case '\'':
    node.kind = TRuleKind::Literal;
    node.name = after(1);
    if (lexical && !node.name.empty()) node.first.Add(static_cast<uint8_t>(node.name[0]));
    return;
  case '[':
    node.kind = TRuleKind::Sequence;
    if (item.size() > 1 && item[1] == ']') node.min = 0, node.max = 1;
    else node.min = 1, node.max = kRepeatLimit;
    node.name = after(2);
    if (lexical && node.min == 0) node.first.AddAll();
    return;
  case '{':
    node.kind = TRuleKind::Sequence;
    node.min = 0;
    node.max = kRepeatLimit;
    node.name = after(2);
    if (lexical) node.first.AddAll();
    return;
  case '|':
    node.kind = TRuleKind::Choice;
    node.name = after(1);
    return;
  default:
    break;
  }
  if (lexical && c == '$') {
    // A byte that cannot be read stands as NUL, which no text byte matches.
    int value = HexByte(item.substr(1));
    node.kind = TRuleKind::Literal;
    node.name = std::string(1, static_cast<char>(value < 0 ? 0 : value));
    if (value > 0) node.first.Add(static_cast<uint8_t>(value));
    return;
  }
  if (lexical && c == '-') {
    node.kind = TRuleKind::Range;
    node.name = after(1);
    return;
  }
  node.kind = TRuleKind::Name;
  node.name = std::string(item);
}

// A range's bound lines stand one level deeper than the range: 'c or $hh.
uint8_t TReader::ReadBound(size_t index, int depth) {
  int value = 0;
  if (index < lines_.size() && lines_[index].size() > static_cast<size_t>(depth) + 1) {
    std::string_view bound = std::string_view(lines_[index]).substr(static_cast<size_t>(depth) + 1);
    if (bound[0] == '\'' && bound.size() > 1) value = static_cast<uint8_t>(bound[1]);
    else if (bound[0] == '$') value = std::max(HexByte(bound.substr(1)), 0);
  }
  if (value == 0)
    platform::ShowMessage(std::string(kBugPrefix) +
                          Translate("Please Put '' or $ at the first letters of each children"));
  return static_cast<uint8_t>(value);
}

void TReader::LinkLiteral(TRuleNode& node) {
  for (const TRuleNode* rule : lexical->TopLevel())
    if (rule->name == node.name) {
      node.link = rule;
      return;
    }
  platform::ShowMessage(std::string(kBugPrefix) + node.name + Translate(" is not linked."));
}

void TReader::FetchPrototype(TRuleNode& node) {
  if (!onCreateList || !*onCreateList) throw EScriptError(Translate("No onCreateList Assigned"));
  TResListGetter getter{node.name, nullptr};
  (*onCreateList)(&getter);
  if (!getter.prototype)
    throw EScriptError(Translate("onCreateList gave no node class for ") + node.name);
  node.prototype = getter.prototype.get();
  prototypes->push_back(std::move(getter.prototype));
}

// A name refers to the first top-level rule that bears it; a name that finds no other rule is
// a sequence of its own children.
void TReader::ResolveNames() {
  const std::vector<TRuleNode*>& top = tree_->TopLevel();
  for (TRuleNode& node : tree_->nodes) {
    if (node.kind != TRuleKind::Name) continue;
    TRuleNode* found = nullptr;
    for (TRuleNode* rule : top)
      if (rule->name == node.name) {
        found = rule;
        break;
      }
    if (found && found != &node) {
      node.target = found;
    } else {
      node.kind = TRuleKind::Sequence;
      node.min = node.max = 1;
    }
  }
}

// Nodes stand in line order, so every node comes after its ancestors: walking backwards
// treats children before their parent. Passes repeat until nothing changes.
void ComputeFirstSets(TRuleTree& tree) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (auto it = tree.nodes.rbegin(); it != tree.nodes.rend(); ++it) {
      TRuleNode& node = *it;
      switch (node.kind) {
      case TRuleKind::Choice:
        for (const TRuleNode* child : node.children) changed |= node.first.Merge(child->first);
        break;
      case TRuleKind::Name:
        changed |= node.first.Merge(node.target->first);
        break;
      case TRuleKind::Sequence:
        if (!node.children.empty()) changed |= node.first.Merge(node.children[0]->first);
        break;
      default:
        break;
      }
    }
  }
}

// What the lexer may skip: whether a node can match no byte, the bytes a longer match can
// begin with, and the bytes at which a match takes that byte alone (nesting `levels` choices
// and sequences deep). Unlike the first sets these are exact, so a node that cannot match
// here is never tried. Passes repeat until nothing changes.
void ComputeByteSets(TRuleTree& tree) {
  for (TRuleNode& node : tree.nodes) {
    if (node.kind == TRuleKind::Literal) {
      node.nullable = node.name.empty();
      if (!node.name.empty() && node.name[0] != '\0')
        node.starts.Add(static_cast<uint8_t>(node.name[0]));
      if (node.name.size() == 1) node.singles = node.starts;
    } else if (node.kind == TRuleKind::Range) {
      for (unsigned b = std::max<unsigned>(node.low, 1); b <= node.high; ++b)
        node.starts.Add(static_cast<uint8_t>(b));
      node.singles = node.starts;
    }
  }
  bool changed = true;
  while (changed) {
    changed = false;
    for (auto it = tree.nodes.rbegin(); it != tree.nodes.rend(); ++it) {
      TRuleNode& node = *it;
      bool nullable = node.nullable;
      switch (node.kind) {
      case TRuleKind::Name:
        changed |= node.starts.Merge(node.target->starts);
        nullable = node.target->nullable;
        break;
      case TRuleKind::Choice:
        for (const TRuleNode* child : node.children) {
          changed |= node.starts.Merge(child->starts);
          nullable |= child->nullable;
        }
        break;
      case TRuleKind::Sequence: {
        bool all = true;
        for (const TRuleNode* child : node.children) {
          changed |= node.starts.Merge(child->starts);
          if (!child->nullable) {
            all = false;
            break;
          }
        }
        nullable = all || node.min == 0;
        break;
      }
      default:
        continue;
      }
      changed |= nullable != node.nullable;
      node.nullable = nullable;
    }
  }
  // A choice takes the byte alone where the first alternative that can match there does; a
  // sequence of at most one round, where its only item does.
  changed = true;
  while (changed) {
    changed = false;
    for (auto it = tree.nodes.rbegin(); it != tree.nodes.rend(); ++it) {
      TRuleNode& node = *it;
      TFirst singles = node.singles;
      int levels = node.levels;
      if (node.kind == TRuleKind::Name) {
        singles = node.target->singles;
        levels = node.target->levels;
      } else if (node.kind == TRuleKind::Choice) {
        for (unsigned b = 1; b < 256; ++b) {
          auto byte = static_cast<uint8_t>(b);
          for (const TRuleNode* child : node.children) {
            if (!child->nullable && !child->starts.Has(byte)) continue;
            if (child->singles.Has(byte)) {
              singles.Add(byte);
              levels = std::max<int>(levels, child->levels + 1);
            }
            break;
          }
        }
      } else if (node.kind == TRuleKind::Sequence && node.max == 1 && node.children.size() == 1) {
        singles = node.children[0]->singles;
        // Only a match that takes a byte alone has a nesting: a rule that holds itself has
        // none, and counting around it would never end.
        if (!singles.Empty()) levels = node.children[0]->levels + 1;
      } else {
        continue;
      }
      levels = std::min(levels, 0xffff);
      if (singles.bits != node.singles.bits || levels != node.levels) changed = true;
      node.singles = singles;
      node.levels = static_cast<uint16_t>(levels);
    }
  }
}

// Which tokens can begin a match of each grammar node, and whether it can match none: the
// parser tries no rule that the next token cannot begin. Grammar rules refer to each other,
// so passes repeat until nothing changes.
bool MergeTokens(TRuleNode& into, const TRuleNode& from) {
  bool changed = false;
  for (size_t i = 0; i < into.firstTokens.size(); ++i) {
    uint64_t merged = into.firstTokens[i] | from.firstTokens[i];
    changed |= merged != into.firstTokens[i];
    into.firstTokens[i] = merged;
  }
  return changed;
}

bool MakeNullable(TRuleNode& node) { return !std::exchange(node.nullable, true); }

void ComputeTokenSets(TRuleTree& tree, size_t lexicalRules) {
  for (TRuleNode& node : tree.nodes) {
    node.firstTokens.assign(lexicalRules / 64 + 1, 0);
    if (node.kind == TRuleKind::Literal && node.link)
      node.firstTokens[node.link->number >> 6] |= uint64_t{1} << (node.link->number & 63);
  }
  bool changed = true;
  while (changed) {
    changed = false;
    for (auto it = tree.nodes.rbegin(); it != tree.nodes.rend(); ++it) {
      TRuleNode& node = *it;
      switch (node.kind) {
      case TRuleKind::Name:
        changed |= MergeTokens(node, *node.target);
        if (node.target->nullable) changed |= MakeNullable(node);
        break;
      case TRuleKind::Choice:
        for (const TRuleNode* child : node.children) {
          changed |= MergeTokens(node, *child);
          if (child->nullable) changed |= MakeNullable(node);
        }
        break;
      case TRuleKind::Sequence: {
        bool empty = true;
        for (const TRuleNode* child : node.children) {
          changed |= MergeTokens(node, *child);
          if (!child->nullable) {
            empty = false;
            break;
          }
        }
        if (empty || node.min == 0) changed |= MakeNullable(node);
        break;
      }
      default:
        break;
      }
    }
  }
  for (TRuleNode& node : tree.nodes) {
    node.emptyUnlessStarted = node.kind == TRuleKind::Sequence && node.min == 0 &&
                              !node.children.empty() && !node.children[0]->nullable;
    if (node.emptyUnlessStarted && node.prototype) node.emptyNode = node.prototype->EmptyNode();
  }
  for (TRuleNode& node : tree.nodes) {
    if (node.kind != TRuleKind::Sequence || node.min != 1 || node.max != 1 ||
        node.children.size() != 2 || !node.prototype || !node.prototype->PassesOperand(0, 1))
      continue;
    const TRuleNode* operand = node.children[0]->target;
    const TRuleNode* group = node.children[1]->target;
    node.level = (operand->kind == TRuleKind::Sequence || operand->kind == TRuleKind::Choice) &&
                 !operand->nullable && group->emptyNode && group->nullable &&
                 group->emptyNode->Count() == 0;
  }
}

} // namespace

std::unique_ptr<TRuleTree> ReadLexicalRules(const std::vector<std::string>& lines) {
  TReader reader(lines, TTextKind::Lexical);
  std::unique_ptr<TRuleTree> tree = reader.Read();
  ComputeFirstSets(*tree);
  ComputeByteSets(*tree);
  uint32_t number = 0;
  for (TRuleNode* rule : tree->Root()->children) rule->number = number++;
  return tree;
}

std::unique_ptr<TRuleTree> ReadGrammarRules(const std::vector<std::string>& lines,
                                            const TRuleTree& lexical, const TCrLst& onCreateList,
                                            std::vector<std::unique_ptr<TResultList>>& prototypes) {
  TReader reader(lines, TTextKind::Grammar);
  reader.lexical = &lexical;
  reader.onCreateList = &onCreateList;
  reader.prototypes = &prototypes;
  std::unique_ptr<TRuleTree> tree = reader.Read();
  ComputeTokenSets(*tree, lexical.TopLevel().size());
  for (TRuleNode& node : tree->nodes)
    if (node.link) node.linked = node.link->number;
  return tree;
}

} // namespace brova
