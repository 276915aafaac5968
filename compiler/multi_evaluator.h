// The multi-statement evaluator: a script of many statements (page generation) that records
// in $_exec_checkPoint how many of its entries have completed, so a runtime error tells the
// last entry that ran.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace brova {

class TMultiEvaluator {
public:
  // Starts with the line "extends Object; $_exec_checkPoint=-1;".
  TMultiEvaluator();

  // Appends the statement, CR LF, and "$_exec_checkPoint=k;" where k counts the entries
  // added so far, this one included.
  void AddStatement(std::string_view text);
  // Writes the lines, each ended by CR LF; false when the file cannot be written.
  bool SaveTo(const std::string& path) const;

  const std::vector<std::string>& Lines() const { return lines_; }
  // The lines as SaveTo writes them.
  std::string Text() const;

private:
  std::vector<std::string> lines_;
};

} // namespace brova
