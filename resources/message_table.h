// The message table: English texts and their translations, read from Kernel/message.ini.
// Every message, caption and error text shown to the user is looked up here by its English
// text (compared ignoring case, leading and trailing spaces included).
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>

#include "runtime/text_case.h"

namespace brova {

class TMessageTable {
public:
  // Reads lines "English text=translation" (CR LF or LF ends); a missing file gives an
  // empty table. The first line of a text wins.
  void Load(const std::string& file);
  // The translation of `text`, or `text` itself when there is none or it is empty.
  std::string Translate(std::string_view text) const;
  size_t size() const { return entries_.size(); }

private:
  std::unordered_map<std::string, std::string, CaseInsensitiveHash, CaseInsensitiveEqual> entries_;
};

// The program's table, and its installation as the translator of runtime/translate.h.
TMessageTable& MessageTable();
void LoadMessageTable(const std::string& file);

} // namespace brova
