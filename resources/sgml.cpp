#include "resources/sgml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/message_sink.h"
#include "platform/regex_engine.h"
#include "runtime/errors.h"
#include "runtime/translate.h"
#include "tools/path_functions.h"

namespace brova {
namespace {

const std::string kEmpty;

unsigned char AsciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool IsWhite(unsigned char c) { return c <= 32; }

bool IsIdentByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// A byte that begins a double-byte character; the byte after it belongs to it, whatever it is.
bool IsLeadByte(unsigned char c) { return (c >= 0x80 && c <= 0x9f) || c >= 0xe0; }

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Steps 1 to 4 of the scanner: the opening tag with its attributes. Null at the end of the
// text (cursor at the end) or on an end tag (cursor left on its "<"). `ended` tells that the
// text ran out inside the tag.
std::unique_ptr<TSGML> ReadOpenTag(TMarkupCursor& cursor, bool& ended) {
  const char* s = cursor.text.data();
  const std::size_t n = cursor.text.size();
  std::size_t& p = cursor.pos;
  ended = false;
  if (p >= n) {
    p = n;
    return nullptr;
  }
  const void* lt = std::memchr(s + p, '<', n - p);
  if (!lt) {
    p = n;
    return nullptr;
  }
  p = static_cast<std::size_t>(static_cast<const char*>(lt) - s);
  if (p + 1 < n && s[p + 1] == '/') return nullptr;
  ++p;

  auto element = std::make_unique<TSGML>();
  while (p < n && IsWhite(s[p])) ++p;
  std::size_t nameStart = p;
  while (p < n && IsIdentByte(s[p])) ++p;
  element->setTagName(std::string(s + nameStart, p - nameStart));

  std::string value;
  for (;;) {
    while (p < n && IsWhite(s[p])) ++p;
    if (p >= n) {
      ended = true;
      return element;
    }
    if (s[p] == '>') {
      ++p;
      if (!IsEmptyElementTag(element->getTagName())) element->makeSubItems();
      return element;
    }
    if (s[p] == '/') {
      p = p + 2 < n ? p + 2 : n;
      return element;
    }

    std::size_t attrStart = p;
    while (p < n) {
      unsigned char b = s[p];
      if (IsIdentByte(b))
        ++p;
      else if (IsLeadByte(b))
        p += 2;
      else
        break;
    }
    if (p > n) p = n;
    std::string name(s + attrStart, p - attrStart);

    const void* quote = std::memchr(s + p, '"', n - p);
    if (!quote) {
      p = n;
      ended = true;
      return element;
    }
    p = static_cast<std::size_t>(static_cast<const char*>(quote) - s) + 1;

    value.clear();
    for (;;) {
      std::size_t runStart = p;
      while (p < n && s[p] != '"' && s[p] != '%') ++p;
      value.append(s + runStart, p - runStart);
      if (p >= n) {
        ended = true;
        return element; // an attribute cut off by the end of the text is dropped
      }
      if (s[p] == '"') {
        ++p;
        break;
      }
      // A percent sign takes the next two bytes, even a closing quote.
      if (p + 2 >= n) {
        p = n;
        ended = true;
        return element;
      }
      int high = HexDigit(s[p + 1]);
      int low = HexDigit(s[p + 2]);
      value += static_cast<char>(high < 0 || low < 0 ? 0 : high * 16 + low);
      p += 3;
    }
    element->appendAttr(std::move(name), value);
  }
}

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
    case '%': out += "%25"; break;
    case '"': out += "%22"; break;
    case '<': out += "%3c"; break;
    case '>': out += "%3e"; break;
    default: out += c; break;
    }
  }
}

// The patterns of the single-tag reader, compiled once per thread.
struct TagPatterns {
  platform::RegexProgramPtr tag = platform::CompileRegexCommand(platform::RegexKind::Match,
                                                                "/<[^>]*>/");
  platform::RegexProgramPtr selfClosed =
      platform::CompileRegexCommand(platform::RegexKind::Match, "/\\/>$/");
  platform::RegexProgramPtr name =
      platform::CompileRegexCommand(platform::RegexKind::Match, "/<([\\w\\d]*)/");
  platform::RegexProgramPtr attr =
      platform::CompileRegexCommand(platform::RegexKind::Match, "/([\\w\\d]*)=\"([^\"]*)\"/");
  platform::RegexProgramPtr endTag =
      platform::CompileRegexCommand(platform::RegexKind::Match, "/^<\\/[^>]*>/");
};

TagPatterns& Patterns() {
  thread_local TagPatterns patterns;
  return patterns;
}

std::string_view SpanText(std::string_view text, const platform::RegexSpan& span) {
  return span.IsSet() ? text.substr(span.start, span.end - span.start) : std::string_view();
}

// The element of one tag text; tells whether children follow it.
std::unique_ptr<TSGML> ElementOfTag(std::string_view tagText, bool& readsChildren) {
  TagPatterns& patterns = Patterns();
  std::vector<platform::RegexSpan> groups;
  bool selfClosed = platform::RegexMatch(*patterns.selfClosed, tagText, 0, groups);
  if (!platform::RegexMatch(*patterns.name, tagText, 0, groups))
    throw EScriptError(Translate("Tag Error3"));
  auto element = std::make_unique<TSGML>(std::string(SpanText(tagText, groups[1])));
  std::size_t at = groups[0].end;
  while (platform::RegexMatch(*patterns.attr, tagText, at, groups)) {
    element->setAttr(SpanText(tagText, groups[1]), unescapeAttr(SpanText(tagText, groups[2])));
    at = groups[0].end;
  }
  readsChildren = !selfClosed && !IsEmptyElementTag(element->getTagName());
  if (readsChildren) element->makeSubItems();
  return element;
}

} // namespace

TSGML::~TSGML() {
  SubItems pending = std::move(subItems_);
  while (!pending.empty()) {
    std::unique_ptr<TSGML> node = std::move(pending.back());
    pending.pop_back();
    for (std::unique_ptr<TSGML>& child : node->subItems_) pending.push_back(std::move(child));
    node->subItems_.clear();
  }
}

const std::string& TSGML::getAttr(std::string_view name) const {
  for (const auto& [attrName, value] : attrs_)
    if (SameIgnoringCase(attrName, name)) return value;
  return kEmpty;
}

void TSGML::setAttr(std::string_view name, std::string_view value) {
  std::erase_if(attrs_, [&](const auto& attr) { return attr.first == name; });
  attrs_.emplace_back(std::string(name), std::string(value));
}

void TSGML::appendAttr(std::string name, std::string value) {
  attrs_.emplace_back(std::move(name), std::move(value));
}

const std::string& TSGML::attrName(int index) const {
  if (index < 0 || index >= attrCount()) return kEmpty;
  return attrs_[static_cast<std::size_t>(index)].first;
}

const std::string& TSGML::attrValue(int index) const {
  if (index < 0 || index >= attrCount()) return kEmpty;
  return attrs_[static_cast<std::size_t>(index)].second;
}

void TSGML::addSubItem(std::unique_ptr<TSGML> child) {
  hasSubItems_ = true;
  subItems_.push_back(std::move(child));
}

std::string TSGML::toMarkup(std::string_view prefix) const {
  std::string out;
  appendMarkup(out, prefix);
  return out;
}

void TSGML::appendMarkup(std::string& out, std::string_view prefix) const {
  std::string indent(prefix);
  // Writes the opening tag; true when children and an end tag follow.
  auto open = [&](const TSGML& e) {
    out += indent;
    out += '<';
    out += e.tagName_;
    for (const auto& [name, value] : e.attrs_) {
      if (name.empty() || value.empty()) continue;
      out += ' ';
      out += name;
      out += "=\"";
      AppendEscaped(out, value);
      out += '"';
    }
    if (e.subItems_.empty()) {
      out += "/>";
      return false;
    }
    out += ">\r\n";
    return true;
  };

  struct Frame {
    const TSGML* element;
    std::size_t next;
  };
  if (!open(*this)) return;
  std::vector<Frame> stack{{this, 0}};
  while (!stack.empty()) {
    const std::size_t depth = stack.size() - 1;
    Frame& top = stack.back();
    if (top.next < top.element->subItems_.size()) {
      const TSGML& child = *top.element->subItems_[top.next++];
      indent.resize(prefix.size() + depth + 1, ' ');
      if (open(child)) stack.push_back({&child, 0});
    } else {
      indent.resize(prefix.size() + depth, ' ');
      out += indent;
      out += "</";
      out += top.element->tagName_;
      out += '>';
      stack.pop_back();
    }
  }
}

bool IsEmptyElementTag(std::string_view tag) {
  return tag == "class" || tag == "globalvalue" || tag == "link" || tag == "generator" ||
         tag == "cpattern";
}

std::unique_ptr<TSGML> readElement(TMarkupCursor& cursor) {
  bool ended = false;
  std::unique_ptr<TSGML> root = ReadOpenTag(cursor, ended);
  if (!root || ended || !root->getSubItems()) return root;
  // Open elements are kept on a list instead of the call stack: nesting depth is whatever
  // the file holds.
  const char* s = cursor.text.data();
  const std::size_t n = cursor.text.size();
  std::vector<TSGML*> open{root.get()};
  while (!open.empty()) {
    std::unique_ptr<TSGML> child = ReadOpenTag(cursor, ended);
    if (child) {
      TSGML* raw = child.get();
      open.back()->addSubItem(std::move(child));
      if (ended) break;
      if (raw->getSubItems()) open.push_back(raw);
      continue;
    }
    if (cursor.pos >= n) break;
    // The end tag closes the open element whatever name it bears.
    const void* gt = std::memchr(s + cursor.pos, '>', n - cursor.pos);
    cursor.pos = gt ? static_cast<std::size_t>(static_cast<const char*>(gt) - s) + 1 : n;
    open.pop_back();
  }
  return root;
}

std::unique_ptr<TSGML> readElement(std::string_view text) {
  TMarkupCursor cursor{text, 0};
  return readElement(cursor);
}

std::unique_ptr<TSGML> parseTag(TMarkupCursor& cursor) {
  TagPatterns& patterns = Patterns();
  const std::string_view text = cursor.text;
  std::vector<platform::RegexSpan> found;
  if (cursor.pos > text.size() || !platform::RegexMatch(*patterns.tag, text, cursor.pos, found))
    throw EScriptError(Translate("Tag Error"));
  cursor.pos = found[0].end;
  bool readsChildren = false;
  std::unique_ptr<TSGML> root = ElementOfTag(SpanText(text, found[0]), readsChildren);
  if (!readsChildren) return root;

  std::vector<TSGML*> open{root.get()};
  std::vector<platform::RegexSpan> groups;
  while (!open.empty()) {
    if (!platform::RegexMatch(*patterns.tag, text, cursor.pos, found)) {
      // Every open element ends here; one message says so.
      platform::ShowMessage(Translate("invalid Tag : ") + std::string(text.substr(cursor.pos)));
      break;
    }
    std::string_view tagText = SpanText(text, found[0]);
    cursor.pos = found[0].end;
    if (platform::RegexMatch(*patterns.endTag, tagText, 0, groups)) {
      open.pop_back();
      continue;
    }
    std::unique_ptr<TSGML> child = ElementOfTag(tagText, readsChildren);
    TSGML* raw = child.get();
    open.back()->addSubItem(std::move(child));
    if (readsChildren) open.push_back(raw);
  }
  return root;
}

std::string escapeAttr(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text);
  return out;
}

std::string unescapeAttr(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      std::string_view code = text.substr(i + 1, 2);
      char c = 0;
      if (code == "3c")
        c = '<';
      else if (code == "3e")
        c = '>';
      else if (code == "22")
        c = '"';
      else if (code == "25")
        c = '%';
      if (c) {
        out += c;
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string readTextFile(const std::string& path) {
  std::string data;
  bool ok = false;
  int fd = ::open(ResolveExistingPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      data.resize(static_cast<std::size_t>(st.st_size));
      std::size_t got = 0;
      ok = true;
      while (got < data.size()) {
        ssize_t r = ::read(fd, data.data() + got, data.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
          ok = false;
          break;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
      }
      data.resize(got);
    }
    ::close(fd);
  }
  if (!ok) {
    std::string message = path + Translate(" is not found.");
    platform::ShowMessage(message);
    throw EMarkupFileError(message);
  }

  // Every line end (CR LF, LF or a lone CR) becomes CR LF, and the last line gets one too.
  std::string text;
  text.reserve(data.size() + data.size() / 32 + 2);
  const std::size_t n = data.size();
  std::size_t i = 0;
  while (i < n) {
    std::size_t runStart = i;
    while (i < n && data[i] != '\r' && data[i] != '\n') ++i;
    text.append(data, runStart, i - runStart);
    if (i >= n) {
      text += "\r\n";
      break;
    }
    if (data[i] == '\r' && i + 1 < n && data[i + 1] == '\n') ++i;
    ++i;
    text += "\r\n";
  }
  return text;
}

std::unique_ptr<TSGML> readMarkupFile(const std::string& path) {
  std::string text = readTextFile(path);
  std::unique_ptr<TSGML> element = readElement(text);
  if (element) return element;
  platform::ShowMessage(path + Translate(" holds no element; it is read as an empty list."));
  element = std::make_unique<TSGML>("resourcelist");
  element->makeSubItems();
  return element;
}

} // namespace brova
