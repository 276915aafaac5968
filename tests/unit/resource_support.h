// Shared pieces of the resource-tree tests: a fresh tree per test, a message log, scratch
// folders, and text with CR LF line ends.
#pragma once
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_sink.h"
#include "resources/alias_table.h"
#include "resources/resource_reader.h"
#include "resources/resource_tree.h"
#include "resources/snippet_evaluator.h"
#include "runtime/rtti.h"

namespace brova::testing {

// Every message shown while it lives.
class MessageLog {
public:
  MessageLog() {
    platform::SetMessageObserver([this](std::string_view t) { texts.emplace_back(t); });
  }
  ~MessageLog() { platform::SetMessageObserver({}); }
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  bool Has(std::string_view piece) const {
    for (const auto& t : texts)
      if (t.find(piece) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> texts;
};

// "\n" line ends turned into the CR LF the tree writes.
inline std::string Crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::filesystem::path& p, std::string_view bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

// Each test starts without a tree, hooks or base folder and leaves none behind.
class TreeTest : public ::testing::Test {
protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }

  // A scratch folder of this test, empty at first.
  std::filesystem::path Scratch() {
    if (scratch_.empty()) {
      const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
      scratch_ = std::filesystem::temp_directory_path() /
                 ("brova_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
                  std::to_string(::getpid()));
      std::filesystem::remove_all(scratch_);
      std::filesystem::create_directories(scratch_);
    }
    return scratch_;
  }

  // Makes the root from markup text read against `baseDir`.
  TResource* Root(std::string_view markup, const std::string& baseDir = "/") {
    SetResourceRoot(loadResourceText(Crlf(markup), baseDir));
    return ResourceRoot();
  }

private:
  void Reset() {
    SetResourceRoot(nullptr);
    SetResourceBaseDir("");
    SetClassCompiler(nullptr);
    SetSnippetEvaluator(nullptr);
    SetAliasRegistration(true);
    if (!scratch_.empty()) std::filesystem::remove_all(scratch_);
    scratch_.clear();
  }
  std::filesystem::path scratch_;
};

} // namespace brova::testing
