// The script language: its lexical and grammar rule texts and the node class of every
// grammar rule.
#pragma once
#include <string>
#include <vector>

#include "compiler/yup.h"

namespace brova {

// The rule texts, one string a line, each closed by the depth-0 line "@". Rule order decides
// which token and which alternative is preferred, so the texts are kept exactly as written.
const std::vector<std::string>& LexicalRuleLines();
const std::vector<std::string>& GrammarRuleLines();

// The OnCreateList handler: a prototype of the node class for a grammar rule name (names
// compare exactly; an unknown name, as every unnamed group has, gets G_Err).
void Yup1CreateList(PResListGetter getter);

// Gives an engine the language's texts and handler.
void InstallLanguage(TYup& engine);

// The program's engine for the script language, made on first use.
TYup& LanguageEngine();

} // namespace brova
