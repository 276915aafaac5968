// Helpers shared by the grammar engine and language tests.
#pragma once
#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "compiler/yup.h"
#include "platform/message_sink.h"

namespace brova::testing_support {

// Collects the messages shown while it lives.
class MessageLog {
public:
  MessageLog() {
    platform::SetMessageObserver([this](std::string_view text) { seen.emplace_back(text); });
  }
  ~MessageLog() { platform::SetMessageObserver({}); }
  std::vector<std::string> seen;
};

inline std::string ClassName(const TResultList& node) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(typeid(node).name(), nullptr, nullptr, &status);
  std::string name = demangled ? demangled : typeid(node).name();
  std::free(demangled);
  return name.substr(name.rfind(':') + 1);
}

// A tree as text: a node is Class(items) without the G_ prefix, an unnamed group (G_Err) is
// [items], a token is its text.
inline std::string Dump(const TResultList& node) {
  std::string name = ClassName(node);
  if (name.rfind("G_", 0) == 0) name = name.substr(2);
  std::string open = name == "Err" ? "[" : name + "(";
  std::string out = open;
  for (int i = 0; i < node.Count(); ++i) {
    if (i) out += ' ';
    out += node.IsToken(i) ? std::string(node.TokenAt(i)->Text()) : Dump(*node.ListAt(i));
  }
  return out + (name == "Err" ? "]" : ")");
}

inline std::vector<std::string> Texts(const TLexList& tokens) {
  std::vector<std::string> out;
  for (int i = 0; i < tokens.Count(); ++i) out.emplace_back(tokens[i].Text());
  return out;
}

inline std::vector<std::string> Kinds(const TLexList& tokens) {
  std::vector<std::string> out;
  for (int i = 0; i < tokens.Count(); ++i) out.push_back(tokens.RuleOf(tokens[i])->name);
  return out;
}

// An engine over rule texts given as one string each.
inline std::unique_ptr<TYup> EngineFor(std::string_view lexical, std::string_view grammar,
                                       TCrLst onCreateList) {
  auto engine = std::make_unique<TYup>();
  engine->SetLexNode(SplitRuleLines(lexical));
  engine->SetGramNode(SplitRuleLines(grammar));
  engine->OnCreateList = std::move(onCreateList);
  return engine;
}

// A handler that gives every rule a plain result list.
inline void PlainLists(PResListGetter getter) {
  getter->prototype = std::make_unique<TResultList>();
}

} // namespace brova::testing_support
