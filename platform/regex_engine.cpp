#include "platform/regex_engine.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <array>
#include <string>
#include <unordered_map>

namespace brova::platform {

namespace {

// One piece of a parsed replacement: literal bytes, or a group whose text is copied.
struct ReplacementPart {
  std::string literal;
  int group = -1; // -1: literal
};

} // namespace

class RegexProgram {
public:
  pcre2_code* code = nullptr;
  pcre2_match_data* matchData = nullptr;
  int groupCount = 1;
  bool global = false;
  std::vector<ReplacementPart> replacement;

  RegexProgram() = default;
  RegexProgram(const RegexProgram&) = delete;
  RegexProgram& operator=(const RegexProgram&) = delete;
  ~RegexProgram() {
    pcre2_match_data_free(matchData);
    pcre2_code_free(code);
  }
};

namespace {

// Callers build split commands from script separators, so the cache is bounded; programs
// still held by a caller outlive a flush through their shared pointer.
constexpr std::size_t kCacheLimit = 512;

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

using ProgramCache = std::unordered_map<std::string, RegexProgramPtr, TextHash, std::equal_to<>>;

thread_local std::array<ProgramCache, 3> t_cache;

const char* KindName(RegexKind kind) {
  switch (kind) {
  case RegexKind::Match: return "match";
  case RegexKind::Subst: return "substitution";
  case RegexKind::Split: return "split";
  }
  return "";
}

[[noreturn]] void Fail(std::string_view what, std::string_view command) {
  std::string text(what);
  text += " in ";
  text += command;
  throw RegexError(text);
}

std::string EngineMessage(int code) {
  PCRE2_UCHAR buffer[256];
  if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0) return "regular expression error";
  return reinterpret_cast<const char*>(buffer);
}

bool IsAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Reads up to the next unescaped delimiter starting at `i`; escapes are kept as written.
// Leaves `i` after the delimiter.
std::string_view TakeDelimited(std::string_view command, std::size_t& i, char delimiter,
                               bool& closed) {
  std::size_t start = i;
  while (i < command.size()) {
    char c = command[i];
    if (c == '\\' && i + 1 < command.size()) {
      i += 2;
      continue;
    }
    if (c == delimiter) {
      closed = true;
      return command.substr(start, i++ - start);
    }
    ++i;
  }
  closed = false;
  return command.substr(start);
}

void AppendLiteral(std::vector<ReplacementPart>& parts, char c) {
  if (parts.empty() || parts.back().group >= 0) parts.push_back({});
  parts.back().literal += c;
}

void AppendGroup(std::vector<ReplacementPart>& parts, int group) {
  parts.push_back({std::string(), group});
}

// Reads a group number of a "$N" or "\N" reference at `i`; returns -1 when none stands there.
int TakeGroupNumber(std::string_view raw, std::size_t& i) {
  if (i >= raw.size() || raw[i] < '0' || raw[i] > '9') return -1;
  int n = 0;
  while (i < raw.size() && raw[i] >= '0' && raw[i] <= '9') {
    if (n < 100000) n = n * 10 + (raw[i] - '0');
    ++i;
  }
  return n;
}

std::vector<ReplacementPart> ParseReplacement(std::string_view raw) {
  std::vector<ReplacementPart> parts;
  std::size_t i = 0;
  while (i < raw.size()) {
    char c = raw[i++];
    if (c == '\\' && i < raw.size()) {
      char e = raw[i];
      if (e >= '1' && e <= '9') {
        AppendGroup(parts, TakeGroupNumber(raw, i));
        continue;
      }
      ++i;
      switch (e) {
      case 'n': AppendLiteral(parts, '\n'); break;
      case 'r': AppendLiteral(parts, '\r'); break;
      case 't': AppendLiteral(parts, '\t'); break;
      default: AppendLiteral(parts, e); break; // \\, \$, \& and the escaped delimiter
      }
      continue;
    }
    if (c == '$' && i < raw.size()) {
      if (raw[i] == '&') {
        ++i;
        AppendGroup(parts, 0);
        continue;
      }
      if (raw[i] == '{') {
        std::size_t j = i + 1;
        int n = TakeGroupNumber(raw, j);
        if (n >= 0 && j < raw.size() && raw[j] == '}') {
          i = j + 1;
          AppendGroup(parts, n);
          continue;
        }
      }
      int n = TakeGroupNumber(raw, i);
      if (n >= 0) {
        AppendGroup(parts, n);
        continue;
      }
    }
    AppendLiteral(parts, c);
  }
  return parts;
}

RegexProgramPtr Build(RegexKind kind, std::string_view command) {
  std::size_t i = 0;
  if (kind == RegexKind::Subst) {
    if (command.empty() || command[0] != 's')
      Fail(std::string("not a ") + KindName(kind) + " command", command);
    i = 1;
  } else if (command.size() > 1 && command[0] == 'm' && !IsAlnum(command[1])) {
    i = 1;
  }
  if (i >= command.size() || IsAlnum(command[i]) || static_cast<unsigned char>(command[i]) <= 32 ||
      command[i] == '\\')
    Fail(std::string("not a ") + KindName(kind) + " command", command);
  char delimiter = command[i++];

  bool closed = false;
  std::string_view pattern = TakeDelimited(command, i, delimiter, closed);
  if (!closed) Fail("missing closing delimiter", command);
  std::string_view rawReplacement;
  if (kind == RegexKind::Subst) {
    rawReplacement = TakeDelimited(command, i, delimiter, closed);
    if (!closed) Fail("missing closing delimiter", command);
  }

  auto program = std::make_shared<RegexProgram>();
  uint32_t options = PCRE2_NEVER_UTF | PCRE2_NEVER_UCP;
  for (; i < command.size(); ++i) {
    switch (command[i]) {
    case 'i': options |= PCRE2_CASELESS; break;
    case 'm': options |= PCRE2_MULTILINE; break;
    case 's': options |= PCRE2_DOTALL; break;
    case 'x': options |= PCRE2_EXTENDED; break;
    case 'g': program->global = true; break;
    case 'k': case 'o': break;
    default: Fail(std::string("unknown flag ") + command[i], command);
    }
  }

  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  program->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                options, &errorCode, &errorOffset, nullptr);
  if (!program->code)
    Fail(EngineMessage(errorCode) + " at offset " + std::to_string(errorOffset), command);
  pcre2_jit_compile(program->code, PCRE2_JIT_COMPLETE); // falls back to the interpreter if refused
  program->matchData = pcre2_match_data_create_from_pattern(program->code, nullptr);
  if (!program->matchData) Fail("out of memory", command);
  uint32_t captures = 0;
  pcre2_pattern_info(program->code, PCRE2_INFO_CAPTURECOUNT, &captures);
  program->groupCount = static_cast<int>(captures) + 1;
  if (kind == RegexKind::Subst) program->replacement = ParseReplacement(rawReplacement);
  return program;
}

PCRE2_SPTR Subject(std::string_view text) {
  static const char kEmpty[1] = {0};
  return reinterpret_cast<PCRE2_SPTR>(text.data() ? text.data() : kEmpty);
}

// Runs one search; returns false on no match and throws on an engine failure.
bool Search(RegexProgram& program, std::string_view text, std::size_t offset, uint32_t options) {
  int rc = pcre2_match(program.code, Subject(text), text.size(), offset, options,
                       program.matchData, nullptr);
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  if (rc < 0) throw RegexError(EngineMessage(rc));
  return true;
}

} // namespace

RegexProgramPtr CompileRegexCommand(RegexKind kind, std::string_view command) {
  ProgramCache& cache = t_cache[static_cast<std::size_t>(kind)];
  if (auto found = cache.find(command); found != cache.end()) return found->second;
  RegexProgramPtr program = Build(kind, command);
  if (cache.size() >= kCacheLimit) cache.clear();
  cache.emplace(std::string(command), program);
  return program;
}

int RegexGroupCount(const RegexProgram& program) { return program.groupCount; }

bool RegexMatch(RegexProgram& program, std::string_view text, std::size_t offset,
                std::vector<RegexSpan>& groups) {
  groups.clear();
  if (offset > text.size() || !Search(program, text, offset, 0)) return false;
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(program.matchData);
  groups.resize(static_cast<std::size_t>(program.groupCount));
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (ov[2 * g] == PCRE2_UNSET) continue;
    groups[g].start = ov[2 * g];
    groups[g].end = ov[2 * g + 1];
  }
  return true;
}

bool RegexSubstitute(RegexProgram& program, std::string_view text, std::string& result) {
  std::string out;
  std::size_t copied = 0;
  std::size_t position = 0;
  uint32_t options = 0;
  bool replaced = false;
  while (position <= text.size() && Search(program, text, position, options)) {
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(program.matchData);
    std::size_t start = ov[0];
    std::size_t end = ov[1];
    out.append(text.substr(copied, start - copied));
    for (const ReplacementPart& part : program.replacement) {
      if (part.group < 0) {
        out += part.literal;
      } else if (part.group < program.groupCount && ov[2 * part.group] != PCRE2_UNSET) {
        std::size_t gs = ov[2 * part.group];
        out.append(text.substr(gs, ov[2 * part.group + 1] - gs));
      }
    }
    copied = end;
    replaced = true;
    if (!program.global) break;
    // After an empty match the next one may not be empty at the same place, or it would
    // repeat forever; a later empty match is fine.
    options = start == end ? PCRE2_NOTEMPTY_ATSTART : 0;
    position = end;
  }
  if (!replaced) return false;
  out.append(text.substr(copied));
  result = std::move(out);
  return true;
}

void RegexSplit(RegexProgram& program, std::string_view text, int limit,
                std::vector<RegexSpan>& pieces) {
  pieces.clear();
  if (text.empty()) return;
  std::size_t fieldStart = 0;
  while (limit <= 0 || pieces.size() + 1 < static_cast<std::size_t>(limit)) {
    // An empty separator right where the field begins would give an empty field, and
    // would never advance.
    if (fieldStart > text.size() || !Search(program, text, fieldStart, PCRE2_NOTEMPTY_ATSTART))
      break;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(program.matchData);
    pieces.push_back({fieldStart, ov[0]});
    fieldStart = ov[1];
  }
  pieces.push_back({fieldStart, text.size()});
  if (limit == 0)
    while (!pieces.empty() && pieces.back().start == pieces.back().end) pieces.pop_back();
}

} // namespace brova::platform
