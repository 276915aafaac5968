#include "resources/message_table.h"

#include <fstream>

#include "runtime/translate.h"

namespace brova {

void TMessageTable::Load(const std::string& file) {
  entries_.clear();
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    entries_.try_emplace(line.substr(0, eq), line.substr(eq + 1));
  }
}

std::string TMessageTable::Translate(std::string_view text) const {
  auto it = entries_.find(text);
  if (it == entries_.end() || it->second.empty()) return std::string(text);
  return it->second;
}

TMessageTable& MessageTable() {
  static TMessageTable table;
  return table;
}

void LoadMessageTable(const std::string& file) {
  MessageTable().Load(file);
  SetTranslator([](std::string_view text) { return MessageTable().Translate(text); });
}

} // namespace brova
