// A global script variable (tag `globalvalue`): its value lives in a heap cell, so compiled
// code can hold a `vtRef` to it.
#pragma once
#include <string>
#include <string_view>

#include "resources/resource.h"

namespace brova {

class TGlobalValue : public TResource {
public:
  // Starts unset, carrying its own name's symbol.
  explicit TGlobalValue(std::string_view globalName = {});
  // Releases the value while its object is still live.
  ~TGlobalValue() override;
  const char* NativeClassName() const override { return "TGlobalValue"; }

  std::string initText; // the `value` attribute: a script expression assigned at initialisation

  TValue& value() const { return value_.value(); }

  void readFrom(const TSGML& element, const std::string& baseDir) override;
  TValue* valuePtr() override { return &value(); }
  // Assigns the initial text through a snippet; counts done either way.
  void initPass(TInitContext& ctx) override;
  // `name` and the current value of the global of that name as a literal (GlobalSaveLiteral).
  void save(std::vector<std::string>& lines, const std::string& indent) override;
  // Forgets the wrapper and the value without releasing them.
  void releaseObjects() override;
  void gcMark() override;

private:
  THeapCell value_;
};

// The literal a global is saved with: an integer or a float (without exponent) as text, a
// string between double quotes, `initText` while the global was never assigned, and empty
// for anything else.
std::string GlobalSaveLiteral(const TValue& v, const std::string& initText);

} // namespace brova
