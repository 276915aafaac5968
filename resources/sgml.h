// The markup of every resource file: elements with attributes and nested elements, nothing
// else. Text is code-page bytes; Shift-JIS passes through attribute values untouched.
#pragma once
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brova {

class TSGML {
public:
  using SubItems = std::vector<std::unique_ptr<TSGML>>;

  TSGML() = default;
  explicit TSGML(std::string tagName) : tagName_(std::move(tagName)) {}
  TSGML(const TSGML&) = delete;
  TSGML& operator=(const TSGML&) = delete;
  // Frees the subtree without recursion, so a deeply nested file cannot exhaust the stack.
  ~TSGML();

  const std::string& getTagName() const { return tagName_; }
  void setTagName(std::string name) { tagName_ = std::move(name); }

  // The first attribute whose name equals `name` ignoring ASCII case; "" when none.
  const std::string& getAttr(std::string_view name) const;
  // Removes the attributes named exactly `name` (case counts) and appends the new entry.
  void setAttr(std::string_view name, std::string_view value);
  // Appends an entry as read from a file, even when the name is already there.
  void appendAttr(std::string name, std::string value);
  int attrCount() const { return static_cast<int>(attrs_.size()); }
  // Name and (unescaped) value of the attribute at `index`; "" out of range.
  const std::string& attrName(int index) const;
  const std::string& attrValue(int index) const;

  // Appends a child, creating the child list when it is absent.
  void addSubItem(std::unique_ptr<TSGML> child);
  // The child list; null for a self-closed element or an empty-element tag.
  SubItems* getSubItems() { return hasSubItems_ ? &subItems_ : nullptr; }
  const SubItems* getSubItems() const { return hasSubItems_ ? &subItems_ : nullptr; }
  // Creates the (empty) child list, as a separate end tag does.
  void makeSubItems() { hasSubItems_ = true; }

  // The element as markup text; children get `prefix` plus one space.
  std::string toMarkup(std::string_view prefix = {}) const;
  void appendMarkup(std::string& out, std::string_view prefix) const;

private:
  std::string tagName_;
  std::vector<std::pair<std::string, std::string>> attrs_;
  SubItems subItems_;
  bool hasSubItems_ = false;
};

// A reading position in a markup text; the readers advance `pos`.
struct TMarkupCursor {
  std::string_view text;
  std::size_t pos = 0;
};

// The tags that never have children nor an end tag (compared with case).
bool IsEmptyElementTag(std::string_view tag);

// Reads the next element at the cursor: null when the text holds no further "<", or when
// the cursor stands on an end tag (the cursor is then left on its "<"). A text that ends
// early gives the element read so far.
std::unique_ptr<TSGML> readElement(TMarkupCursor& cursor);
std::unique_ptr<TSGML> readElement(std::string_view text);

// Builds one element from a composed tag text. Throws EScriptError "Tag Error" when no tag
// follows the cursor; shows "invalid Tag : " and ends the element when an end tag is missing.
std::unique_ptr<TSGML> parseTag(TMarkupCursor& cursor);

// The attribute escapes: % " < > become %25 %22 %3c %3e, and back.
std::string escapeAttr(std::string_view text);
std::string unescapeAttr(std::string_view text);

// A markup file that cannot be read; its message has already been shown.
class EMarkupFileError : public std::runtime_error {
public:
  explicit EMarkupFileError(const std::string& text) : std::runtime_error(text) {}
};

// The file's lines, each followed by CR LF. The name is looked up ignoring letter case when
// it does not exist as written. A missing file shows its name and " is not found." and
// throws EMarkupFileError.
std::string readTextFile(const std::string& path);

// The first element of a resource file. A file with no element shows a message and gives an
// empty "resourcelist", so loaders see an empty list instead of nothing. Throws
// EMarkupFileError like readTextFile.
std::unique_ptr<TSGML> readMarkupFile(const std::string& path);

} // namespace brova
