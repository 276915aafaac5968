#include "tools/bregexp.h"

#include "runtime/translate.h"

namespace brova {

platform::RegexProgram& TBRegExp::Program(platform::RegexKind kind, std::string_view command) {
  if (!program_ || programKind_ != kind || programCommand_ != command) {
    try {
      program_ = platform::CompileRegexCommand(kind, command);
    } catch (const platform::RegexError& e) {
      program_.reset();
      throw EBRegExpError(e.what());
    }
    programKind_ = kind;
    programCommand_.assign(command);
  }
  return *program_;
}

bool TBRegExp::Match(std::string_view command, std::string_view text) {
  mode_ = Mode::None;
  spans_.clear();
  text_.clear();
  if (emptyTextFails_ && text.empty()) {
    mode_ = Mode::AfterMatch;
    return false;
  }
  platform::RegexProgram& program = Program(platform::RegexKind::Match, command);
  bool found;
  try {
    found = platform::RegexMatch(program, text, 0, spans_);
  } catch (const platform::RegexError& e) {
    throw EBRegExpError(e.what());
  }
  if (found) text_.assign(text);
  mode_ = Mode::AfterMatch;
  return found;
}

bool TBRegExp::Subst(std::string_view command, std::string& text) {
  mode_ = Mode::None;
  spans_.clear();
  text_.clear();
  if (emptyTextFails_ && text.empty()) return false;
  platform::RegexProgram& program = Program(platform::RegexKind::Subst, command);
  try {
    return platform::RegexSubstitute(program, text, text);
  } catch (const platform::RegexError& e) {
    throw EBRegExpError(e.what());
  }
}

bool TBRegExp::Split(std::string_view command, std::string_view text, int limit) {
  mode_ = Mode::None;
  spans_.clear();
  text_.clear();
  if (emptyTextFails_ && text.empty()) {
    mode_ = Mode::AfterSplit;
    return false;
  }
  platform::RegexProgram& program = Program(platform::RegexKind::Split, command);
  try {
    platform::RegexSplit(program, text, limit, spans_);
  } catch (const platform::RegexError& e) {
    throw EBRegExpError(e.what());
  }
  text_.assign(text);
  mode_ = Mode::AfterSplit;
  return !spans_.empty();
}

int TBRegExp::Count() const {
  switch (mode_) {
  case Mode::None: throw EBRegExpError(Translate("no count now"));
  case Mode::AfterSplit: return static_cast<int>(spans_.size());
  case Mode::AfterMatch: break;
  }
  int n = 0;
  while (n < static_cast<int>(spans_.size()) && spans_[n].Length() > 0) ++n;
  return n;
}

const platform::RegexSpan& TBRegExp::Span(int i) const {
  if (mode_ == Mode::None) throw EBRegExpError(Translate("no strings now"));
  if (i < 0 || i >= static_cast<int>(spans_.size()))
    throw EBRegExpError(Translate("index out of range"));
  if (mode_ == Mode::AfterMatch)
    for (int j = 0; j < i; ++j)
      if (spans_[j].Length() == 0) throw EBRegExpError(Translate("index out of range"));
  return spans_[i];
}

std::string TBRegExp::Item(int i) const {
  const platform::RegexSpan& span = Span(i);
  if (!span.IsSet()) return std::string();
  return text_.substr(span.start, span.end - span.start);
}

std::size_t TBRegExp::ItemStart(int i) const { return Span(i).start; }

std::size_t TBRegExp::ItemEnd(int i) const { return Span(i).end; }

TBRegExp& GeneralRegExp() {
  static TBRegExp instance;
  return instance;
}

TBRegExp2& PathRegExp() {
  static TBRegExp2 instance;
  return instance;
}

} // namespace brova
