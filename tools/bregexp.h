// The regular-expression wrapper every part of the player uses for matching, substituting
// and splitting text with Perl-form commands ("/re/flags", "s/re/rep/flags").
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regex_engine.h"
#include "runtime/errors.h"

namespace brova {

// A malformed command, or a wrapper result asked for when there is none.
class EBRegExpError : public EScriptError {
public:
  explicit EBRegExpError(const std::string& text) : EScriptError(text) {}
};

class TBRegExp {
public:
  TBRegExp() = default;
  TBRegExp(const TBRegExp&) = delete;
  TBRegExp& operator=(const TBRegExp&) = delete;

  // Searches `text`; afterwards Count and Item answer about the groups of the match.
  bool Match(std::string_view command, std::string_view text);
  // Replaces the first match (every one with the flag g); on true `text` holds the result.
  bool Subst(std::string_view command, std::string& text);
  // Splits `text` at the matches of a "/re/" command (Perl's limit rules); true when it
  // gave at least one piece. Afterwards Count and Item answer about the pieces.
  bool Split(std::string_view command, std::string_view text, int limit);

  // After a match: the groups from group 0 up to the first empty one. After a split: the
  // number of pieces. Otherwise raises "no count now".
  int Count() const;
  // After a match: group i, when every group before it is non-empty. After a split: piece i.
  // Raises "no strings now" or "index out of range".
  std::string Item(int i) const;
  // Byte offsets of what Item(i) returns, with the same checks.
  std::size_t ItemStart(int i) const;
  std::size_t ItemEnd(int i) const;

protected:
  explicit TBRegExp(bool emptyTextFails) : emptyTextFails_(emptyTextFails) {}

private:
  enum class Mode { None, AfterMatch, AfterSplit };

  platform::RegexProgram& Program(platform::RegexKind kind, std::string_view command);
  const platform::RegexSpan& Span(int i) const;

  bool emptyTextFails_ = false;
  Mode mode_ = Mode::None;
  // The program of the last command, kept so repeating a command skips even the cache lookup.
  platform::RegexProgramPtr program_;
  platform::RegexKind programKind_ = platform::RegexKind::Match;
  std::string programCommand_;
  std::string text_;
  std::vector<platform::RegexSpan> spans_;
};

// The instance of the path functions: an empty text answers false at once.
class TBRegExp2 : public TBRegExp {
public:
  TBRegExp2() : TBRegExp(true) {}
};

// The two instances of the whole run: the general one (markup, file names, string natives,
// the global-name test) and the one of the path functions.
TBRegExp& GeneralRegExp();
TBRegExp2& PathRegExp();

} // namespace brova
