// Failures are exceptions that carry the message text shown to the user.
#pragma once
#include <stdexcept>
#include <string>

namespace brova {

// A runtime failure inside the script machinery (ends a process when raised in one).
class EScriptError : public std::runtime_error {
public:
  explicit EScriptError(const std::string& text) : std::runtime_error(text) {}
};

} // namespace brova
