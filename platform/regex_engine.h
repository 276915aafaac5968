// Perl-form regular-expression commands over byte text (single-byte code page, Shift-JIS
// bytes allowed): "/re/flags" to match, "s/re/rep/flags" to substitute, "/re/" to split.
// Each distinct command is compiled once and kept in a per-thread cache.
#pragma once
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brova::platform {

// A malformed command, a pattern the engine rejects, or a match that hit an engine limit.
class RegexError : public std::runtime_error {
public:
  explicit RegexError(const std::string& text) : std::runtime_error(text) {}
};

enum class RegexKind { Match, Subst, Split };

// Byte offsets into the text; a group that took no part in the match has start == npos.
struct RegexSpan {
  static constexpr std::size_t npos = std::string_view::npos;
  std::size_t start = npos;
  std::size_t end = npos;
  bool IsSet() const { return start != npos; }
  std::size_t Length() const { return IsSet() ? end - start : 0; }
};

class RegexProgram; // opaque: the compiled pattern, its flags and, for a substitution, the replacement
using RegexProgramPtr = std::shared_ptr<RegexProgram>;

// Parses and compiles a command of the given kind, or returns the cached compilation of the
// same text. A match or split command is an optional "m", a delimiter (normally "/"), the
// pattern, the delimiter and flags; a substitution is "s", delimiter, pattern, delimiter,
// replacement, delimiter, flags. Flags: i (ignore ASCII case), m (multi-line anchors),
// s (dot matches line breaks), x (extended layout), g (substitute every match), k (accepted:
// the text is always matched byte by byte). The replacement knows $& (the whole match),
// $1..$9 (groups; an unset group gives nothing), and backslash escapes \n \r \t, \\ and \$.
// Throws RegexError.
RegexProgramPtr CompileRegexCommand(RegexKind kind, std::string_view command);

// Number of groups of the pattern, group 0 (the whole match) included.
int RegexGroupCount(const RegexProgram& program);

// Searches the text from `offset` (anchors still see the whole text). On a match fills
// `groups` with one span per group and returns true; otherwise clears it. Throws RegexError.
bool RegexMatch(RegexProgram& program, std::string_view text, std::size_t offset,
                std::vector<RegexSpan>& groups);

// Replaces the first match (every match with the flag g) into `result`; returns false and
// leaves `result` alone when nothing matched. Throws RegexError.
bool RegexSubstitute(RegexProgram& program, std::string_view text, std::string& result);

// Splits like Perl: limit > 0 gives at most `limit` pieces, limit 0 drops trailing empty
// pieces, limit < 0 keeps them; an empty match never yields an empty piece at the start
// or end; groups of the pattern add no pieces. Throws RegexError.
void RegexSplit(RegexProgram& program, std::string_view text, int limit,
                std::vector<RegexSpan>& pieces);

} // namespace brova::platform
