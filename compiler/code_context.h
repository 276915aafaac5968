// The state of one class compilation that the syntax tree's Generate methods share, and the
// compile error they raise.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/method_table.h"
#include "runtime/errors.h"

namespace brova {

class TProgWriter;
class TResource;
class TRTTI;
class TNormalFunction;

// A compile error; its message is the compiled class's name, ":" and the text.
class ECmpError : public EScriptError {
public:
  explicit ECmpError(const std::string& text) : EScriptError(text) {}
};

// Where a member chain stands while its elements are generated.
enum TChainState : uint8_t {
  kChainResource = 0, // a resource is referenced
  kChainValue = 1,    // a value (or a pointer to one) is on the stack
  kChainStart = 2,
  kChainSuper = 3, // after `super`
  kChainThis = 4,  // after `this`
};

struct TContext {
  TProgWriter* Writer = nullptr;
  TResource* ResourceRoot = nullptr;
  TRTTI* RootClass = nullptr; // classes.lang.Object, when there is one
  TRTTI* CurrentClass = nullptr;
  TNormalFunction* CurrentFunction = nullptr; // none while top-level statements compile
  bool WantAddress = false; // a variable reference leaves a pointer instead of its value
  uint8_t ChainState = kChainStart;
  TResource* Resolved = nullptr; // what the last name lookup found
  int Pass = 1;                  // 1 declares functions, 2 compiles bodies
  std::string ResolvedName;      // the dotted name of the last lookup
  const char* SourceText = nullptr;
  int Position = 0; // byte offset of the statement being compiled; errors are reported there
  std::vector<int32_t>* BreakList = nullptr; // pending breaks of the innermost loop
  // The class a source without an extends clause extends; empty: it gets none.
  std::string DefaultSuperclass;
  TMethodIndex Methods; // the class's method table by name, for its declarations

  // Byte offset of a position in the source text.
  int OffsetOf(const char* at) const { return static_cast<int>(at - SourceText); }
};

// Raises ECmpError with the class's name before the text.
[[noreturn]] void RaiseCmpError(const TContext& context, const std::string& text);

} // namespace brova
