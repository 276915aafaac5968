// An image pattern (tag `cpattern`): a picture file whose first pattern number is published
// in the global `name`. Loading the picture is the pattern list's work, installed as the
// initialisation hook.
#pragma once
#include <functional>

#include "resources/resource.h"

namespace brova {

class TCPat : public TResource {
public:
  const char* NativeClassName() const override { return "TCPat"; }

  // Runs the installed hook; without one a pattern counts nothing.
  void initPass(TInitContext& ctx) override;
  // One line without indentation: `name`, then `src` relative to the resource folder.
  void save(std::vector<std::string>& lines, const std::string& indent) override;
};

using PatternInitPass = std::function<void(TCPat&, TInitContext&)>;
void SetPatternInitPass(PatternInitPass hook);

} // namespace brova
