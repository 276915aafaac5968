// Reading the indented tree notation into rule trees.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "compiler/rule_node.h"
#include "compiler/yup.h"

namespace brova {

// Reads the lexical rules, resolves their names and computes their first sets.
std::unique_ptr<TRuleTree> ReadLexicalRules(const std::vector<std::string>& lines);

// Reads the grammar rules, links their literals to the lexical rules, fetches a prototype for
// every line from onCreateList (kept in prototypes) and resolves the names.
std::unique_ptr<TRuleTree> ReadGrammarRules(const std::vector<std::string>& lines,
                                            const TRuleTree& lexical, const TCrLst& onCreateList,
                                            std::vector<std::unique_ptr<TResultList>>& prototypes);

} // namespace brova
