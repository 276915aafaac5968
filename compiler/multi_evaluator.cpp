#include "compiler/multi_evaluator.h"

#include <fstream>

namespace brova {

TMultiEvaluator::TMultiEvaluator() : lines_{"extends Object; $_exec_checkPoint=-1;"} {}

void TMultiEvaluator::AddStatement(std::string_view text) {
  lines_.push_back(std::string(text) + "\r\n$_exec_checkPoint=" + std::to_string(lines_.size()) +
                   ";");
}

std::string TMultiEvaluator::Text() const {
  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

bool TMultiEvaluator::SaveTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << Text();
  out.close();
  return static_cast<bool>(out);
}

} // namespace brova
